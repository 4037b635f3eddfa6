#include "station-app/qt/StationWindow.h"

#include <cstdio>

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include "station-app/FirmwareSummary.h"
#include "station-app/StationTexts.h"
#include "station-app/qt/BoxTile.h"

namespace kestrel::stationapp {

namespace {

constexpr int kTilesPerRow = 4;

QString PortsText(const StationCommandLine& commandLine) {
    QStringList ports;
    for (const auto& port : commandLine.ports) {
        ports << QString::fromStdString(port);
    }
    return ports.join(QLatin1Char(' '));
}

QLineEdit* Field(QFormLayout* form, const QString& label, const QString& text) {
    auto* edit = new QLineEdit(text);
    form->addRow(label, edit);  // the label is the field's buddy: Alt and its letter reach it
    return edit;
}

void Enlarge(QWidget* widget, int pointSize) {
    QFont font = widget->font();
    font.setPointSize(pointSize);
    widget->setFont(font);
}

}  // namespace

StationWindow::StationWindow(const StationCommandLine& commandLine, QWidget* parent)
    : QWidget(parent), commandLine_(commandLine) {
    setWindowTitle(QStringLiteral("Kestrel Station"));
    Enlarge(this, 12);
    QSettings settings;
    const auto remembered = [&settings](const char* key, bool given, const std::string& value) {
        return given ? QString::fromStdString(value) : settings.value(QString::fromLatin1(key)).toString();
    };

    auto* top = new QGroupBox(QStringLiteral("Firmware and lot"));
    auto* form = new QFormLayout(top);
    auto* fileRow = new QHBoxLayout;
    firmware_ = new QLineEdit(remembered("firmware", !commandLine.firmware.empty(), commandLine.firmware));
    auto* choose = new QPushButton(QStringLiteral("&Browse..."));
    fileRow->addWidget(firmware_);
    fileRow->addWidget(choose);
    auto* firmwareLabel = new QLabel(QStringLiteral("&Firmware:"));
    firmwareLabel->setBuddy(firmware_);
    form->addRow(firmwareLabel, fileRow);
    firmwareFacts_ = new QLabel;
    firmwareFacts_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QString(), firmwareFacts_);
    approval_ = new QLabel;
    form->addRow(QStringLiteral("Approved:"), approval_);
    operator_ = Field(form, QStringLiteral("&Operator:"),
                      remembered("operator", commandLine.operatorGiven, commandLine.operatorName));
    station_ = Field(form, QStringLiteral("&Station:"),
                     remembered("station", commandLine.stationGiven, commandLine.stationName));
    lot_ = Field(form, QStringLiteral("&Lot:"), remembered("lot", commandLine.lotGiven, commandLine.lot));
    ports_ =
        Field(form, QStringLiteral("&Ports:"),
              commandLine.ports.empty() ? settings.value(QStringLiteral("ports")).toString() : PortsText(commandLine));
    allUsb_ = new QCheckBox(QStringLiteral("Every &USB box plugged in"));
    allUsb_->setChecked(commandLine.allUsb || settings.value(QStringLiteral("allUsb")).toBool());
    form->addRow(QString(), allUsb_);
    auto* buttons = new QHBoxLayout;
    start_ = new QPushButton(QStringLiteral("S&tart lot"));
    stop_ = new QPushButton(QStringLiteral("St&op lot"));
    message_ = new QLabel;
    message_->setWordWrap(true);
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addWidget(message_, 1);
    form->addRow(buttons);
    // A barcode scanner types like a keyboard and ends with Enter: the label goes to the next box that appears.
    scan_ = Field(form, QStringLiteral("Sc&an label:"), QString());
    scan_->setPlaceholderText(QStringLiteral("scan the next box's label"));

    auto* tileBox = new QGroupBox(QStringLiteral("Boxes"));
    tiles_ = new QGridLayout(tileBox);

    auto* lotBox = new QGroupBox(QStringLiteral("Lot"));
    auto* lotLayout = new QHBoxLayout(lotBox);
    counters_ = new QLabel;
    Enlarge(counters_, 18);
    lastResults_ = new QListWidget;
    lastResults_->setFocusPolicy(Qt::NoFocus);
    lastResults_->setMaximumHeight(220);
    database_ = new QLabel;
    database_->setWordWrap(true);
    auto* figures = new QVBoxLayout;
    figures->addWidget(counters_);
    figures->addWidget(database_);
    lotLayout->addLayout(figures, 1);
    lotLayout->addWidget(lastResults_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(top);
    layout->addWidget(tileBox, 1);
    layout->addWidget(lotBox);

    connect(choose, &QPushButton::clicked, this, &StationWindow::ChooseFirmware);
    connect(firmware_, &QLineEdit::editingFinished, this, &StationWindow::ShowFirmware);
    connect(start_, &QPushButton::clicked, this, &StationWindow::StartLot);
    connect(stop_, &QPushButton::clicked, this, &StationWindow::StopLot);
    connect(scan_, &QLineEdit::returnPressed, this, [this] {
        if (run_ && !scan_->text().trimmed().isEmpty()) {
            run_->Logic().ScanLabel(scan_->text().trimmed().toStdString());
            scan_->clear();
        }
    });
    refresh_ = new QTimer(this);
    refresh_->setInterval(100);
    connect(refresh_, &QTimer::timeout, this, &StationWindow::Refresh);
    ShowFirmware();
    Refresh();
}

StationWindow::~StationWindow() { EndLot(); }

void StationWindow::ChooseFirmware() {
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Firmware"), firmware_->text(),
                                                      QStringLiteral("Firmware (*.mot *.bin);;All files (*)"));
    if (!file.isEmpty()) {
        firmware_->setText(file);
        ShowFirmware();
    }
}

