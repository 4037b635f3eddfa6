#include <QtTest>

#include "DialogTestSupport.h"
#include "app/DialogTemplate.h"
#include "app/DialogUnits.h"

using kestrel::Ckestrel2Dlg;
namespace dt = kestrel::dialog_template;

class DialogLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void StartsAsTheTemplateSays();
    void PlacesControlsByDialogUnitsAtAnyFont();
    void TabsThroughTheTemplatesStops();
    void OffersFoundUsbDevicesAfterTheFixedEntries();
};

void DialogLayoutTest::StartsAsTheTemplateSays() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    controls.link->setCurrentIndex(4);  // shown, the dialog selects "USB" whatever was chosen before
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(dialog.windowTitle(), QString("IXO V2718 Loader v1.1"));
    QCOMPARE(controls.Entries(), FixedEntries());
    QCOMPARE(controls.link->currentText(), QString("USB"));
    QCOMPARE(dialog.LinkName(), QString("USB"));
    QVERIFY(!controls.link->isEditable());
    QVERIFY(!controls.start->isEnabled());
    QCOMPARE(controls.start->text(), QString("Start download"));
    QCOMPARE(controls.browse->text(), QString("..."));
    QVERIFY(controls.browse->isEnabled());
    QVERIFY(controls.path->text().isEmpty());
    QVERIFY(!controls.path->isReadOnly());
    QCOMPARE(controls.list->count(), 0);
    QVERIFY(!controls.close->isVisible());
    // A focused button is the default while it has the focus; elsewhere "close" is.
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    controls.path->setFocus();
    QVERIFY(controls.close->isDefault());
    QCOMPARE(controls.close->text(), QString("close"));
    QVERIFY(!controls.picture->pixmap().isNull());
    QVERIFY(!dialog.windowIcon().isNull());

    QStringList labels;
    for (const char* name : {"loadLabel", "selectLabel", "startLabel"}) {
        labels << DialogControls::Find<QLabel>(dialog, name)->text();
    }
    QCOMPARE(labels, QStringList({"1. Load firmware", "2. Select COM or USB", "3. Start download"}));

    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());

    // Hidden and shown again: "USB" once more.
    controls.link->setCurrentIndex(8);
    dialog.hide();
    dialog.show();
    QCOMPARE(controls.link->currentText(), QString("USB"));
}

void DialogLayoutTest::PlacesControlsByDialogUnitsAtAnyFont() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    for (const int pointSize : {8, 14}) {
        QFont font = dialog.font();
        font.setPointSize(pointSize);
        dialog.setFont(font);
        const auto base = kestrel::MeasureDialogFont(dialog.font());
        const auto pixels = [base](const QRect& units) { return kestrel::DialogUnitsToPixels(units, base); };

        QCOMPARE(controls.path->geometry(), pixels(dt::kPathField));
        QCOMPARE(controls.browse->geometry(), pixels(dt::kBrowseButton));
        QCOMPARE(controls.start->geometry(), pixels(dt::kStartButton));
        QCOMPARE(controls.list->geometry(), pixels(dt::kStatusList));
        QCOMPARE(controls.close->geometry(), pixels(dt::kCloseButton));
        QCOMPARE(controls.picture->geometry(), pixels(dt::kPicture));
        QCOMPARE(controls.link->geometry().topLeft(), pixels(dt::kLinkDropDown).topLeft());
        QCOMPARE(controls.link->width(), pixels(dt::kLinkDropDown).width());
        QCOMPARE(dialog.size(), kestrel::DialogUnitsToPixels(dt::kMainClientWithProgress, base));

        // The added bar sits below the list, inside the window, overlapping nothing.
        QVERIFY(controls.progress->geometry().top() >= controls.list->geometry().bottom());
        QVERIFY(dialog.rect().contains(controls.progress->geometry()));
        QVERIFY(!controls.path->geometry().intersects(controls.browse->geometry()));
    }
}

void DialogLayoutTest::TabsThroughTheTemplatesStops() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    dialog.PreselectFile("/tmp/any.mot");  // an enabled "Start download" is a stop too
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), controls.browse);

    QList<QWidget*> visited;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget();
    }
    QCOMPARE(visited, (QList<QWidget*>{controls.path, controls.start, controls.link, controls.browse, controls.path}));

    // While disabled, "Start download" is passed over.
    Ckestrel2Dlg fresh({}, nullptr);
    DialogControls freshControls(fresh);
    fresh.show();
    QVERIFY(QTest::qWaitForWindowActive(&fresh));
    freshControls.path->setFocus();
    QTest::keyClick(freshControls.path, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), freshControls.link);
}

void DialogLayoutTest::OffersFoundUsbDevicesAfterTheFixedEntries() {
    kestrel::SerialPortInfo ftdi;
    ftdi.kind = kestrel::SerialPortKind::UsbSerial;
    ftdi.devicePath = "/dev/ttyUSB0";
    ftdi.byIdPath = "/dev/serial/by-id/usb-FTDI_Kestrel_A1-if00-port0";
    ftdi.vendorId = 0x0403;
    ftdi.productId = 0x6001;
    ftdi.manufacturer = "FTDI";
    ftdi.product = "Kestrel Box";
    ftdi.serialNumber = "A1";
    kestrel::SerialPortInfo builtin;
    builtin.kind = kestrel::SerialPortKind::Builtin;
    builtin.devicePath = "/dev/ttyS0";
    kestrel::SerialPortInfo modem;
    modem.kind = kestrel::SerialPortKind::UsbModem;
    modem.devicePath = "/dev/ttyACM0";

    Ckestrel2Dlg dialog({ftdi, builtin, modem}, nullptr);
    DialogControls controls(dialog);
    QCOMPARE(controls.Entries(), FixedEntries() + QStringList({QString::fromStdString(ftdi.byIdPath), "/dev/ttyACM0"}));
    QCOMPARE(controls.link->itemData(9, Qt::ToolTipRole).toString(),
             QString("FTDI Kestrel Box (0403:6001, serial A1) on /dev/ttyUSB0"));
    controls.link->setCurrentIndex(9);
    QCOMPARE(dialog.LinkName(), QString::fromStdString(ftdi.byIdPath));
    controls.link->setCurrentIndex(8);
    QCOMPARE(dialog.LinkName(), QString("COM8"));
}

QTEST_MAIN(DialogLayoutTest)
#include "DialogLayoutTest.moc"
