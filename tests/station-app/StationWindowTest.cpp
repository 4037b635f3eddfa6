#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "emulator/ServedBox.h"
#include "station-app/qt/StationWindow.h"

namespace kestrel::stationapp {

// Closing the station while a box is flashed, as a technician would.
class StationWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void ClosingDuringADownloadAsksWithNoAsDefaultThenCancelsIt() {
        // The erase takes a minute: the download is certainly running when the window closes.
        emulator::BoxBehaviour slow;
        slow.eraseMs = 60000;
        emulator::ServedBox box(emulator::BoxModel(slow), {.giveUpAfterMs = 20000});
        QVERIFY(box.Started());
        StationCommandLine commandLine;
        commandLine.firmware = KESTREL_SAMPLES_DIR "/kestrel-demo.mot";
        commandLine.ports = {box.DevicePath()};
        StationWindow window(commandLine);
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
};

}  // namespace kestrel::stationapp

QTEST_MAIN(kestrel::stationapp::StationWindowTest)
#include "StationWindowTest.moc"
