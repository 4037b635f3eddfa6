#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

#include "session/Version.h"
#include "station-app/StationCommandLine.h"
#include "station-app/qt/StationWindow.h"

namespace {

std::vector<std::string> Arguments(int argc, char** argv) { return {argv + (argc > 0 ? 1 : 0), argv + argc}; }

// A signal only writes a byte; the window's thread reads it and ends the lot as a close would.
int signalPipe[2] = {-1, -1};

extern "C" void OnEndSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(signalPipe[1], &byte, 1);
}

bool CatchEndSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel::stationapp;
    // Help, the version and a wrong command line need no display.
    const StationCommandLine commandLine = ParseStationCommandLine(Arguments(argc, argv));
    if (!commandLine.error.empty()) {
        std::fprintf(stderr, "kestrel-station: %s\n", commandLine.error.c_str());
        return 2;
    }
    if (commandLine.showHelp) {
        std::fputs(commandLine.helpText.c_str(), stdout);
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
    // Ctrl-C, a request to end or a closed terminal: every running download is
    // cancelled and its result recorded, then the station ends with status 9.
    if (CatchEndSignals()) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
            window.EndLot();
            QApplication::exit(9);
        });
    }
    window.resize(1100, 760);
    window.show();
    if (commandLine.count > 0) {
        QObject::connect(&window, &StationWindow::LotFinished, &app, [&](int status) {
            if (!commandLine.screenshot.empty()) {
                window.grab().save(QString::fromStdString(commandLine.screenshot));
            }
            QApplication::exit(status);
        });
    }
    if (!commandLine.firmware.empty()) {
        QTimer::singleShot(0, &window, [&] {
            if (!window.StartLot() && commandLine.count > 0) {
                std::fprintf(stderr, "kestrel-station: the lot cannot start: %s\n", qPrintable(window.Message()));
                QApplication::exit(2);
            }
        });
    }
    return QApplication::exec();
}
