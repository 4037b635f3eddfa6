#include "station-app/qt/StationCommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "session/LinkNames.h"

namespace kestrel::stationapp {

StationCommandLine ParseStationCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Flashes every Kestrel box plugged in on a production line, and counts the lot."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    const auto value = [](const char* name, const char* text, const char* valueName) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text), QString::fromLatin1(valueName));
    };
    const QCommandLineOption firmware = value("firmware", "The firmware file (.mot or .bin); starts the lot.", "FILE");
    const QCommandLineOption port =
        value("port",
              "A serial port to watch, by its device path, which holds a / (/dev/ttyUSB0, ./A); each box that "
              "appears on it is flashed. Repeatable.",
              "NAME");
    const QCommandLineOption allUsb(QStringLiteral("all-usb"), QStringLiteral("Flash every USB box attached."));
    const QCommandLineOption log = value("log", "Append a record of each download to this file.", "LOGFILE");
    const QCommandLineOption database =
        value("db",
              "Also send every record to this PostgreSQL database (a connection URI or keyword string; also "
              "KESTREL_DB); the log, or records.log under $XDG_STATE_HOME/kestrel, keeps them while it cannot be "
              "reached.",
              "URL");
    const QCommandLineOption who = value("operator", "Who flashes, in every record.", "NAME");
    const QCommandLineOption where = value("station", "The station's name, in every record.", "NAME");
    const QCommandLineOption lot = value("lot", "The lot, in every record.", "ID");
    const QCommandLineOption approved =
        value("approved", "A SHA-256 manifest; firmware not listed in it is not flashed.", "MANIFEST");
    const QCommandLineOption count =
        value("count", "End the lot after N boxes; exit 0 when all passed, 1 otherwise.", "N");
    const QCommandLineOption screenshot = value("screenshot", "Save a picture of the window as the lot ends.", "PNG");
    parser.addOptions(
        {help, version, firmware, port, allUsb, log, database, who, where, lot, approved, count, screenshot});

    StationCommandLine result;
    const bool parsed = parser.parse(arguments);
    // Without a QCoreApplication yet, Qt knows no program name and writes a placeholder.
    result.helpText = parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("kestrel-station"));
    if (!parsed) {
        result.error = parser.errorText();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error = QStringLiteral("Unexpected argument: ") + parser.positionalArguments().first();
        return result;
    }
    result.showHelp = parser.isSet(help);
    result.showVersion = parser.isSet(version);
    if (parser.isSet(firmware)) {
        result.firmware = QFileInfo(parser.value(firmware)).absoluteFilePath();
    }
    result.ports = parser.values(port);
    result.allUsb = parser.isSet(allUsb);
    result.logFile = parser.value(log);
    result.database = parser.isSet(database) ? parser.value(database) : qEnvironmentVariable("KESTREL_DB");
    result.operatorName = parser.value(who);
    result.stationName = parser.value(where);
    result.lot = parser.value(lot);
    result.operatorGiven = parser.isSet(who);
    result.stationGiven = parser.isSet(where);
    result.lotGiven = parser.isSet(lot);
    result.approved = parser.value(approved);
    result.screenshot = parser.value(screenshot);
    if (parser.isSet(count)) {
        bool ok = false;
        result.count = parser.value(count).toInt(&ok);
        if (!ok || result.count < 1) {
            result.error = QStringLiteral("--count takes a number of boxes, 1 or more.");
        }
    }
    if (result.ports.contains(QString())) {
        result.error = QStringLiteral("The port name must not be empty.");
    }
    for (const QString& name : result.ports) {
        if (const std::string problem = PortNameProblem(name.toStdString()); !problem.empty() && !name.isEmpty()) {
            result.error = QString::fromStdString(problem);
        }
    }
    if (result.ports.removeDuplicates() != 0) {
        result.error = QStringLiteral("A port is given twice.");
    }
    return result;
}

}  // namespace kestrel::stationapp
