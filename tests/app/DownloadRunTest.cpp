#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include <QSignalSpy>
#include <QtTest>

#include "DialogTestSupport.h"

using kestrel::Ckestrel2Dlg;
using kestrel::DownloadOutcome;
using kestrel::SessionOptions;
using kestrel::StatusList;

namespace {

// A download that reports one line and then holds until the test releases it
// or the user cancels, polling as the session does.
struct HeldDownload {
    std::atomic<bool> release{false};
    std::atomic<bool> sawCancel{false};
    std::atomic<int> runs{0};

    kestrel::DownloadThread::Runner Runner() {
        return [this](const std::string&, const std::string&, StatusList& status, const SessionOptions& options) {
            const int run = ++runs;
            status.Clear();
            status.AppendStatus("run " + std::to_string(run));
            status.RepaintNow();
            status.Progress(kestrel::ProgressStage::WritingData, 30, 120);
            while (!release.load()) {
                if (options.cancelRequested && options.cancelRequested()) {
                    sawCancel = true;
                    status.AppendStatus("Error: cancelled");
                    return DownloadOutcome::Cancelled;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            return DownloadOutcome::Success;
        };
    }
};

void Press(DialogControls& controls) {
    QVERIFY(controls.start->isEnabled());
    QTest::mouseClick(controls.start, Qt::LeftButton);
}

}  // namespace

class DownloadRunTest : public QObject {
    Q_OBJECT
private slots:
    void InputsRestWhileTheDownloadRunsAndEachRunStartsEmpty();
    void ClosingDuringADownloadCancelsItAndThenCloses();
    void DestroyingTheWindowDuringARepaintDoesNotHang();
    void AnExceptionEndsTheRunWithAnErrorLine();
};

void DownloadRunTest::InputsRestWhileTheDownloadRunsAndEachRunStartsEmpty() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    HeldDownload held;
    dialog.SetDownloadRunner(held.Runner());
    dialog.PreselectFile("/tmp/kestrel-demo.mot");
    dialog.show();
    QSignalSpy ended(&dialog, &Ckestrel2Dlg::DownloadEnded);

    Press(controls);
    QTRY_COMPARE(controls.Lines(), QStringList("run 1"));
    QVERIFY(dialog.DownloadRunning());
    for (QWidget* input : {static_cast<QWidget*>(controls.start), static_cast<QWidget*>(controls.browse),
                           static_cast<QWidget*>(controls.path), static_cast<QWidget*>(controls.link)}) {
        QVERIFY2(!input->isEnabled(), qPrintable(input->objectName()));
    }
    QTRY_COMPARE(controls.progress->value(), 30);
    dialog.OnStartDownload();  // a second start while one runs is ignored
    held.release = true;
    QVERIFY(ended.wait(5000));
    QCOMPARE(held.runs.load(), 1);
    QCOMPARE(dialog.LastOutcome(), std::optional<DownloadOutcome>(DownloadOutcome::Success));
    for (QWidget* input : {static_cast<QWidget*>(controls.start), static_cast<QWidget*>(controls.browse),
                           static_cast<QWidget*>(controls.path), static_cast<QWidget*>(controls.link)}) {
        QVERIFY2(input->isEnabled(), qPrintable(input->objectName()));
    }
    QCOMPARE(controls.Lines(), QStringList("run 1"));

    Press(controls);
    QCOMPARE(controls.list->count(), 0);  // emptied at the press, before the download reports
    QVERIFY(ended.wait(5000));
    QCOMPARE(controls.Lines(), QStringList("run 2"));
}

void DownloadRunTest::ClosingDuringADownloadCancelsItAndThenCloses() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    HeldDownload held;
    dialog.SetDownloadRunner(held.Runner());
    dialog.PreselectFile("/tmp/kestrel-demo.mot");
    QSignalSpy finished(&dialog, &QDialog::finished);
    QTimer::singleShot(0, &dialog, [&] {
        Press(controls);
        QTimer::singleShot(20, &dialog, [&] { dialog.close(); });
    });
    const int result = dialog.exec();

    QVERIFY(held.sawCancel.load());
    QVERIFY(!dialog.DownloadRunning());
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(controls.Lines(), QStringList({"run 1", "Error: cancelled"}));
    QCOMPARE(dialog.LastOutcome(), std::optional<DownloadOutcome>(DownloadOutcome::Cancelled));
}

void DownloadRunTest::DestroyingTheWindowDuringARepaintDoesNotHang() {
    auto dialog = std::make_unique<Ckestrel2Dlg>(std::vector<kestrel::SerialPortInfo>{}, nullptr);
    std::atomic<int> repaints{0};
    dialog->SetDownloadRunner([&repaints](const std::string&, const std::string&, StatusList& status,
                                          const SessionOptions& options) {
        while (!options.cancelRequested()) {
            status.AppendStatus("painting");
            status.RepaintNow();
            ++repaints;
        }
        return DownloadOutcome::Cancelled;
    });
    dialog->show();
    dialog->OnStartDownload();
    QTRY_VERIFY(repaints.load() > 3);
    // Now the download waits for a paint that this thread will not serve any more.
    dialog.reset();
    QVERIFY(repaints.load() > 3);
}

void DownloadRunTest::AnExceptionEndsTheRunWithAnErrorLine() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    dialog.SetDownloadRunner(
        [](const std::string&, const std::string&, StatusList& status, const SessionOptions&) -> DownloadOutcome {
            status.AppendStatus("Opening interface... ");
            throw std::runtime_error("link vanished");
        });
    dialog.PreselectFile("/tmp/kestrel-demo.mot");
    QSignalSpy ended(&dialog, &Ckestrel2Dlg::DownloadEnded);
    dialog.OnStartDownload();
    QVERIFY(ended.wait(5000));
    QCOMPARE(controls.Lines(), QStringList({"Opening interface... ", "Error: link vanished"}));
    QVERIFY(!dialog.LastOutcome().has_value());
    QVERIFY(controls.start->isEnabled());
}

QTEST_MAIN(DownloadRunTest)
#include "DownloadRunTest.moc"
