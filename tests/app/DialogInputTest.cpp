#include <mutex>

#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QSignalSpy>
#include <QtTest>

#include "DialogTestSupport.h"
#include "app/CommandLine.h"
#include "app/FirmwareFileDialog.h"

using kestrel::Ckestrel2Dlg;

class DialogInputTest : public QObject {
    Q_OBJECT
private slots:
    void BrowseConfirmedAndCancelled();
    void NextRunUsesTheTypedPathAndTheChosenLink();
    void FileDialogShowsTheOneFirmwareFilter();
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

void DialogInputTest::NextRunUsesTheTypedPathAndTheChosenLink() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    std::mutex mutex;
    std::string linkName;
    std::string filePath;
    dialog.SetDownloadRunner([&](const std::string& link, const std::string& file, kestrel::StatusList&,
                                 const kestrel::SessionOptions&) {
        std::lock_guard<std::mutex> lock(mutex);
        linkName = link;
        filePath = file;
        return kestrel::DownloadOutcome::Success;
    });
    dialog.SetFileChooser([](QWidget*) { return QString("/chosen/first.mot"); });
    dialog.show();
    QTest::mouseClick(controls.browse, Qt::LeftButton);
    // Longer than any fixed-size field: it must arrive whole.
    const QString typed = "/typed/" + QString(300, QChar('d')) + "/second.bin";
    controls.path->clear();
    QTest::keyClicks(controls.path, typed);
    controls.link->setCurrentIndex(controls.link->findText("COM8"));

    QSignalSpy ended(&dialog, &Ckestrel2Dlg::DownloadEnded);
    QTest::mouseClick(controls.start, Qt::LeftButton);
    QVERIFY(ended.wait(5000));
    std::lock_guard<std::mutex> lock(mutex);
    QCOMPARE(QString::fromStdString(filePath), typed);
    QCOMPARE(linkName, std::string("COM8"));
}

void DialogInputTest::FileDialogShowsTheOneFirmwareFilter() {
    const auto fileDialog = kestrel::CreateFirmwareFileDialog(nullptr);
    QCOMPARE(fileDialog->fileMode(), QFileDialog::ExistingFile);
    auto* types = fileDialog->findChild<QComboBox*>("fileTypeCombo");
    QVERIFY(types != nullptr);
    QCOMPARE(Entries(*types), QStringList("Firmware Files (*.bin,*.mot)"));

    QTemporaryDir dir;
    for (const char* name : {"a.bin", "b.mot", "C.BIN", "D.MOT", "e.txt", "f.bin.bak"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    fileDialog->setDirectory(dir.path());
    auto* model = fileDialog->findChild<QFileSystemModel*>();
    auto* view = fileDialog->findChild<QListView*>("listView");
    QVERIFY(model != nullptr && view != nullptr);
    const auto shown = [&] {
        QStringList names;
        for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
            names << model->index(row, 0, view->rootIndex()).data().toString();
        }
        names.sort();
        return names;
    };
    QTRY_COMPARE(shown(), QStringList({"C.BIN", "D.MOT", "a.bin", "b.mot"}));
}

void DialogInputTest::CommandLinePreselectsPortAndFile() {
    const auto parsed = kestrel::ParseCommandLine({"kestrel-loader", "--port", "/dev/pts/7", "fw/demo.mot"});
    QVERIFY(parsed.error.isEmpty());
    QCOMPARE(parsed.file, QDir::current().absoluteFilePath("fw/demo.mot"));
    for (const QStringList& refused : {QStringList{"kestrel-loader", "a.mot", "b.bin"},
                                       QStringList{"kestrel-loader", "--baud", "9600"},
                                       QStringList{"kestrel-loader", "--port="}}) {
        QVERIFY2(!kestrel::ParseCommandLine(refused).error.isEmpty(), qPrintable(refused.join(' ')));
    }

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
