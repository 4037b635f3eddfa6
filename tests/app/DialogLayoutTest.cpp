#include <QtTest>

#include "DialogTestSupport.h"
#include "app/DialogTemplate.h"
#include "app/DialogUnits.h"

using kestrel::Ckestrel2Dlg;
using kestrel::DialogBaseUnits;
using kestrel::DialogUnitsToPixels;
namespace dt = kestrel::dialog_template;

class DialogLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void StartsAsTheTemplateSays();
    void PlacesControlsByDialogUnitsAtAnyFont();
    void TabsThroughTheTemplatesStops();
    void OffersTheBoxesAndDevicesFoundAfterTheFixedEntries();
};

void DialogLayoutTest::StartsAsTheTemplateSays() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    controls.link->setCurrentIndex(4);  // shown, the dialog selects "USB" whatever was chosen
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    QCOMPARE(dialog.windowTitle(), QString("IXO V2718 Loader v1.1"));
    QCOMPARE(Entries(*controls.link), kFixedEntries);
    QCOMPARE(dialog.LinkName(), QString("USB"));
    QVERIFY(!controls.start->isEnabled() && controls.browse->isEnabled());
    QVERIFY(controls.path->text().isEmpty() && controls.list->count() == 0);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    controls.link->setCurrentIndex(8);
    dialog.hide();
    dialog.show();
    QCOMPARE(dialog.LinkName(), QString("USB"));
}

void DialogLayoutTest::PlacesControlsByDialogUnitsAtAnyFont() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    for (const int pointSize : {8, 14}) {
        QFont font = dialog.font();
        font.setPointSize(pointSize);
        dialog.setFont(font);
        const DialogBaseUnits base = kestrel::MeasureDialogFont(dialog.font());
        QCOMPARE(controls.path->geometry(), DialogUnitsToPixels(dt::kPathField, base));
        QCOMPARE(controls.browse->geometry(), DialogUnitsToPixels(dt::kBrowseButton, base));
        QCOMPARE(controls.start->geometry(), DialogUnitsToPixels(dt::kStartButton, base));
        QCOMPARE(controls.list->geometry(), DialogUnitsToPixels(dt::kStatusList, base));
        QCOMPARE(controls.link->pos(), DialogUnitsToPixels(dt::kLinkDropDown, base).topLeft());
        QCOMPARE(dialog.size(), DialogUnitsToPixels(dt::kMainClientWithProgress, base));
        // The added bar is below the list and inside the window.
        QVERIFY(controls.progress->geometry().top() > controls.list->geometry().bottom());
        QVERIFY(dialog.rect().contains(controls.progress->geometry()));
    }
}

void DialogLayoutTest::TabsThroughTheTemplatesStops() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), controls.browse);
    const auto tabs = [](int count) {
        QList<QWidget*> visited;
        for (int i = 0; i < count; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        return visited;
    };
    // Hidden "close" and disabled "Start download" are passed over.
    QCOMPARE(tabs(3), (QList<QWidget*>{controls.path, controls.link, controls.browse}));
    dialog.PreselectFile("/tmp/any.mot");
    QCOMPARE(tabs(4), (QList<QWidget*>{controls.path, controls.start, controls.link, controls.browse}));
}

void DialogLayoutTest::OffersTheBoxesAndDevicesFoundAfterTheFixedEntries() {
    kestrel::SerialPortInfo builtin;  // COM1 to COM8 stand for it
    builtin.devicePath = "/dev/ttyS0";
    kestrel::SerialPortInfo adapter;
    adapter.kind = kestrel::SerialPortKind::UsbSerial;
    adapter.devicePath = "/dev/ttyUSB0";
    adapter.byIdPath = "/dev/serial/by-id/usb-FTDI_X-if00-port0";
    const std::vector<kestrel::UsbDeviceInfo> boxes{{0, "Kestrel box", "KST-A", 0x0403, 0x6001},
                                                    {1, "", "", 0x0403, 0x6001}};
    Ckestrel2Dlg dialog({builtin, adapter}, nullptr, boxes);
    DialogControls controls(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    const QStringList found{"USB:KST-A", "USB:1", "/dev/serial/by-id/usb-FTDI_X-if00-port0"};
    QCOMPARE(Entries(*controls.link), kFixedEntries + found);
    QCOMPARE(dialog.LinkName(), QString("USB"));
    controls.link->setCurrentIndex(9);
    QCOMPARE(dialog.LinkName(), QString("USB:KST-A"));
    QCOMPARE(controls.link->toolTip(), QString("Kestrel box (serial KST-A), USB device 0"));
}

QTEST_MAIN(DialogLayoutTest)
#include "DialogLayoutTest.moc"
