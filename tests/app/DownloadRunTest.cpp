#include <atomic>
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

// A download that reports a line, then holds until released or cancelled,
// polling as the session does.
struct HeldDownload {
    std::atomic<bool> release{false};
    std::atomic<int> runs{0};

    kestrel::DownloadThread::Runner Runner() {
        return [this](const std::string&, const std::string&, StatusList& status, const SessionOptions& options) {
            status.AppendStatus("run " + std::to_string(++runs));
            status.RepaintNow();
            while (!release) {
                if (options.cancelRequested()) {
                    status.AppendStatus("Error: cancelled");
                    return DownloadOutcome::Cancelled;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            return DownloadOutcome::Success;
        };
    }
};

}  // namespace

class DownloadRunTest : public QObject {
    Q_OBJECT
private slots:
    void DestroyingTheWindowDuringARepaintDoesNotHang();
    void AnExceptionEndsTheRunWithAnErrorLine();
    void SaveLogWritesTheRecordOfTheLastDownload();
};

void DownloadRunTest::DestroyingTheWindowDuringARepaintDoesNotHang() {
    auto dialog = std::make_unique<Ckestrel2Dlg>(std::vector<kestrel::SerialPortInfo>{}, nullptr);
    std::atomic<int> repaints{0};
    dialog->SetDownloadRunner(
        [&repaints](const std::string&, const std::string&, StatusList& status, const SessionOptions& options) {
            while (!options.cancelRequested()) {
                status.RepaintNow();
                ++repaints;
            }
            return DownloadOutcome::Cancelled;
        });
    dialog->show();
    dialog->OnStartDownload();
    QTRY_VERIFY(repaints.load() > 3);
    // The download now waits for a paint this thread will never serve; a hang
    // here ends in ctest's time-out.
    dialog.reset();
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

void DownloadRunTest::SaveLogWritesTheRecordOfTheLastDownload() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    HeldDownload held;
    auto heldRun = held.Runner();
    // The image is announced as a session announces it once built.
    dialog.SetDownloadRunner([&heldRun](const std::string& link, const std::string& file, StatusList& status,
                                        const SessionOptions& options) {
        const std::uint8_t image[] = {'a', 'b', 'c'};
        options.imageReady(image, sizeof image, 1);
        return heldRun(link, file, status, options);
    });
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("kestrel.log"));
    dialog.SetLogFileChooser([&logPath](QWidget*) { return logPath; });
    dialog.PreselectFile("/tmp/kestrel-demo.mot");
    dialog.show();
    QSignalSpy ended(&dialog, &Ckestrel2Dlg::DownloadEnded);
    QVERIFY(!dialog.SaveLogAction()->isEnabled());  // nothing to save yet

    QTest::mouseClick(controls.start, Qt::LeftButton);
    QTRY_COMPARE(controls.Lines(), QStringList("run 1"));
    QVERIFY(!dialog.SaveLogAction()->isEnabled());  // not while the record is being written
    held.release = true;
    QVERIFY(ended.wait(5000));
    QVERIFY(dialog.SaveLogAction()->isEnabled());
    dialog.SaveLogAction()->trigger();
    dialog.SaveLogAction()->trigger();  // a log grows by a record each time

    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QCOMPARE(text.count(QStringLiteral("=== ")), 2);
    QVERIFY2(text.contains(QStringLiteral("port: USB\n")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("file: /tmp/kestrel-demo.mot\n")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral(
                 "image: 3 bytes, sha256 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("\"run 1\"\n")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("result: success, exit 0, ")), qPrintable(text));
}

QTEST_MAIN(DownloadRunTest)
#include "DownloadRunTest.moc"
