#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/CAboutDlg.h"
#include "app/Ckestrel2Dlg.h"
#include "session/Version.h"

using kestrel::CAboutDlg;
using kestrel::Ckestrel2Dlg;

namespace {

// What the about box showed while it ran, read from inside its modal loop.
struct SeenAboutBox {
    int opened = 0;
    QString caption;
    QStringList labels;
    QString button;
    bool modal = false;
};

// Lets the about box really run, and closes it from inside with its OK button.
void WatchAboutBox(Ckestrel2Dlg& dialog, SeenAboutBox& seen) {
    dialog.SetAboutRunner([&seen](CAboutDlg& about) {
        QTimer::singleShot(0, &about, [&about, &seen] {
            ++seen.opened;
            seen.modal = QApplication::activeModalWidget() == &about;
            seen.caption = about.windowTitle();
            for (const char* name : {"aboutTitle", "aboutVersion"}) {
                seen.labels << about.findChild<QLabel*>(name)->text();
            }
            auto* ok = about.findChild<QPushButton*>("aboutOk");
            seen.button = ok->text();
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
    });
}

}  // namespace

class AboutBoxTest : public QObject {
    Q_OBJECT
private slots:
    void TheEntryOpensTheAboutBox();
    void TheContextMenuOffersTheEntry();
    void OnlyTheAboutCommandIsTaken();
};

void AboutBoxTest::TheEntryOpensTheAboutBox() {
    Ckestrel2Dlg dialog({}, nullptr);
    SeenAboutBox seen;
    WatchAboutBox(dialog, seen);
    dialog.show();

    const QString entry = dialog.AboutAction()->text();
    QCOMPARE(entry, QString::fromUtf8("&Info \xC3\xBC" "ber IXO V2718 Loader..."));
    QCOMPARE(entry.at(6), QChar(0x00FC));
    dialog.AboutAction()->trigger();

    QCOMPARE(seen.opened, 1);
    QVERIFY(seen.modal);
    QCOMPARE(seen.caption, QString("Info"));
    QCOMPARE(seen.labels, QStringList({"IXO V2718 Loader Version 1.0",
                                        QString("Kestrel Loader ") + kestrel::kToolVersion}));
    QCOMPARE(seen.button, QString("OK"));
}

void AboutBoxTest::TheContextMenuOffersTheEntry() {
    Ckestrel2Dlg dialog({}, nullptr);
    SeenAboutBox seen;
    WatchAboutBox(dialog, seen);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QStringList offered;
    QTimer::singleShot(0, &dialog, [&offered] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu != nullptr);
        for (QAction* action : menu->actions()) {
            offered << action->text();
        }
        menu->actions().first()->trigger();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &event);

    QCOMPARE(offered, QStringList(dialog.AboutAction()->text()));
    QTRY_COMPARE(seen.opened, 1);
}

void AboutBoxTest::OnlyTheAboutCommandIsTaken() {
    Ckestrel2Dlg dialog({}, nullptr);
    int opened = 0;
    dialog.SetAboutRunner([&opened](CAboutDlg&) { ++opened; });
    QVERIFY(dialog.OnSysCommand(0x0010));
    QVERIFY(dialog.OnSysCommand(0x001F));  // the low bits belong to the system
    QCOMPARE(opened, 2);
    QVERIFY(!dialog.OnSysCommand(0xF060));  // close
    QVERIFY(!dialog.OnSysCommand(0x0020));
    QCOMPARE(opened, 2);
}

QTEST_MAIN(AboutBoxTest)
#include "AboutBoxTest.moc"
