#include <QFont>
#include <QtTest>

#include "app/DialogUnits.h"

using kestrel::DialogBaseUnits;
using kestrel::DialogUnitsToPixels;

class DialogUnitsTest : public QObject {
    Q_OBJECT
private slots:
    void ConvertsEdgesWithRounding_data();
    void ConvertsEdgesWithRounding();
    void TouchingControlsStayTouching();
    void BiggerFontsGiveBiggerUnits();
};

void DialogUnitsTest::ConvertsEdgesWithRounding_data() {
    QTest::addColumn<int>("baseX");
    QTest::addColumn<int>("baseY");
    QTest::addColumn<QRect>("dialogUnits");
    QTest::addColumn<QRect>("pixels");
    // 6 x 13: the classic 8-point dialog font. Left 7*6/4 = 10.5 rounds up,
    // top 58*13/8 = 94.25 down, right 237*6/4 = 355.5 up, bottom 72*13/8 = 117.
    QTest::newRow("path field, 6x13") << 6 << 13 << QRect(7, 58, 230, 14) << QRect(11, 94, 345, 23);
    QTest::newRow("status list, 6x13") << 6 << 13 << QRect(7, 108, 252, 38) << QRect(11, 176, 378, 61);
    QTest::newRow("path field, 7x16") << 7 << 16 << QRect(7, 58, 230, 14) << QRect(12, 116, 403, 28);
    QTest::newRow("origin") << 9 << 18 << QRect(0, 0, 4, 8) << QRect(0, 0, 9, 18);
}

void DialogUnitsTest::ConvertsEdgesWithRounding() {
    QFETCH(int, baseX);
    QFETCH(int, baseY);
    QFETCH(QRect, dialogUnits);
    QFETCH(QRect, pixels);
    QCOMPARE(DialogUnitsToPixels(dialogUnits, DialogBaseUnits{baseX, baseY}), pixels);
}

void DialogUnitsTest::TouchingControlsStayTouching() {
    // 5 x 11 rounds differently at every edge; the second control starts where
    // the first one ends, so there must be neither gap nor overlap in pixels.
    const DialogBaseUnits base{5, 11};
    for (int x = 0; x < 40; ++x) {
        const QRect first = DialogUnitsToPixels(QRect(x, x, 3, 5), base);
        const QRect second = DialogUnitsToPixels(QRect(x + 3, x + 5, 7, 3), base);
        QCOMPARE(first.x() + first.width(), second.x());
        QCOMPARE(first.y() + first.height(), second.y());
    }
    QCOMPARE(DialogUnitsToPixels(QSize(267, 153), DialogBaseUnits{6, 13}), QSize(401, 249));
}

void DialogUnitsTest::BiggerFontsGiveBiggerUnits() {
    QFont small = QGuiApplication::font();
    small.setPixelSize(10);
    QFont big = small;
    big.setPixelSize(30);
    const DialogBaseUnits smallBase = kestrel::MeasureDialogFont(small);
    const DialogBaseUnits bigBase = kestrel::MeasureDialogFont(big);
    QVERIFY(smallBase.x > 0 && smallBase.y >= 10);
    QVERIFY2(bigBase.x >= 2 * smallBase.x && bigBase.y >= 2 * smallBase.y, "units follow the font size");
}

QTEST_MAIN(DialogUnitsTest)
#include "DialogUnitsTest.moc"
