#include <memory>
#include <mutex>

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QSignalSpy>
#include <QtTest>

#include "DialogTestSupport.h"
#include "app/FirmwareFileDialog.h"

using kestrel::Ckestrel2Dlg;

namespace {

// What a download was asked to open.
struct RecordedRun {
    std::mutex mutex;
    std::string linkName;
    std::string filePath;
};

kestrel::DownloadThread::Runner Recording(std::shared_ptr<RecordedRun> record) {
    return [record](const std::string& linkName, const std::string& filePath, kestrel::StatusList&,
                    const kestrel::SessionOptions&) {
        std::lock_guard<std::mutex> lock(record->mutex);
        record->linkName = linkName;
        record->filePath = filePath;
        return kestrel::DownloadOutcome::Success;
    };
}

void RunOnce(Ckestrel2Dlg& dialog) {
    QSignalSpy ended(&dialog, &Ckestrel2Dlg::DownloadEnded);
    dialog.OnStartDownload();
    QVERIFY(ended.wait(5000));
}

}  // namespace

class DialogInputTest : public QObject {
    Q_OBJECT
private slots:
    void ConfirmedBrowseFillsThePathAndEnablesStart();
    void CancelledBrowseAndTypingChangeNothingElse();
    void NextRunUsesTheTypedPathAndTheChosenLink();
    void PreselectionFromTheCommandLine();
    void FileDialogShowsTheOneFirmwareFilter();
};

void DialogInputTest::ConfirmedBrowseFillsThePathAndEnablesStart() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    int asked = 0;
    dialog.SetFileChooser([&asked](QWidget*) {
        ++asked;
        return QString("/data/firmware/kestrel-demo.mot");
    });
    QTest::mouseClick(controls.browse, Qt::LeftButton);
    QCOMPARE(asked, 1);
    QCOMPARE(controls.path->text(), QString("/data/firmware/kestrel-demo.mot"));
    QVERIFY(controls.start->isEnabled());
}

void DialogInputTest::CancelledBrowseAndTypingChangeNothingElse() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    dialog.show();
    dialog.SetFileChooser([](QWidget*) { return QString(); });
    QTest::keyClicks(controls.path, "/typed/by/hand.bin");
    QVERIFY2(!controls.start->isEnabled(), "typing does not enable the download");
    QTest::mouseClick(controls.browse, Qt::LeftButton);
    QCOMPARE(controls.path->text(), QString("/typed/by/hand.bin"));
    QVERIFY(!controls.start->isEnabled());
}

void DialogInputTest::NextRunUsesTheTypedPathAndTheChosenLink() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    auto record = std::make_shared<RecordedRun>();
    dialog.SetDownloadRunner(Recording(record));
    dialog.SetFileChooser([](QWidget*) { return QString("/chosen/first.mot"); });
    dialog.show();
    QTest::mouseClick(controls.browse, Qt::LeftButton);

    // A path longer than any fixed-size field: it must arrive whole.
    const QString typed = "/typed/" + QString(300, QChar('d')) + "/second.bin";
    controls.path->clear();
    QTest::keyClicks(controls.path, typed);
    controls.link->setCurrentIndex(controls.link->findText("COM8"));
    RunOnce(dialog);
    {
        std::lock_guard<std::mutex> lock(record->mutex);
        QCOMPARE(QString::fromStdString(record->filePath), typed);
        QCOMPARE(record->linkName, std::string("COM8"));
    }
    controls.link->setCurrentIndex(0);
    RunOnce(dialog);
    std::lock_guard<std::mutex> lock(record->mutex);
    QCOMPARE(record->linkName, std::string("USB"));
}

void DialogInputTest::PreselectionFromTheCommandLine() {
    Ckestrel2Dlg dialog({}, nullptr);
    DialogControls controls(dialog);
    QVERIFY(dialog.PreselectPort("com3"));
    dialog.show();
    QCOMPARE(dialog.LinkName(), QString("COM3"));
    QVERIFY(!dialog.PreselectPort("COM9"));
    QCOMPARE(dialog.LinkName(), QString("COM3"));

    QVERIFY(dialog.PreselectPort("/dev/pts/7"));
    QCOMPARE(controls.Entries(), FixedEntries() + QStringList("/dev/pts/7"));
    dialog.hide();
    dialog.show();
    QCOMPARE(dialog.LinkName(), QString("/dev/pts/7"));
    QVERIFY(dialog.PreselectPort("/dev/pts/7"));
    QCOMPARE(controls.link->count(), 10);

    dialog.PreselectFile("/samples/kestrel-demo.mot");
    QCOMPARE(controls.path->text(), QString("/samples/kestrel-demo.mot"));
    QVERIFY(controls.start->isEnabled());
}

void DialogInputTest::FileDialogShowsTheOneFirmwareFilter() {
    const auto fileDialog = kestrel::CreateFirmwareFileDialog(nullptr);
    QCOMPARE(fileDialog->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(fileDialog->acceptMode(), QFileDialog::AcceptOpen);
    QVERIFY(fileDialog->defaultSuffix().isEmpty());
    auto* types = fileDialog->findChild<QComboBox*>("fileTypeCombo");
    QVERIFY(types != nullptr);
    QCOMPARE(types->count(), 1);
    QCOMPARE(types->itemText(0), QString("Firmware Files (*.bin,*.mot)"));

    // Which files the filter shows, upper-case extensions included.
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
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < model->rowCount(root); ++row) {
            names << model->index(row, 0, root).data().toString();
        }
        names.sort();
        return names;
    };
    QTRY_COMPARE(shown(), QStringList({"C.BIN", "D.MOT", "a.bin", "b.mot"}));
}

QTEST_MAIN(DialogInputTest)
#include "DialogInputTest.moc"
