#include "station-app/qt/BoxTile.h"

#include "station-app/StationTexts.h"

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
    const TileTexts texts = TextsOf(tile);
    name_->setText(QString::fromStdString(texts.name));
    stage_->setText(QString::fromStdString(texts.stage));
    progress_->setMaximum(static_cast<int>(texts.barMaximum));
    progress_->setValue(static_cast<int>(texts.barValue));
    time_->setText(QString::fromStdString(texts.time));
    result_->setText(QString::fromStdString(texts.result));
    QPalette palette = result_->palette();
    switch (tile.result) {
        case Tile::Result::Pass:
            palette.setColor(QPalette::Window, QColor(0, 128, 0));
            break;
        case Tile::Result::Fail:
            palette.setColor(QPalette::Window, QColor(192, 0, 0));
            break;
        case Tile::Result::None:
            palette.setColor(QPalette::Window, palette.color(QPalette::Base));
            break;
    }
    palette.setColor(QPalette::WindowText,
                     tile.result == Tile::Result::None ? palette.color(QPalette::Text) : QColor(Qt::white));
    result_->setPalette(palette);
    error_->setText(QString::fromStdString(texts.error));
    error_->setToolTip(QString::fromStdString(tile.openHint));
}

QString BoxTile::ResultText() const { return name_->text() + QLatin1Char(' ') + result_->text(); }

}  // namespace kestrel::stationapp
