// The link drop-down's entries: their names fitted to it, and the one picked.
#include <QComboBox>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionComboBox>

#include "app/TextFit.h"
#include "app/qt/Ckestrel2Dlg.h"

namespace kestrel {

void Ckestrel2Dlg::AddLinkEntry(const QString& name, const QString& linkName, const QString& description) {
    linkDropDown_->addItem(name, linkName);
    const int index = linkDropDown_->count() - 1;
    linkDropDown_->setItemData(index, name, kFullNameRole);
    linkDropDown_->setItemData(index, description, kDescriptionRole);
}

// Names longer than the template's drop-down (device paths, USB serial
// numbers) widen it to the margin, and what is still too long is cut in the
// middle, where such names differ least; the tip gives the whole name.
void Ckestrel2Dlg::FitLinkNames(const QRect& wide) {
    const auto nameWidth = [this] {
        QStyleOptionComboBox option;
        option.initFrom(linkDropDown_);
        return style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, linkDropDown_)
            .width();
    };
    const QFontMetrics metrics = linkDropDown_->fontMetrics();
    const auto measure = [&metrics](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    };
    bool fits = true;
    for (int i = 0; i < linkDropDown_->count(); ++i) {
        fits = fits && metrics.horizontalAdvance(linkDropDown_->itemData(i, kFullNameRole).toString()) <= nameWidth();
    }
    if (!fits) {
        linkDropDown_->setGeometry(wide);
    }
    const int width = nameWidth();
    for (int i = 0; i < linkDropDown_->count(); ++i) {
        const QString name = linkDropDown_->itemData(i, kFullNameRole).toString();
        const QString description = linkDropDown_->itemData(i, kDescriptionRole).toString();
        const QString shown = QString::fromStdString(ElideMiddle(name.toStdString(), width, measure));
        linkDropDown_->setItemText(i, shown);
        QString tip = shown != name ? name : QString();
        if (!description.isEmpty() && description != name) {
            tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + description;
        }
        linkDropDown_->setItemData(i, tip.isEmpty() ? QVariant() : QVariant(tip), Qt::ToolTipRole);
    }
    linkDropDown_->setToolTip(linkDropDown_->currentData(Qt::ToolTipRole).toString());
}

bool Ckestrel2Dlg::PreselectPort(const QString& name) {
    int index = -1;
    for (int i = 0; i < linkDropDown_->count() && index < 0; ++i) {
        if (linkDropDown_->itemData(i, kFullNameRole).toString().compare(name, Qt::CaseInsensitive) == 0 ||
            linkDropDown_->itemData(i, kLinkNameRole).toString() == name) {
            index = i;
        }
    }
    if (index < 0) {
        if (!SelectsALink(name.toStdString())) {
            return false;
        }
        AddLinkEntry(name, name, QString());
        index = linkDropDown_->count() - 1;
        LayOutControls();  // the drop-down may have to grow for it
    }
    preferredLinkIndex_ = index;
    linkDropDown_->setCurrentIndex(index);
    return true;
}

QString Ckestrel2Dlg::LinkName() const { return linkDropDown_->currentData(kLinkNameRole).toString(); }

}  // namespace kestrel
