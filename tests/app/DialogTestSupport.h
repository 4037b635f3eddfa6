#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QtTest>

#include "app/Ckestrel2Dlg.h"

// The dialog's controls, found the way a user sees them: by their names.
struct DialogControls {
    explicit DialogControls(kestrel::Ckestrel2Dlg& dialog)
        : close(Find<QPushButton>(dialog, "closeButton")),
          browse(Find<QPushButton>(dialog, "browseButton")),
          path(Find<QLineEdit>(dialog, "pathEdit")),
          start(Find<QPushButton>(dialog, "startButton")),
          picture(Find<QLabel>(dialog, "picture")),
          list(Find<QListWidget>(dialog, "statusList")),
          link(Find<QComboBox>(dialog, "linkDropDown")),
          progress(Find<QProgressBar>(dialog, "progressBar")) {}

    template <typename Widget>
    static Widget* Find(kestrel::Ckestrel2Dlg& dialog, const char* name) {
        auto* widget = dialog.findChild<Widget*>(QString::fromLatin1(name));
        if (widget == nullptr) {
            qFatal("the dialog has no control %s", name);
        }
        return widget;
    }

    QStringList Lines() const {
        QStringList lines;
        for (int i = 0; i < list->count(); ++i) {
            lines << list->item(i)->text();
        }
        return lines;
    }
    QStringList Entries() const {
        QStringList entries;
        for (int i = 0; i < link->count(); ++i) {
            entries << link->itemText(i);
        }
        return entries;
    }

    QPushButton* close;
    QPushButton* browse;
    QLineEdit* path;
    QPushButton* start;
    QLabel* picture;
    QListWidget* list;
    QComboBox* link;
    QProgressBar* progress;
};

inline QStringList FixedEntries() {
    return {"USB", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"};
}
