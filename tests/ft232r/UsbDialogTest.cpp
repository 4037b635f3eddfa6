// The dialog's "USB" choice through the real libftdi1 into the modelled FT232R,
// which ctest preloads; the box's set-up is read at the first USB call. The
// image the box received is the CLI's test's to compare and the line settings
// the VM rig's: the download is the same.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "DialogTestSupport.h"

class UsbDialogTest : public QObject {
    Q_OBJECT
private slots:
    void FlashesTheBoxOnUsbAndGivesTheChipBack();
};

void UsbDialogTest::FlashesTheBoxOnUsbAndGivesTheChipBack() {
    const QString firmware = QStringLiteral(KESTREL_SAMPLES_DIR "/kestrel-demo.mot");
    QTemporaryDir dir;
    qputenv("KESTREL_FT232R_BOXES", "KST-D");
    qputenv("KESTREL_FT232R_RECORD", dir.filePath("record").toLocal8Bit());

    kestrel::Ckestrel2Dlg dialog;
    DialogControls controls(dialog);
    QVERIFY(dialog.PreselectPort("USB"));
    dialog.PreselectFile(firmware);
    dialog.show();
    QSignalSpy ended(&dialog, &kestrel::Ckestrel2Dlg::DownloadEnded);
    QTest::mouseClick(controls.start, Qt::LeftButton);
    QVERIFY(DownloadsEnded(ended, 1));
    QCOMPARE(controls.Lines().last(), QStringLiteral("FLASHING SUCCESSFULL"));

    QFile record(dir.filePath("record"));
    QVERIFY(record.open(QIODevice::ReadOnly));
    // Every open closed again, each chip given back to the kernel's driver (else "close tty-gone"). A download
    // that succeeded opened the chip at least once.
    const QStringList lines = QString::fromLatin1(record.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.count(QStringLiteral("close")), lines.count(QStringLiteral("open")));
}

QTEST_MAIN(UsbDialogTest)
#include "UsbDialogTest.moc"
