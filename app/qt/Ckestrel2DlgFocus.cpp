// Where the keyboard's focus goes back to once a download has ended.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/qt/Ckestrel2Dlg.h"

namespace kestrel {

std::array<std::pair<QWidget*, DialogControl>, 4> Ckestrel2Dlg::FocusControls() const {
    return {{{browseButton_, DialogControl::Browse},
             {pathEdit_, DialogControl::Path},
             {startButton_, DialogControl::Start},
             {linkDropDown_, DialogControl::Link}}};
}

DialogControl Ckestrel2Dlg::FocusedControl() const {
    for (const auto& [widget, control] : FocusControls()) {
        if (widget == QApplication::focusWidget()) {
            return control;
        }
    }
    return DialogControl::None;
}

void Ckestrel2Dlg::RestoreFocus() {
    const DialogControl wanted = FocusAfterDownload(focusBefore_);
    for (const auto& [widget, control] : FocusControls()) {
        if (control == wanted) {
            widget->setFocus();
        }
    }
}

}  // namespace kestrel
