#include "app/qt/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "app/DialogLogic.h"

namespace kestrel {

void CentreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    const ScreenArea place =
        CentredIn({area.x(), area.y(), area.width(), area.height()}, window.width(), window.height());
    window.move(place.left, place.top);
}

}  // namespace kestrel
