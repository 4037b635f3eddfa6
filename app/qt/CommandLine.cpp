#include "app/qt/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace kestrel {

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes firmware into the flash of the Kestrel programming box."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Select the link: USB, COM1 to COM8, or a serial device path."),
                                        QStringLiteral("NAME"));
    parser.addOption(portOption);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Firmware file (.mot or .bin) to load."),
                                 QStringLiteral("[FILE]"));

    CommandLine result;
    const bool parsed = parser.parse(arguments);
    result.helpText = parser.helpText();
    if (!parsed) {
        result.error = parser.errorText();
        return result;
    }
    result.showHelp = parser.isSet(helpOption);
    result.showVersion = parser.isSet(versionOption);
    result.port = parser.value(portOption);
    if (parser.isSet(portOption) && result.port.isEmpty()) {
        result.error = QStringLiteral("The port name must not be empty.");
        return result;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        result.error = QStringLiteral("Only one firmware file can be loaded.");
        return result;
    }
    if (!files.isEmpty()) {
        result.file = QFileInfo(files.first()).absoluteFilePath();
    }
    return result;
}

}  // namespace kestrel
