#include "app/qt/AppResources.h"

#include <mutex>

#include <QtGlobal>

// The resources live in a static library: without this call the linker would
// drop them from every program that does not name them. Q_INIT_RESOURCE has to
// be used outside of any namespace.
static void InitResourcesOnce() { Q_INIT_RESOURCE(resources); }

namespace {

void RegisterResources() {
    static std::once_flag once;
    std::call_once(once, InitResourcesOnce);
}

}  // namespace

namespace kestrel {

QIcon ApplicationIcon() {
    RegisterResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icon128/16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icon128/32.png"), QSize(32, 32));
    return icon;
}

QPixmap DialogPicture() {
    RegisterResources();
    return QPixmap(QStringLiteral(":/bitmap133.png"));
}

}  // namespace kestrel
