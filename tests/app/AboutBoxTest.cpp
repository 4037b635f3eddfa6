#include <QContextMenuEvent>
#include <QMenu>
#include <QtTest>

#include "DialogTestSupport.h"
#include "app/CAboutDlg.h"
#include "session/Version.h"

using kestrel::CAboutDlg;
using kestrel::Ckestrel2Dlg;

class AboutBoxTest : public QObject {
    Q_OBJECT
private slots:
    void TheContextMenuEntryOpensTheAboutBox();
};

void AboutBoxTest::TheContextMenuEntryOpensTheAboutBox() {
    Ckestrel2Dlg dialog({}, nullptr);
    QStringList seen;
    // The about box really runs; from inside its loop, note what it shows and press OK.
    dialog.SetAboutRunner([&seen](CAboutDlg& about) {
        QTimer::singleShot(0, &about, [&about, &seen] {
            seen << about.windowTitle();
            for (const char* name : {"aboutTitle", "aboutVersion"}) {
                seen << about.findChild<QLabel*>(name)->text();
            }
            QVERIFY(QApplication::activeModalWidget() == &about);
            QTest::mouseClick(about.findChild<QPushButton*>("aboutOk"), Qt::LeftButton);
        });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
    });
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

    QCOMPARE(offered, QStringList({QString::fromUtf8("&Info \xC3\xBC" "ber IXO V2718 Loader..."), "Save log..."}));
    QTRY_COMPARE(seen, QStringList({"Info", "IXO V2718 Loader Version 1.0",
                                    QString("Kestrel Loader ") + kestrel::kToolVersion}));
}

QTEST_MAIN(AboutBoxTest)
#include "AboutBoxTest.moc"
