#include "station-app/qt/BoxTile.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace kestrel::stationapp {

namespace {

QLabel* Label(QWidget* parent, int pointSize, bool bold) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

}  // namespace

BoxTile::BoxTile(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setLineWidth(2);
    setMinimumWidth(260);
    auto* layout = new QVBoxLayout(this);
    name_ = Label(this, 18, true);
    stage_ = Label(this, 12, false);
    progress_ = new QProgressBar(this);
    progress_->setMinimumHeight(24);
    time_ = Label(this, 14, false);
    result_ = Label(this, 40, true);
    result_->setMinimumHeight(80);
    result_->setAutoFillBackground(true);
    error_ = Label(this, 12, false);
    for (QWidget* widget :
         {static_cast<QWidget*>(name_), static_cast<QWidget*>(stage_), static_cast<QWidget*>(progress_),
          static_cast<QWidget*>(time_), static_cast<QWidget*>(result_), static_cast<QWidget*>(error_)}) {
        layout->addWidget(widget);
    }
}

void BoxTile::Show(const Tile& tile) {
    // A device path by its last part: "ttyUSB0" reads from afar, "/dev/" adds nothing.
    const QString name = QString::fromStdString(tile.name);
    QString shown = name.startsWith(QLatin1Char('/')) ? name.section(QLatin1Char('/'), -1) : name;
    for (const std::string& own : {tile.label, tile.serial}) {
        if (!own.empty()) {
            shown += QStringLiteral(" \u00b7 ") + QString::fromStdString(own);
        }
    }
    name_->setText(shown);
    stage_->setText(tile.present ? QString::fromStdString(tile.stage).trimmed() : QStringLiteral("no box"));
    progress_->setMaximum(tile.total == 0 ? 1 : static_cast<int>(tile.total));
    progress_->setValue(tile.result == Tile::Result::Pass ? progress_->maximum() : static_cast<int>(tile.done));
    time_->setText(tile.running || tile.result != Tile::Result::None
                       ? QStringLiteral("%1 s").arg(tile.seconds, 0, 'f', 1)
                       : QString());
    QPalette palette = result_->palette();
    switch (tile.result) {
        case Tile::Result::Pass:
            result_->setText(QStringLiteral("PASS"));
            palette.setColor(QPalette::Window, QColor(0, 128, 0));
            break;
        case Tile::Result::Fail:
            result_->setText(QStringLiteral("FAIL"));
            palette.setColor(QPalette::Window, QColor(192, 0, 0));
            break;
        case Tile::Result::None:
            result_->setText(tile.running ? QStringLiteral("...") : QString());
            palette.setColor(QPalette::Window, palette.color(QPalette::Base));
            break;
    }
    palette.setColor(QPalette::WindowText,
                     tile.result == Tile::Result::None ? palette.color(QPalette::Text) : QColor(Qt::white));
    result_->setPalette(palette);
    const QString hint = QString::fromStdString(tile.openHint);
    error_->setText(QString::fromStdString(tile.errorLine).trimmed() + (hint.isEmpty() ? QString() : "\n" + hint));
    error_->setToolTip(hint);
}

QString BoxTile::ResultText() const { return name_->text() + QLatin1Char(' ') + result_->text(); }

}  // namespace kestrel::stationapp
