#include "app/qt/Ckestrel2Dlg.h"

#include <algorithm>
#include <cstring>

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimer>

#include "app/TextFit.h"
#include "app/qt/AppResources.h"
#include "app/qt/CAboutDlg.h"
#include "app/qt/DialogTemplate.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/FirmwareFileDialog.h"
#include "app/qt/LiteralProgressBar.h"
#include "station/RecordedDownload.h"

namespace kestrel {

namespace {

// Where a drop-down with names longer than its template width ends: at the
// dialog's right margin, as the other controls do.
constexpr int kWideDropDownRight = 259;

// Paths go to the core as the file system spells them.
std::string ToNative(const QString& text) { return QFile::encodeName(text).toStdString(); }
QString FromNative(const std::string& text) { return QFile::decodeName(QByteArray::fromStdString(text)); }

constexpr int kCountdownTickMs = 200;

bool AskToCancel(QWidget* parent) {
    return QMessageBox::question(parent, QStringLiteral("IXO V2718 Loader v1.1"), QString::fromUtf8(kCancelQuestion),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace

Ckestrel2Dlg::Ckestrel2Dlg(QWidget* parent)
    : Ckestrel2Dlg(ListSerialPorts(), parent, ListUsbBoxes(SystemUsbDriver())) {}

Ckestrel2Dlg::Ckestrel2Dlg(const std::vector<SerialPortInfo>& serialPorts, QWidget* parent,
                           const std::vector<UsbDeviceInfo>& usbBoxes)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      icon_(ApplicationIcon()),
      chooseFile_(ChooseFirmwareFile),
      runDownload_(RunDownload),
      runAbout_([](CAboutDlg& about) { about.exec(); }),
      confirmCancel_(AskToCancel),
      download_([this] {
          QMetaObject::invokeMethod(
              this, [this] { DrainDownload(); }, Qt::QueuedConnection);
      }) {
    setFont(DialogTemplateFont(font()));
    setWindowTitle(QStringLiteral("IXO V2718 Loader v1.1"));
    setWindowIcon(icon_);
    CreateControls(serialPorts, usbBoxes);
    SetTabOrder();
    LayOutControls();
    view_ = std::make_unique<QtDialogView>(*statusList_, *progressBar_);
    status_ = std::make_unique<DialogStatus>(*view_);
    countdown_ = new QTimer(this);
    countdown_->setInterval(kCountdownTickMs);
    connect(countdown_, &QTimer::timeout, this, [this] {
        status_->Tick();
        if (!status_->CountingDown()) {
            countdown_->stop();
        }
    });

    aboutAction_ = new QAction(QString::fromUtf8("&Info über IXO V2718 Loader..."), this);
    connect(aboutAction_, &QAction::triggered, this, &Ckestrel2Dlg::OnAbout);
    saveLogAction_ = new QAction(QStringLiteral("Save log..."), this);
    saveLogAction_->setEnabled(false);
    connect(saveLogAction_, &QAction::triggered, this, &Ckestrel2Dlg::OnSaveLog);
    ShowInputs();
    // The first tab stop that can take the focus: the hidden "close" cannot.
    browseButton_->setFocus();
}

// The worker's end cancels the download, whose waits end on the cancel, so
// that closing cannot hang; what it still queued is dropped with the window.
Ckestrel2Dlg::~Ckestrel2Dlg() = default;

void Ckestrel2Dlg::CreateControls(const std::vector<SerialPortInfo>& serialPorts,
                                  const std::vector<UsbDeviceInfo>& usbBoxes) {
    // In template order, which is also the order of the focus chain.
    closeButton_ = new QPushButton(QStringLiteral("close"), this);
    closeButton_->setObjectName(QStringLiteral("closeButton"));
    closeButton_->setDefault(true);
    closeButton_->hide();
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);

    browseButton_ = new QPushButton(QStringLiteral("..."), this);
    browseButton_->setObjectName(QStringLiteral("browseButton"));
    // Return is for "Start download"; the file picker opens on a click or Space.
    browseButton_->setAutoDefault(false);
    connect(browseButton_, &QPushButton::clicked, this, &Ckestrel2Dlg::OnBrowse);

    pathEdit_ = new QLineEdit(this);
    pathEdit_->setObjectName(QStringLiteral("pathEdit"));

    startButton_ = new QPushButton(QStringLiteral("Start download"), this);
    startButton_->setObjectName(QStringLiteral("startButton"));
    connect(startButton_, &QPushButton::clicked, this, &Ckestrel2Dlg::OnStartDownload);

    loadLabel_ = new QLabel(QStringLiteral("1. Load firmware"), this);
    loadLabel_->setObjectName(QStringLiteral("loadLabel"));
    selectLabel_ = new QLabel(QStringLiteral("2. Select COM or USB"), this);
    selectLabel_->setObjectName(QStringLiteral("selectLabel"));
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("picture"));
    picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    statusList_ = new QListWidget(this);
    statusList_->setObjectName(QStringLiteral("statusList"));
    statusList_->setSortingEnabled(false);
    statusList_->setUniformItemSizes(true);
    statusList_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    statusList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    statusList_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    statusList_->setFocusPolicy(Qt::ClickFocus);  // not a tab stop

    startLabel_ = new QLabel(QStringLiteral("3. Start download"), this);
    startLabel_->setObjectName(QStringLiteral("startLabel"));

    linkDropDown_ = new QComboBox(this);
    linkDropDown_->setObjectName(QStringLiteral("linkDropDown"));
    linkDropDown_->setEditable(false);
    for (const auto& entry : LinkMenuEntries(serialPorts, usbBoxes)) {
        AddLinkEntry(FromNative(entry.text), FromNative(entry.linkName), FromNative(entry.toolTip));
    }

    // A device path may be wider than the closed drop-down: the tip shows it whole.
    connect(linkDropDown_, &QComboBox::currentIndexChanged, this,
            [this] { linkDropDown_->setToolTip(linkDropDown_->currentData(Qt::ToolTipRole).toString()); });

    progressBar_ = new LiteralProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setTextVisible(true);
    progressBar_->setRange(0, 1);
    progressBar_->setValue(0);
    progressBar_->setFormat(QString());
}

void Ckestrel2Dlg::SetTabOrder() {
    setTabOrder(closeButton_, browseButton_);
    setTabOrder(browseButton_, pathEdit_);
    setTabOrder(pathEdit_, startButton_);
    setTabOrder(startButton_, linkDropDown_);
}

void Ckestrel2Dlg::LayOutControls() {
    namespace dt = dialog_template;
    const DialogBaseUnits base = MeasureDialogFont(font());
    const auto place = [base](QWidget* widget, const QRect& dialogUnits) {
        widget->setGeometry(DialogUnitsToPixels(dialogUnits, base));
    };
    place(closeButton_, dt::kCloseButton);
    place(browseButton_, dt::kBrowseButton);
    place(pathEdit_, dt::kPathField);
    place(startButton_, dt::kStartButton);
    place(loadLabel_, dt::kLoadLabel);
    place(selectLabel_, dt::kSelectLabel);
    place(picture_, dt::kPicture);
    place(statusList_, dt::kStatusList);
    place(startLabel_, dt::kStartLabel);
    place(progressBar_, dt::kProgressBar);

    picture_->setPixmap(DialogPicture().scaled(picture_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    // The template's height is that of the open list; closed, a drop-down is
    // as high as its font needs, and the open list shows what fits below it.
    const QRect dropDown = DialogUnitsToPixels(dt::kLinkDropDown, base);
    const int closedHeight = std::min(linkDropDown_->sizeHint().height(), dropDown.height());
    const int lineHeight = std::max(1, base.y);
    linkDropDown_->setMaxVisibleItems(std::max(1, (dropDown.height() - closedHeight) / lineHeight));
    linkDropDown_->setGeometry(dropDown.x(), dropDown.y(), dropDown.width(), closedHeight);
    const QRect wide = DialogUnitsToPixels(
        QRect(dt::kLinkDropDown.x(), dt::kLinkDropDown.y(), kWideDropDownRight - dt::kLinkDropDown.x(), 1), base);
    FitLinkNames(QRect(dropDown.x(), dropDown.y(), wide.width(), closedHeight));

    setFixedSize(DialogUnitsToPixels(dt::kMainClientWithProgress, base));
    if (view_) {
        view_->RefitBar();
    }
}

void Ckestrel2Dlg::PreselectFile(const QString& path) {
    pathEdit_->setText(path);
    inputs_.FileChosen();
    ShowInputs();
}

QString Ckestrel2Dlg::FilePath() const { return pathEdit_->text(); }

void Ckestrel2Dlg::OnBrowse() {
    const QString folder = FromNative(PickerStartFolder(ToNative(FilePath())));
    const QString chosen = chooseFile_ ? chooseFile_(this, folder) : QString();
    if (chosen.isEmpty()) {
        return;
    }
    pathEdit_->setText(chosen);
    inputs_.FileChosen();
    ShowInputs();
}

void Ckestrel2Dlg::OnStartDownload() {
    if (download_.Running()) {
        return;
    }
    // The whole path: cutting it short could name another file than the one chosen.
    runningLink_ = ToNative(LinkName());
    const std::string filePath = ToNative(FilePath());
    focusBefore_ = FocusedControl();

    inputs_.DownloadStarted();
    ShowInputs();
    status_->Clear();
    status_->DownloadStarting(ToNative(linkDropDown_->currentText()));
    repaint();

    saveLogAction_->setEnabled(false);
    auto recorded = [this, run = runDownload_](const std::string& link, const std::string& file, StatusList& status,
                                               const SessionOptions& options) {
        return RunRecordedDownload(run, link, file, status, options, runningRecord_);
    };
    download_.Start(recorded, runningLink_, filePath);
    emit DownloadStarted();
}

void Ckestrel2Dlg::DrainDownload() {
    const auto ended = download_.Drain(*status_);
    if (status_->CountingDown() && !countdown_->isActive()) {
        countdown_->start();
    }
    if (ended) {
        OnDownloadFinished(ended->outcome, ended->openFailure);
    }
}

void Ckestrel2Dlg::OnDownloadFinished(std::optional<DownloadOutcome> outcome,
                                      const std::optional<OpenFailure>& openFailure) {
    lastOutcome_ = outcome;
    // A download ended by an exception has no whole record to offer.
    lastRecord_ = outcome ? std::optional(runningRecord_) : std::nullopt;
    saveLogAction_->setEnabled(lastRecord_.has_value());
    const std::string reason = status_->DownloadEnded(outcome, openFailure);
    if (lastRecord_) {
        lastRecord_->reason = reason;  // the bar may show it cut short
    }
    inputs_.DownloadEnded();
    ShowInputs();
    RestoreFocus();
    emit DownloadEnded();
    if (pendingResult_) {
        const int result = *pendingResult_;
        pendingResult_.reset();
        QDialog::done(result);
    }
}

void Ckestrel2Dlg::ShowInputs() {
    pathEdit_->setEnabled(inputs_.InputsEnabled());
    browseButton_->setEnabled(inputs_.InputsEnabled());
    linkDropDown_->setEnabled(inputs_.InputsEnabled());
    startButton_->setEnabled(inputs_.StartEnabled());
}

void Ckestrel2Dlg::done(int result) {
    switch (AnswerClose(CloseRequest::CloseBox, download_.Running())) {
        case CloseAnswer::Close:
            QDialog::done(result);
            break;
        case CloseAnswer::AskThenCancel:
            // The download may end while the question is open.
            if (!pendingResult_ && confirmCancel_ && confirmCancel_(this)) {
                if (!download_.Running()) {
                    QDialog::done(result);
                    break;
                }
                pendingResult_ = result;
                download_.Cancel();
            }
            break;
        case CloseAnswer::Ignore:
            break;
    }
}

void Ckestrel2Dlg::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel) &&
        AnswerClose(CloseRequest::Escape, download_.Running()) == CloseAnswer::Ignore) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Ckestrel2Dlg::OnAbout() {
    CAboutDlg about(this);
    if (runAbout_) {
        runAbout_(about);
    }
}

void Ckestrel2Dlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        linkDropDown_->setCurrentIndex(preferredLinkIndex_);
    }
}

void Ckestrel2Dlg::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) {
        linkDropDown_->setCurrentIndex(preferredLinkIndex_);
    }
}

void Ckestrel2Dlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange && progressBar_ != nullptr) {
        LayOutControls();
    }
}

void Ckestrel2Dlg::contextMenuEvent(QContextMenuEvent* event) {
    // The window manager owns the window menu, so the entry is offered where
    // the user can reach it.
    QMenu menu(this);
    menu.addAction(aboutAction_);
    menu.addAction(saveLogAction_);
    menu.exec(event->globalPos());
}

void Ckestrel2Dlg::OnSaveLog() {
    if (!lastRecord_ || download_.Running()) {
        return;
    }
    const QString path = chooseLogFile_
                             ? chooseLogFile_(this)
                             : QFileDialog::getSaveFileName(this, QStringLiteral("Save log"), QString(),
                                                            QStringLiteral("Log files (*.log);;All files (*)"));
    if (path.isEmpty()) {
        return;
    }
    if (const int error = AppendSessionRecord(ToNative(path), *lastRecord_); error != 0) {
        QMessageBox::warning(
            this, QStringLiteral("Save log"),
            QStringLiteral("Cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error))));
    }
}

}  // namespace kestrel
