#include "app/qt/ScreenshotRun.h"

#include <cstdio>

#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include "app/qt/Ckestrel2Dlg.h"

namespace kestrel {

namespace {

void SaveAndClose(Ckestrel2Dlg& dialog, const QString& path) {
    if (!dialog.grab().save(path, "PNG")) {
        std::fprintf(stderr, "kestrel-loader: cannot write the screenshot %s\n", qPrintable(path));
    }
    dialog.accept();
}

}  // namespace

void ArrangeScreenshot(Ckestrel2Dlg& dialog, const QString& path) {
    QObject::connect(&dialog, &Ckestrel2Dlg::DownloadEnded, &dialog, [&dialog, path] { SaveAndClose(dialog, path); });
    // Runs once the dialog's own event loop does, that is once it is shown.
    QTimer::singleShot(0, &dialog, [&dialog, path] {
        const auto* start = dialog.findChild<QPushButton*>(QStringLiteral("startButton"));
        if (start != nullptr && start->isEnabled()) {
            dialog.OnStartDownload();
        } else {
            SaveAndClose(dialog, path);
        }
    });
}

}  // namespace kestrel
