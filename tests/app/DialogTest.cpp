#include <QContextMenuEvent>
#include <QMenu>
#include <QtTest>

#include "DialogTestSupport.h"
#include "app/qt/CAboutDlg.h"
#include "app/qt/CommandLine.h"
#include "app/qt/DialogTemplate.h"
#include "app/qt/DialogUnits.h"

using namespace kestrel;
namespace dt = kestrel::dialog_template;

class DialogTest : public QObject {
    Q_OBJECT
private slots:
    void StartsAsTheTemplateSays();
    void CommandLineBrowseAndTypingChooseWhatRuns();
    void TheContextMenuEntryOpensTheAboutBox();
};

// With the USB boxes and serial devices found offered after the fixed entries.
void DialogTest::StartsAsTheTemplateSays() {
    using SerialPortKind::UsbSerial;
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_";
    const SerialPortInfo builtin{.devicePath = "/dev/ttyS0"},  // COM1 to COM8 stand for it
        adapter{.kind = UsbSerial, .devicePath = "/dev/ttyUSB0", .byIdPath = byId + "A1B2C3-if00-port0"},
        other{.kind = UsbSerial, .devicePath = "/dev/ttyUSB1", .byIdPath = byId + "D4E5F6-if00-port0"};
    Ckestrel2Dlg dialog({builtin, adapter, other}, nullptr,
                        {{0, "Kestrel box", "KST-A", 0x0403, 0x6001}, {1, "", "", 0x0403, 0x6001}});
    DialogControls controls(dialog);
    controls.link->setCurrentIndex(4);  // shown, the dialog selects "USB" whatever was chosen
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    QCOMPARE(dialog.windowTitle(), QString("IXO V2718 Loader v1.1"));
    QCOMPARE(Entries(*controls.link).mid(0, 11), kFixedEntries + QStringList({"USB:KST-A", "USB:1"}));
    QCOMPARE(dialog.LinkName(), QString("USB"));
    // Long names are cut in the middle to fit the drop-down, keep their own ends apart, and are whole in the tip.
    for (const auto* port : {&adapter, &other}) {
        controls.link->setCurrentIndex(controls.link->findData(QString::fromStdString(port->byIdPath)));
        const QString shown = controls.link->currentText();
        QVERIFY2(controls.link->fontMetrics().horizontalAdvance(shown) < controls.link->width(), qPrintable(shown));
        QVERIFY2(
            shown.startsWith("/dev/serial/by-id/") && shown.endsWith(QString::fromStdString(port->byIdPath).right(16)),
            qPrintable(shown));
        QCOMPARE(controls.link->toolTip().section('\n', 0, 0), QString::fromStdString(port->byIdPath));
    }
    controls.link->setCurrentIndex(0);
    QVERIFY(!controls.start->isEnabled() && controls.browse->isEnabled());
    QVERIFY(controls.path->text().isEmpty() && controls.list->count() == 0);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    QCOMPARE(QApplication::focusWidget(), controls.browse);
    // Hidden "close" and disabled "Start download" are passed over.
    for (QWidget* next : QList<QWidget*>{controls.path, controls.link, controls.browse}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }

    // The controls are placed by dialog units, at any font.
    QFont font = dialog.font();
    font.setPointSize(14);
    dialog.setFont(font);
    const DialogBaseUnits base = MeasureDialogFont(dialog.font());
    QCOMPARE(controls.path->geometry(), DialogUnitsToPixels(dt::kPathField, base));
    QCOMPARE(controls.list->geometry(), DialogUnitsToPixels(dt::kStatusList, base));
    QCOMPARE(dialog.size(), DialogUnitsToPixels(dt::kMainClientWithProgress, base));
}

// The command line, a browse and typing each choose what the next run opens.
void DialogTest::CommandLineBrowseAndTypingChooseWhatRuns() {
    const auto parsed = ParseCommandLine({"kestrel-loader", "--port", "/dev/pts/7", "fw/demo.mot"});
    QCOMPARE(parsed.file, QDir::current().absoluteFilePath("fw/demo.mot"));

    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    QString answer, ran;
    QStringList folders;  // where each browse opened
    dialog.SetFileChooser([&answer, &folders](QWidget*, const QString& folder) {
        folders << folder;
        return answer;
    });
    dialog.SetDownloadRunner(
        [&ran](const std::string& link, const std::string& file, StatusList&, const SessionOptions&) {
            ran = QString::fromStdString(link + " " + file);
            return DownloadOutcome::Success;
        });
    QVERIFY(dialog.PreselectPort("com3"));
    dialog.show();
    QCOMPARE(dialog.LinkName(), QString("COM3"));  // also when shown
    QVERIFY(dialog.PreselectPort("COM12"));        // any port number, as kestrel-flash reads it
    QVERIFY(dialog.PreselectPort(parsed.port));
    QCOMPARE(Entries(*controls.link), kFixedEntries + QStringList({"COM12", "/dev/pts/7"}));

    QTest::keyClicks(controls.path, "/typed/by/hand.bin");
    QVERIFY2(!controls.start->isEnabled(), "typing does not enable the download");
    QTest::mouseClick(controls.browse, Qt::LeftButton);  // cancelled
    QCOMPARE(controls.path->text(), QString("/typed/by/hand.bin"));
    QVERIFY(!controls.start->isEnabled());
    answer = "/data/kestrel-demo.mot";
    QTest::mouseClick(controls.browse, Qt::LeftButton);
    QCOMPARE(controls.path->text(), answer);
    QVERIFY(controls.start->isEnabled());
    dialog.PreselectFile(parsed.file);
    QCOMPARE(dialog.FilePath(), parsed.file);

    controls.path->clear();
    QTest::keyClicks(controls.path, "/typed/over/it.mot");
    QSignalSpy ended(&dialog, &Ckestrel2Dlg::DownloadEnded);
    QTest::mouseClick(controls.start, Qt::LeftButton);
    QVERIFY(DownloadsEnded(ended, 1));
    QCOMPARE(ran, QString("/dev/pts/7 /typed/over/it.mot"));
    controls.path->setText(KESTREL_SAMPLES_DIR "/kestrel-demo.mot");
    QTest::mouseClick(controls.browse, Qt::LeftButton);
    QCOMPARE(folders, QStringList({"", "", KESTREL_SAMPLES_DIR}));  // a folder that is not there: the picker's own
}

void DialogTest::TheContextMenuEntryOpensTheAboutBox() {
    Ckestrel2Dlg dialog({}, nullptr);
    QStringList seen;
    dialog.SetAboutRunner(
        [&seen](CAboutDlg& about) { seen << about.windowTitle() << about.findChild<QLabel*>("aboutTitle")->text(); });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QStringList offered;
    QTimer::singleShot(0, &dialog, [&offered] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu != nullptr);
        for (QAction* action : menu->actions())
            offered << action->text();
        menu->actions().first()->trigger();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &event);

    QCOMPARE(offered, QStringList({QString::fromUtf8("&Info über IXO V2718 Loader..."), "Save log..."}));
    QTRY_COMPARE(seen, QStringList({"Info", "IXO V2718 Loader Version 1.0"}));
}

QTEST_MAIN(DialogTest)
#include "DialogTest.moc"
