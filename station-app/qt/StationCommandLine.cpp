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
    const QCommandLineOption serialAt = value("serial-at",
                                              "Write each box's own serial number or unit data row here: an address in "
                                              "0xE0000..0xFFFFF (.mot), a byte offset past the 30-byte header (.bin).",
                                              "ADDRESS");
    const QCommandLineOption serialFormat = value("serial-format", "u32le (the default), u32be or ascii:N.", "FORMAT");
    const QCommandLineOption serialCounter =
        value("serial-counter", "The file that holds the next serial number; each box takes one.", "FILE");
    const QCommandLineOption serialFirst = value("serial-first", "The first number, when the counter is made.", "N");
    const QCommandLineOption unitData = value("unit-data", "One row of hex bytes per unit, used in order.", "FILE");
    parser.addOptions({help, version, firmware, port, allUsb, log, database, who, where, lot, approved, count,
                       screenshot, serialAt, serialFormat, serialCounter, serialFirst, unitData});

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
    if (parser.isSet(serialAt)) {
        bool ok = false;
        result.units.fieldAt = parser.value(serialAt).toUInt(&ok, 0);
        result.units.counter = parser.value(serialCounter).toStdString();
        result.units.unitData = parser.value(unitData).toStdString();
        result.units.first = parser.isSet(serialFirst) ? parser.value(serialFirst).toULongLong(&ok) : 1;
        const std::string format = parser.isSet(serialFormat) ? parser.value(serialFormat).toStdString() : "u32le";
        if (const std::string wrong = ParseSerialFormat(format, result.units.format); !wrong.empty()) {
            result.error = QString::fromStdString(wrong);
        } else if (!ok) {
            result.error = QStringLiteral("--serial-at takes an address, --serial-first a number.");
        } else if (result.units.counter.empty() == result.units.unitData.empty()) {
            result.error = QStringLiteral("--serial-at takes one of --serial-counter and --unit-data.");
        }
    } else if (parser.isSet(serialCounter) || parser.isSet(unitData)) {
        result.error = QStringLiteral("--serial-counter and --unit-data need --serial-at.");
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