void StationWindow::ShowFirmware() {
    if (firmware_->text().isEmpty()) {
        firmwareFacts_->setText(QStringLiteral("no firmware chosen"));
        approval_->setText(QString());
        return;
    }
    const FirmwareSummary summary = SummariseFirmware(firmware_->text().toStdString(), commandLine_.approved);
    if (!summary.error.empty()) {
        firmwareFacts_->setText(QString::fromStdString(summary.error));
        approval_->setText(QString());
        return;
    }
    firmwareFacts_->setText(
        QStringLiteral("%1 bytes, %2\nSHA-256 %3")
            .arg(summary.size)
            .arg(summary.records >= 0 ? QStringLiteral("%1 records").arg(summary.records) : QStringLiteral("raw image"))
            .arg(QString::fromStdString(summary.sha256)));
    approval_->setText(QString::fromStdString(summary.approval));
}

void StationWindow::Remember() const {
    QSettings settings;
    settings.setValue(QStringLiteral("firmware"), firmware_->text());
    settings.setValue(QStringLiteral("operator"), operator_->text());
    settings.setValue(QStringLiteral("station"), station_->text());
    settings.setValue(QStringLiteral("lot"), lot_->text());
    settings.setValue(QStringLiteral("ports"), ports_->text());
    settings.setValue(QStringLiteral("allUsb"), allUsb_->isChecked());
}

bool StationWindow::StartLot() {
    EndLot();
    Remember();
    for (auto& [name, widget] : tileWidgets_) {
        delete widget;  // the last lot's boxes
    }
    tileWidgets_.clear();
    const LotForm form{.firmware = firmware_->text().toStdString(),
                       .operatorName = operator_->text().toStdString(),
                       .stationName = station_->text().toStdString(),
                       .lot = lot_->text().toStdString(),
                       .ports = ports_->text().toStdString(),
                       .allUsb = allUsb_->isChecked()};
    std::string message;
    run_ = LotRun::Start(form, commandLine_, message);
    message_->setText(QString::fromStdString(message));
    if (!run_) {
        return false;
    }
    finished_ = false;
    refresh_->start();
    return true;
}

QString StationWindow::Message() const { return message_->text(); }

void StationWindow::StopLot() {
    if (run_) {
        run_->Logic().StopLot();
        message_->setText(QStringLiteral("Lot stopped: running boxes finish."));
    }
}

void StationWindow::EndLot() {
    run_.reset();  // cancels and joins what still runs
}

int StationWindow::FinishedStatus() const { return run_ ? run_->FinishedStatus() : -1; }

void StationWindow::Refresh() {
    if (const std::string notice = run_ ? run_->Logic().TakeNotice() : std::string(); !notice.empty()) {
        std::fprintf(stderr, "kestrel-station: %s\n", notice.c_str());
        message_->setText(QString::fromStdString(notice));
    }
    const bool running = run_ && run_->Logic().LotRunning();
    start_->setEnabled(!running);
    stop_->setEnabled(running);
    if (!run_) {
        counters_->setText(QStringLiteral("Passed 0\nFailed 0"));
        return;
    }
    StationLogic& logic = run_->Logic();
    for (const Tile& tile : logic.Tiles()) {
        BoxTile*& widget = tileWidgets_[tile.name];
        if (widget == nullptr) {
            widget = new BoxTile;
            const int index = static_cast<int>(tileWidgets_.size()) - 1;
            tiles_->addWidget(widget, index / kTilesPerRow, index % kTilesPerRow);
        }
        widget->Show(tile);
    }
    database_->setText(QString::fromStdString(logic.DatabaseLinkText()));
    const LotCounters counters = logic.Counters();
    counters_->setText(QString::fromStdString(CountersText(counters)));
    lastResults_->clear();
    for (const std::string& result : counters.lastResults) {
        lastResults_->addItem(QString::fromStdString(result));
    }
    if (!finished_) {
        if (const int status = FinishedStatus(); status >= 0) {
            finished_ = true;
            logic.StopLot();
            message_->setText(status == 0 ? QStringLiteral("Lot complete: all passed.")
                                          : QStringLiteral("Lot complete: some boxes failed."));
            emit LotFinished(status);
        }
    }
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (run_ && run_->Logic().Running() > 0) {
        const auto answer =
            QMessageBox::question(this, QStringLiteral("Kestrel Station"),
                                  QStringLiteral("Boxes are being flashed. Cancel their downloads and close?"),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    Remember();
    EndLot();
    event->accept();
}

}  // namespace kestrel::stationapp
