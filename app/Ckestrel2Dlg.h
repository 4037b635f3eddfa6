#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QDialog>
#include <QIcon>

#include "app/DownloadThread.h"
#include "app/ListWidgetStatusList.h"
#include "app/QueuedStatusList.h"
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

namespace kestrel {

class CAboutDlg;

// The tool's window: pick the firmware file and the link, start the download,
// read its status lines. The download runs on a thread of its own; while it
// runs, the inputs are disabled and closing the window cancels it first.
class Ckestrel2Dlg : public QDialog {
    Q_OBJECT
public:
    // Returns the full path of the chosen file, or an empty string on cancel.
    using FileChooser = std::function<QString(QWidget* parent)>;
    using AboutRunner = std::function<void(CAboutDlg& about)>;

    // Offers the USB boxes and serial devices found on this machine after the fixed entries.
    explicit Ckestrel2Dlg(QWidget* parent = nullptr);
    Ckestrel2Dlg(const std::vector<SerialPortInfo>& serialPorts, QWidget* parent,
                 const std::vector<UsbDeviceInfo>& usbBoxes = {});
    ~Ckestrel2Dlg() override;

    // Replaceable, so that tests need neither a file dialog nor a box.
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void SetDownloadRunner(DownloadThread::Runner runner) { runDownload_ = std::move(runner); }
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
    // The about entry, offered in the window menu or, where the window manager
    // owns that menu, in the dialog's context menu.
    QAction* AboutAction() const { return aboutAction_; }
    // "Save log...": appends the record of the last download to a file; enabled
    // once a download has ended and while none runs.
    QAction* SaveLogAction() const { return saveLogAction_; }

    // A command of the window menu: true when the dialog handled it.
    bool OnSysCommand(unsigned command);

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
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

public:
    // Ends the dialog; while a download runs, cancels it and ends once it has.
    void done(int result) override;

private:
    void CreateControls(const std::vector<SerialPortInfo>& serialPorts, const std::vector<UsbDeviceInfo>& usbBoxes);
    void SetTabOrder();
    void LayOutControls();
    void SetInputsEnabled(bool enabled);
    void OnDownloadFinished(std::optional<DownloadOutcome> outcome);
    void AddWindowMenuEntry();

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

    FileChooser chooseFile_;
    FileChooser chooseLogFile_;
    DownloadThread::Runner runDownload_;
    AboutRunner runAbout_;

    int preferredLinkIndex_ = 0;
    bool startWasEnabled_ = false;
    bool windowMenuReady_ = false;
    std::optional<int> pendingResult_;  // the window was asked to close during a download
    std::optional<DownloadOutcome> lastOutcome_;
    SessionRecord runningRecord_;  // filled by the download's thread
    std::optional<SessionRecord> lastRecord_;
    std::unique_ptr<ListWidgetStatusList> status_;
    std::unique_ptr<QueuedStatusList> downloadStatus_;
    DownloadThread download_;
};

}  // namespace kestrel
