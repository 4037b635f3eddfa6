#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "emulator/ServedBox.h"
#include "station-app/qt/StationWindow.h"

namespace kestrel::stationapp {

constexpr const char* kFirmware = KESTREL_SAMPLES_DIR "/kestrel-demo.mot";

// Closing the station while a box is flashed, as a technician would.
class StationWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void ClosingDuringADownloadAsksWithNoAsDefaultThenCancelsIt() {
        // The erase takes a minute: the download is certainly running when the window closes.
        emulator::ServedBox box(emulator::BoxModel({.eraseMs = 60000}), {.giveUpAfterMs = 20000});
        QVERIFY(box.Started());
        StationWindow window(StationCommandLine{.firmware = kFirmware, .ports = {box.DevicePath()}});
        window.show();
        QVERIFY(window.StartLot());
        QTRY_COMPARE_WITH_TIMEOUT(window.Logic()->Running(), 1, 10000);

        const auto answer = [](QMessageBox::StandardButton button, QMessageBox::StandardButton* defaultButton) {
            QTimer::singleShot(50, [=] {
                auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (question == nullptr)
                    return;  // no question: the check below fails
                *defaultButton = question->standardButton(question->defaultButton());
                question->button(button)->click();
            });
        };
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        answer(QMessageBox::No, &defaultButton);
        QVERIFY(!window.close());
        QCOMPARE(defaultButton, QMessageBox::No);
        QCOMPARE(window.Logic()->Running(), 1);

        answer(QMessageBox::Yes, &defaultButton);
        QVERIFY(window.close());
        QVERIFY(window.Logic() == nullptr);  // every download ended and joined, its port closed
        // Cancelled, the download ended at its next look at the flag, not at the box's give-up (ETIMEDOUT).
        QCOMPARE(box.Stop(), 0);
    }

    // A scanner types the label and Enter before the box is plugged in: the box that appears next carries it, on
    // its tile and in its records.
    void AScannedLabelGoesToTheNextBoxThatAppears() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("box"));
        const StationCommandLine commandLine{.firmware = kFirmware,
                                             .ports = {link.toStdString()},
                                             .logFile = dir.filePath(QStringLiteral("scan.log")).toStdString()};
        StationWindow window(commandLine);
        window.show();
        QVERIFY(window.StartLot());
        QTest::keyClicks(window.ScanField(), QStringLiteral("SN-7781"));
        QTest::keyClick(window.ScanField(), Qt::Key_Return);
        QCOMPARE(window.ScanField()->text(), QString());
        QCOMPARE(window.Logic()->WaitingLabels(), std::vector<std::string>{"SN-7781"});
        emulator::ServedBox box(emulator::BoxModel(), {.giveUpAfterMs = 20000});
        QVERIFY(box.Started());
        QVERIFY(QFile::link(QString::fromStdString(box.DevicePath()), link));
        QTRY_VERIFY_WITH_TIMEOUT(window.Logic()->Counters().Total() == 1, 20000);
        QCOMPARE(window.Logic()->Tiles().front().label, std::string("SN-7781"));
        QVERIFY(window.Logic()->WaitingLabels().empty());
        QFile log(QString::fromStdString(commandLine.logFile));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().count("\nlabel: SN-7781\n"), 2);  // its started record and its result
    }
};

}  // namespace kestrel::stationapp

QTEST_MAIN(kestrel::stationapp::StationWindowTest)
#include "StationWindowTest.moc"
