#include <QtTest>

#include "DialogTestSupport.h"
#include "app/CommandLine.h"

using kestrel::Ckestrel2Dlg;

class DialogInputTest : public QObject {
    Q_OBJECT
private slots:
    void BrowseConfirmedAndCancelled();
    void CommandLinePreselectsPortAndFile();
};

void DialogInputTest::BrowseConfirmedAndCancelled() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    dialog.show();
    QString answer;
    dialog.SetFileChooser([&answer](QWidget*) { return answer; });
    QTest::keyClicks(controls.path, "/typed/by/hand.bin");
    QVERIFY2(!controls.start->isEnabled(), "typing does not enable the download");
    QTest::mouseClick(controls.browse, Qt::LeftButton);  // cancelled
    QCOMPARE(controls.path->text(), QString("/typed/by/hand.bin"));
    QVERIFY(!controls.start->isEnabled());

    answer = "/data/kestrel-demo.mot";
    QTest::mouseClick(controls.browse, Qt::LeftButton);
    QCOMPARE(controls.path->text(), answer);
    QVERIFY(controls.start->isEnabled());
}

void DialogInputTest::CommandLinePreselectsPortAndFile() {
    const auto parsed = kestrel::ParseCommandLine({"kestrel-loader", "--port", "/dev/pts/7", "fw/demo.mot"});
    QVERIFY(parsed.error.isEmpty());
    QCOMPARE(parsed.file, QDir::current().absoluteFilePath("fw/demo.mot"));
    QVERIFY(!kestrel::ParseCommandLine({"kestrel-loader", "a.mot", "b.bin"}).error.isEmpty());

    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    QVERIFY(dialog.PreselectPort("com3"));
    dialog.show();
    QCOMPARE(dialog.LinkName(), QString("COM3"));  // also when shown
    QVERIFY(!dialog.PreselectPort("COM9"));
    QVERIFY(dialog.PreselectPort(parsed.port));
    QVERIFY(dialog.PreselectPort(parsed.port));  // added once only
    QCOMPARE(Entries(*controls.link), kFixedEntries + QStringList("/dev/pts/7"));
    dialog.hide();
    dialog.show();
    QCOMPARE(dialog.LinkName(), QString("/dev/pts/7"));
    dialog.PreselectFile(parsed.file);
    QCOMPARE(dialog.FilePath(), parsed.file);
    QVERIFY(controls.start->isEnabled());
}

QTEST_MAIN(DialogInputTest)
#include "DialogInputTest.moc"
