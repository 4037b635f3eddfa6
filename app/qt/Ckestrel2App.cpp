#include "app/qt/Ckestrel2App.h"

#include <cstdio>

#include <QFileInfo>

#include "app/qt/Ckestrel2Dlg.h"
#include "app/qt/CommandLine.h"
#include "app/qt/ScreenshotRun.h"
#include "session/Version.h"

namespace kestrel {

namespace {

constexpr int kUsageError = 2;

int Refuse(const QString& message, const QString& usage) {
    std::fprintf(stderr, "kestrel-loader: %s\n\n%s", qPrintable(message), qPrintable(usage));
    return kUsageError;
}

}  // namespace

Ckestrel2App::Ckestrel2App(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationVersion(QString::fromUtf8(kToolVersion));
}

int Ckestrel2App::Run() {
    // The store's name only; the tool keeps no settings in it.
    setOrganizationName(QString::fromUtf8("Vom lokalen Anwendungs-Assistenten generierte Anwendungen"));

    const CommandLine commandLine = ParseCommandLine(arguments());
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
    if (!commandLine.file.isEmpty() && !QFileInfo(commandLine.file).isFile()) {
        return Refuse(QStringLiteral("no such file: ") + commandLine.file, commandLine.helpText);
    }

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
    dialog.exec();  // OK or Cancel: either way the tool ends
    return 0;
}

}  // namespace kestrel
