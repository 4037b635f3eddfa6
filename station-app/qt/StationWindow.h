#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "station-app/LotRun.h"
#include "station-app/StationCommandLine.h"

class QGridLayout;
class QLabel;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace kestrel::stationapp {

class BoxTile;

// The station's window: the firmware and who flashes it at the top, a tile per
// box, the lot's counters. What it decides lives in StationLogic; this paints
// snapshots of it and turns clicks into its calls.
class StationWindow : public QWidget {
    Q_OBJECT
public:
    explicit StationWindow(const StationCommandLine& commandLine, QWidget* parent = nullptr);
    ~StationWindow() override;

    // Starts the lot with what the window holds; false when it cannot, with the reason shown.
    bool StartLot();
    void StopLot();
    // Cancels every running download and waits for its result to be recorded; ends the watchers first.
    void EndLot();
    // What the window last said of the lot, a refusal included.
    QString Message() const;
    // With --count: the lot's exit status once it is complete, else -1.
    int FinishedStatus() const;
    const StationLogic* Logic() const { return run_ ? &run_->Logic() : nullptr; }
    QLineEdit* ScanField() const { return scan_; }

signals:
    void LotFinished(int status);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ChooseFirmware();
    void ShowFirmware();
    void Refresh();
    void Remember() const;

    StationCommandLine commandLine_;
    QLineEdit* firmware_;
    QLabel* firmwareFacts_;
    QLabel* approval_;
    QLineEdit* operator_;
    QLineEdit* station_;
    QLineEdit* lot_;
    QLineEdit* ports_;
    QCheckBox* allUsb_;
    QPushButton* start_;
    QPushButton* stop_;
    QLabel* message_;
    QLineEdit* scan_;
    QGridLayout* tiles_;
    QLabel* counters_;
    QLabel* database_;  // the link to the records database, when the lot has one
    QListWidget* lastResults_;
    QTimer* refresh_;
    std::map<std::string, BoxTile*> tileWidgets_;
    std::unique_ptr<LotRun> run_;
    bool finished_ = false;
};

}  // namespace kestrel::stationapp
