#include <thread>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "DialogTestSupport.h"
#include "emulator/BoxServer.h"
#include "links/SerialLink.h"

using kestrel::Ckestrel2Dlg;
using kestrel::DownloadOutcome;
using namespace kestrel::emulator;

namespace {

// The emulated box on a pseudo-terminal, served on its own thread.
class RunningBox {
public:
    explicit RunningBox(BoxBehaviour behaviour) : server_(BoxModel(std::move(behaviour))) {
        started_ = server_.Start();
        if (started_) {
            thread_ = std::thread([this] { server_.Run(); });
        }
    }
    ~RunningBox() { Finish(); }
    bool Started() const { return started_; }
    QString Device() const { return QString::fromStdString(server_.DevicePath()); }
    const BoxModel& Finish() {
        if (thread_.joinable()) {
            server_.Stop();
            thread_.join();
        }
        return server_.Model();
    }

private:
    BoxServer server_;
    bool started_ = false;
    std::thread thread_;
};

// An S-record file for the flash window at 0xE0000: a header line, `dataLines`
// S2 lines of 32 bytes, the end line, CR LF after each. Checksums are not read.
QString WriteFirmware(const QTemporaryDir& dir, int dataLines) {
    QFile file(dir.filePath("firmware.mot"));
    if (!file.open(QIODevice::WriteOnly)) {
        return {};
    }
    file.write("S00600004B455300\r\n");
    for (int i = 0; i < dataLines; ++i) {
        const QByteArray address = QByteArray::number(0xE0000 + 32 * i, 16).rightJustified(6, '0');
        file.write("S224" + address + QByteArray(32, char(i)).toHex() + "00\r\n");
    }
    file.write("S804000000FB\r\n");
    return file.fileName();
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void FlashesTheBoxFromTheDialogTwice();
    void ClosingDuringADownloadCancelsItAndFreesThePort();
};

void EndToEndTest::FlashesTheBoxFromTheDialogTwice() {
    QTemporaryDir dir;
    const QString firmware = WriteFirmware(dir, 40);
    QVERIFY(!firmware.isEmpty());
    RunningBox box(BoxBehaviour{});
    QVERIFY(box.Started());

    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    QVERIFY(dialog.PreselectPort(box.Device()));
    dialog.PreselectFile(firmware);
    dialog.show();
    QSignalSpy ended(&dialog, &Ckestrel2Dlg::DownloadEnded);

    const QStringList expected{"Opening interface... ", "Loading sourcefile... ", "Analysing sourcefile... ",
                               "42 lines interpreted", "Building output data... ", "Waiting for synchronising ... ",
                               "Writing datalength... ", "Erasing flash... ", "Writing data... ",
                               "Reading data... ", "Verify data...", "FLASHING SUCCESSFULL"};
    for (int run = 1; run <= 2; ++run) {
        QTest::mouseClick(controls.start, Qt::LeftButton);
        QCOMPARE(controls.list->count(), 0);  // emptied at the press, before the download reports
        for (QWidget* input : controls.inputs) {
            QVERIFY2(!input->isEnabled(), qPrintable(input->objectName()));
        }
        QVERIFY(ended.wait(60000));
        QCOMPARE(controls.Lines(), expected);  // the second run starts from an empty list
        for (QWidget* input : controls.inputs) {
            QVERIFY2(input->isEnabled(), qPrintable(input->objectName()));
        }
        QCOMPARE(dialog.LastOutcome(), std::optional<DownloadOutcome>(DownloadOutcome::Success));
    }
    QCOMPARE(controls.progress->value(), controls.progress->maximum());
    const BoxModel& model = box.Finish();
    QCOMPARE(model.CompletedDownloads(), 2);
    QCOMPARE(model.LastVerdict(), std::uint8_t('S'));
}

void EndToEndTest::ClosingDuringADownloadCancelsItAndFreesThePort() {
    QTemporaryDir dir;
    const QString firmware = WriteFirmware(dir, 8);
    BoxBehaviour slowErase;
    slowErase.eraseMs = 60000;
    RunningBox box(slowErase);
    QVERIFY(box.Started());

    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    QVERIFY(dialog.PreselectPort(box.Device()));
    dialog.PreselectFile(firmware);
    QTimer::singleShot(0, &dialog, [&] { QTest::mouseClick(controls.start, Qt::LeftButton); });
    QTimer watch;
    connect(&watch, &QTimer::timeout, &dialog, [&] {
        if (controls.Lines().contains("Erasing flash... ")) {
            watch.stop();
            dialog.close();
        }
    });
    watch.start(10);
    QElapsedTimer sinceStart;
    sinceStart.start();
    dialog.exec();

    QVERIFY2(sinceStart.elapsed() < 30000, "the cancel ended the erase wait");
    QVERIFY(!dialog.DownloadRunning());
    QCOMPARE(dialog.LastOutcome(), std::optional<DownloadOutcome>(DownloadOutcome::Cancelled));
    QVERIFY(!controls.Lines().contains("FLASHING SUCCESSFULL"));

    kestrel::SerialLink link;
    QVERIFY2(link.Open(box.Device().toStdString(), 115200, 0, 2, 8), "the dialog's link was closed");
}

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
