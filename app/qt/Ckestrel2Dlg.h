#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QDialog>
#include <QIcon>

#include "app/DialogLogic.h"
#include "app/DialogStatus.h"
#include "app/DownloadWorker.h"
#include "app/qt/QtDialogView.h"
#include "links/SerialPortList.h"
#include "links/UsbDriver.h"
#include "station/SessionLog.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

namespace kestrel {

class CAboutDlg;

// The tool's window: pick the firmware file and the link, start the download,
// read its status lines. The download runs on a thread of its own; while it
// runs, the inputs are disabled, Escape does nothing, and closing the window
// asks before it cancels the download.
class Ckestrel2Dlg : public QDialog {
    Q_OBJECT
public:
    // Returns the full path of the chosen file, or an empty string on cancel.
    using FileChooser = std::function<QString(QWidget* parent)>;
    // The same for the firmware, starting in `folder` (empty: the picker's own choice).
    using FirmwareChooser = std::function<QString(QWidget* parent, const QString& folder)>;
    using AboutRunner = std::function<void(CAboutDlg& about)>;
    // Asked before closing the window cancels a running download: true to cancel.
    using CancelConfirmer = std::function<bool(QWidget* parent)>;

    // Offers the USB boxes and serial devices found on this machine after the fixed entries.
    explicit Ckestrel2Dlg(QWidget* parent = nullptr);
    Ckestrel2Dlg(const std::vector<SerialPortInfo>& serialPorts, QWidget* parent,
                 const std::vector<UsbDeviceInfo>& usbBoxes = {});
    ~Ckestrel2Dlg() override;

    // Replaceable, so that tests need neither a file dialog nor a box.
    void SetFileChooser(FirmwareChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetDownloadRunner(DownloadWorker::Runner runner) { runDownload_ = std::move(runner); }
    void SetCancelConfirmer(CancelConfirmer confirmer) { confirmCancel_ = std::move(confirmer); }
    void SetAboutRunner(AboutRunner runner) { runAbout_ = std::move(runner); }
    // Where "Save log..." writes; returns an empty string on cancel.
    void SetLogFileChooser(FileChooser chooser) { chooseLogFile_ = std::move(chooser); }

    // Selects the entry named `name` (case does not matter), or adds a device
    // path as a new entry; it stays selected when the window is shown. False
    // for any other name.
    bool PreselectPort(const QString& name);
    // Fills the path field and enables "Start download", as a confirmed browse does.
    void PreselectFile(const QString& path);

    // What the next download opens.
    QString LinkName() const;
    QString FilePath() const;
    bool DownloadRunning() const { return download_.Running(); }
    // How the last download ended; unset before the first, or when it ended by an exception.
    std::optional<DownloadOutcome> LastOutcome() const { return lastOutcome_; }
    // The about entry, offered in the dialog's context menu: the window manager
    // owns the window menu here.
    QAction* AboutAction() const { return aboutAction_; }
    // "Save log...": appends the record of the last download to a file; enabled
    // once a download has ended and while none runs.
    QAction* SaveLogAction() const { return saveLogAction_; }

public slots:
    void OnBrowse();
    void OnStartDownload();
    void OnAbout();
    void OnSaveLog();

signals:
    void DownloadStarted();
    void DownloadEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

public:
    // Ends the dialog; while a download runs, asks first, then cancels it and
    // ends once it has.
    void done(int result) override;

private:
    static constexpr int kLinkNameRole = Qt::UserRole;
    static constexpr int kFullNameRole = Qt::UserRole + 1;  // the entry's name before it was fitted
    static constexpr int kDescriptionRole = Qt::UserRole + 2;

    void CreateControls(const std::vector<SerialPortInfo>& serialPorts, const std::vector<UsbDeviceInfo>& usbBoxes);
    void SetTabOrder();
    void LayOutControls();
    void AddLinkEntry(const QString& name, const QString& linkName, const QString& description);
    void FitLinkNames(const QRect& wide);
    void ShowInputs();
    void DrainDownload();
    void OnDownloadFinished(std::optional<DownloadOutcome> outcome, const std::optional<OpenFailure>& openFailure);
    // The controls that can hold the focus, each with its name in the dialog's logic.
    std::array<std::pair<QWidget*, DialogControl>, 4> FocusControls() const;
    DialogControl FocusedControl() const;
    void RestoreFocus();

    QIcon icon_;
    QPushButton* closeButton_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QLineEdit* pathEdit_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QLabel* loadLabel_ = nullptr;
    QLabel* selectLabel_ = nullptr;
    QLabel* picture_ = nullptr;
    QListWidget* statusList_ = nullptr;
    QLabel* startLabel_ = nullptr;
    QComboBox* linkDropDown_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QAction* saveLogAction_ = nullptr;
    QTimer* countdown_ = nullptr;
    DialogControl focusBefore_ = DialogControl::None;

    FirmwareChooser chooseFile_;
    FileChooser chooseLogFile_;
    DownloadWorker::Runner runDownload_;
    AboutRunner runAbout_;
    CancelConfirmer confirmCancel_;

    DialogInputs inputs_;
    int preferredLinkIndex_ = 0;
    std::string runningLink_;
    std::optional<int> pendingResult_;  // the window was asked to close during a download
    std::optional<DownloadOutcome> lastOutcome_;
    SessionRecord runningRecord_;  // filled by the download's thread
    std::optional<SessionRecord> lastRecord_;
    std::unique_ptr<QtDialogView> view_;
    std::unique_ptr<DialogStatus> status_;
    DownloadWorker download_;  // last: its thread ends before the rest is gone
};

}  // namespace kestrel
