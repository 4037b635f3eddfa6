#include "app/qt/DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace kestrel {

namespace {

// value * numerator / denominator, rounded half away from zero.
int MulDivRounded(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : -((-product + half) / denominator));
}

}  // namespace

QFont DialogTemplateFont(QFont systemFont) {
    systemFont.setPointSize(8);
    return systemFont;
}

DialogBaseUnits MeasureDialogFont(const QFont& font) {
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    // Half of width/26, rounded: the average over 52 letters.
    const int average = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    return {average, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& dialogUnits, DialogBaseUnits base) {
    const int left = MulDivRounded(dialogUnits.x(), base.x, 4);
    const int top = MulDivRounded(dialogUnits.y(), base.y, 8);
    const int right = MulDivRounded(dialogUnits.x() + dialogUnits.width(), base.x, 4);
    const int bottom = MulDivRounded(dialogUnits.y() + dialogUnits.height(), base.y, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogUnitsToPixels(const QSize& dialogUnits, DialogBaseUnits base) {
    return QSize(MulDivRounded(dialogUnits.width(), base.x, 4), MulDivRounded(dialogUnits.height(), base.y, 8));
}

}  // namespace kestrel
