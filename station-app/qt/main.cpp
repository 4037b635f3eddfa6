#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "session/Version.h"
#include "station-app/qt/StationCommandLine.h"
#include "station-app/qt/StationWindow.h"

namespace {

QStringList Arguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel::stationapp;
    // Help, the version and a wrong command line need no display.
    const StationCommandLine commandLine = ParseStationCommandLine(Arguments(argc, argv));
    if (!commandLine.error.isEmpty()) {
        std::fprintf(stderr, "kestrel-station: %s\n", qPrintable(commandLine.error));
        return 2;
    }
    if (commandLine.showHelp) {
        std::fputs(qPrintable(commandLine.helpText), stdout);
        return 0;
    }
    if (commandLine.showVersion) {
        std::printf("kestrel-station %s\n", kestrel::kToolVersion);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrel"));
    QApplication::setApplicationName(QStringLiteral("kestrel-station"));
    StationWindow window(commandLine);
    window.resize(1100, 760);
    window.show();
    if (commandLine.count > 0) {
        QObject::connect(&window, &StationWindow::LotFinished, &app, [&](int status) {
            if (!commandLine.screenshot.isEmpty()) {
                window.grab().save(commandLine.screenshot);
            }
            QApplication::exit(status);
        });
    }
    if (!commandLine.firmware.isEmpty()) {
        bool started = false;
        QTimer::singleShot(0, &window, [&] {
            started = window.StartLot();
            if (!started && commandLine.count > 0) {
                std::fprintf(stderr, "kestrel-station: the lot cannot start: %s\n", qPrintable(window.Message()));
                QApplication::exit(2);
            }
        });
    }
    return QApplication::exec();
}
