#include "app/qt/Ckestrel2App.h"

#include <cstdio>

#include <QFileInfo>

#include "app/qt/Ckestrel2Dlg.h"
#include "app/qt/CommandLine.h"
#include "app/qt/ScreenshotRun.h"
#include "app/qt/WindowPlacement.h"
#include "session/Version.h"

namespace kestrel {

namespace {

constexpr int kUsageError = 2;
constexpr int kNoDisplay = 1;

int Refuse(const QString& message, const QString& usage) {
    std::fprintf(stderr, "kestrel-loader: %s\n\n%s", qPrintable(message), qPrintable(usage));
    return kUsageError;
}

}  // namespace

std::optional<int> AnswerWithoutWindow(int& argc, char** argv) {
    // A plain core application parses the command line: a graphical one would
    // end the process when no display can be opened.
    const QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationVersion(QString::fromUtf8(kToolVersion));
    const CommandLine commandLine = ParseCommandLine(QCoreApplication::arguments());
    if (!commandLine.error.isEmpty()) {
        return Refuse(commandLine.error, commandLine.helpText);
    }
    if (commandLine.showHelp) {
        std::fputs(qPrintable(commandLine.helpText), stdout);
        return 0;
    }
    if (commandLine.showVersion) {
        std::printf("kestrel-loader %s\n", kToolVersion);
        return 0;
    }
    if (!commandLine.file.isEmpty() && QFileInfo(commandLine.file).isDir()) {
        return Refuse(QStringLiteral("not a firmware file: %1 is a directory").arg(commandLine.file),
                      commandLine.helpText);
    }
    if (!commandLine.file.isEmpty() && !QFileInfo(commandLine.file).isFile()) {
        return Refuse(QStringLiteral("no such file: ") + commandLine.file, commandLine.helpText);
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("kestrel-loader: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
                   stderr);
        return kNoDisplay;
    }
    return std::nullopt;
}

Ckestrel2App::Ckestrel2App(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationVersion(QString::fromUtf8(kToolVersion));
}

int Ckestrel2App::Run() {
    // The store's name only; the tool keeps no settings in it.
    setOrganizationName(QString::fromUtf8("Vom lokalen Anwendungs-Assistenten generierte Anwendungen"));

    // The command line was checked before this application was made.
    const CommandLine commandLine = ParseCommandLine(arguments());

    Ckestrel2Dlg dialog;
    if (!commandLine.port.isEmpty() && !dialog.PreselectPort(commandLine.port)) {
        return Refuse(QStringLiteral("unknown port %1 (USB, COM1 to COM8 or a device path)").arg(commandLine.port),
                      commandLine.helpText);
    }
    if (!commandLine.file.isEmpty()) {
        dialog.PreselectFile(commandLine.file);
    }
    const QString screenshot = qEnvironmentVariable("KESTREL_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        ArrangeScreenshot(dialog, screenshot);
    }
    CentreOnScreen(dialog);
    dialog.exec();  // OK or Cancel: either way the tool ends
    return 0;
}

}  // namespace kestrel
