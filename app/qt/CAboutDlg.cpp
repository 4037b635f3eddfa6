#include "app/qt/CAboutDlg.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "app/qt/AppResources.h"
#include "app/qt/DialogTemplate.h"
#include "app/qt/DialogUnits.h"
#include "session/Version.h"

namespace kestrel {

namespace {

constexpr int kIconPixels = 32;

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setFont(DialogTemplateFont(font()));
    setWindowTitle(QStringLiteral("Info"));
    setWindowIcon(ApplicationIcon());

    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("aboutIcon"));
    icon_->setPixmap(ApplicationIcon().pixmap(kIconPixels, kIconPixels));
    title_ = new QLabel(QStringLiteral("IXO V2718 Loader Version 1.0"), this);
    title_->setObjectName(QStringLiteral("aboutTitle"));
    version_ = new QLabel(QStringLiteral("Kestrel Loader ") + QString::fromUtf8(kToolVersion), this);
    version_->setObjectName(QStringLiteral("aboutVersion"));
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("aboutOk"));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    LayOut();
}

void CAboutDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange && ok_ != nullptr) {
        LayOut();
    }
}

void CAboutDlg::LayOut() {
    namespace dt = dialog_template;
    const DialogBaseUnits base = MeasureDialogFont(font());
    // An icon keeps its own size; only its place follows the font.
    icon_->setGeometry(QRect(DialogUnitsToPixels(dt::kAboutIcon, base).topLeft(), QSize(kIconPixels, kIconPixels)));
    title_->setGeometry(DialogUnitsToPixels(dt::kAboutTitle, base));
    version_->setGeometry(DialogUnitsToPixels(dt::kAboutVersion, base));
    ok_->setGeometry(DialogUnitsToPixels(dt::kAboutOk, base));
    setFixedSize(DialogUnitsToPixels(dt::kAboutClient, base));
}

}  // namespace kestrel
