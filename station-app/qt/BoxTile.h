#pragma once

#include <QFrame>

#include "station-app/StationLogic.h"

class QLabel;
class QProgressBar;

namespace kestrel::stationapp {

// One box on the line, readable from across the bench: its name, the stage,
// the progress and the time, then PASS or FAIL in large letters, in colour and in words.
class BoxTile : public QFrame {
    Q_OBJECT
public:
    explicit BoxTile(QWidget* parent = nullptr);
    void Show(const Tile& tile);
    QString ResultText() const;

private:
    QLabel* name_;
    QLabel* stage_;
    QProgressBar* progress_;
    QLabel* time_;
    QLabel* result_;
    QLabel* error_;
};

}  // namespace kestrel::stationapp
