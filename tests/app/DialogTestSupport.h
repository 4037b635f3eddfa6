#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "app/qt/Ckestrel2Dlg.h"

// The dialog's controls, found the way a user sees them: by their names.
struct DialogControls {
    explicit DialogControls(kestrel::Ckestrel2Dlg& shown) : dialog(shown) {}

    template <typename Widget = QWidget>
    Widget* Find(const char* name) const {
        auto* widget = dialog.findChild<Widget*>(QString::fromLatin1(name));
        if (widget == nullptr)
            qFatal("the dialog has no control %s", name);
        return widget;
    }
    QStringList Lines() const {
        QStringList lines;
        for (int i = 0; i < list->count(); ++i)
            lines << list->item(i)->text();
        return lines;
    }

    kestrel::Ckestrel2Dlg& dialog;
    QPushButton* browse = Find<QPushButton>("browseButton");
    QLineEdit* path = Find<QLineEdit>("pathEdit");
    QPushButton* start = Find<QPushButton>("startButton");
    QListWidget* list = Find<QListWidget>("statusList");
    QComboBox* link = Find<QComboBox>("linkDropDown");
    QProgressBar* progress = Find<QProgressBar>("progressBar");
    QList<QWidget*> inputs{browse, path, start, link};
};

inline QStringList Entries(const QComboBox& box) {
    QStringList entries;
    for (int i = 0; i < box.count(); ++i)
        entries << box.itemText(i);
    return entries;
}

inline const QStringList kFixedEntries{"USB", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"};

// True once `ended` has counted `downloads` ends. A download that ended before
// the wait began counts too, where QSignalSpy::wait would wait for one more;
// a real download ends by its own bounds (20 s to synchronise, 30 s for an
// answer), so `giveUpMs` only stops a download that never ends.
inline bool DownloadsEnded(const QSignalSpy& ended, int downloads, int giveUpMs = 45000) {
    return QTest::qWaitFor([&] { return ended.count() >= downloads; }, giveUpMs);
}
