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
    void ConvertsDialogUnitsEdgeByEdge();
    void StartsAsTheTemplateSays();
    void PlacesControlsByDialogUnitsAtAnyFont();
    void TabsThroughTheTemplatesStops();
    void OffersFoundUsbDevicesAfterTheFixedEntries();
};

void DialogLayoutTest::ConvertsDialogUnitsEdgeByEdge() {
    // 6 x 13, the classic 8-point font: left 10.5 rounds up, top 94.25 down,
    // right 355.5 up, bottom 117.
    QCOMPARE(DialogUnitsToPixels(QRect(7, 58, 230, 14), {6, 13}), QRect(11, 94, 345, 23));
    QCOMPARE(DialogUnitsToPixels(QRect(7, 58, 230, 14), {7, 16}), QRect(12, 116, 403, 28));
    QCOMPARE(DialogUnitsToPixels(QSize(267, 153), {6, 13}), QSize(401, 249));
    // Controls that touch in dialog units touch in pixels, whatever the rounding.
    for (int x = 0; x < 40; ++x) {
        const QRect first = DialogUnitsToPixels(QRect(x, x, 3, 5), {5, 11});
        const QRect second = DialogUnitsToPixels(QRect(x + 3, x + 5, 7, 3), {5, 11});
        QCOMPARE(first.right() + 1, second.left());
        QCOMPARE(first.bottom() + 1, second.top());
    }
    QFont font = QGuiApplication::font();
    font.setPixelSize(10);
    const DialogBaseUnits small = kestrel::MeasureDialogFont(font);
    font.setPixelSize(30);
    const DialogBaseUnits big = kestrel::MeasureDialogFont(font);
    QVERIFY(small.x > 0 && big.x >= 2 * small.x && big.y >= 2 * small.y);
}

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
    QCOMPARE(controls.Find<QLabel>("selectLabel")->text(), QString("2. Select COM or USB"));
    QVERIFY(!controls.Find<QLabel>("picture")->pixmap().isNull());
    QVERIFY(!controls.close->isVisible());
    // A focused button is the default while it has the focus; elsewhere "close" is.
    controls.path->setFocus();
    QVERIFY(controls.close->isDefault());
    const Qt::WindowFlags flags = dialog.windowFlags();
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
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

void DialogLayoutTest::OffersFoundUsbDevicesAfterTheFixedEntries() {
    kestrel::SerialPortInfo ftdi{kestrel::SerialPortKind::UsbSerial, "/dev/ttyUSB0", "/dev/serial/by-id/usb-K_A1",
                                 0x0403, 0x6001, "FTDI", "Kestrel Box", "A1"};
    kestrel::SerialPortInfo builtin{kestrel::SerialPortKind::Builtin, "/dev/ttyS0", "", {}, {}, "", "", ""};
    kestrel::SerialPortInfo modem{kestrel::SerialPortKind::UsbModem, "/dev/ttyACM0", "", {}, {}, "", "", ""};
    Ckestrel2Dlg dialog({ftdi, builtin, modem}, nullptr);
    DialogControls controls(dialog);
    QCOMPARE(Entries(*controls.link), kFixedEntries + QStringList({"/dev/serial/by-id/usb-K_A1", "/dev/ttyACM0"}));
    QCOMPARE(controls.link->itemData(9, Qt::ToolTipRole).toString(),
             QString("FTDI Kestrel Box (0403:6001, serial A1) on /dev/ttyUSB0"));
    controls.link->setCurrentIndex(9);
    QCOMPARE(dialog.LinkName(), QString("/dev/serial/by-id/usb-K_A1"));
}

QTEST_MAIN(DialogLayoutTest)
#include "DialogLayoutTest.moc"
