#pragma once

#include <optional>
#include <string>
#include <vector>

#include "links/SerialPortList.h"
#include "links/UsbDriver.h"

// What the dialog decides, whatever toolkit draws it: the drop-down's entries,
// the status list's scroll rule, which inputs are enabled, and how a request
// to close is answered.
namespace kestrel {

// One entry of the link drop-down: what it shows, what a download opens, and
// the port's description where there is more to say than its name.
struct LinkMenuEntry {
    std::string text;
    std::string linkName;
    std::string toolTip;
};

// "USB" and "COM1" to "COM8", then each USB box by its serial number (by its
// index when it has none), then the USB serial devices and modems by their
// stable names, and the further ports the system knows ("COM40"). The ports
// that COM1 to COM8 open already are left out.
std::vector<LinkMenuEntry> LinkMenuEntries(const std::vector<SerialPortInfo>& serialPorts,
                                           const std::vector<UsbDeviceInfo>& usbBoxes);
// The boxes that `driver` lists; none when the listing fails, rather than no dialog.
std::vector<UsbDeviceInfo> ListUsbBoxes(UsbDriver& driver);

// The index of the entry that `name` selects: its text in any case, or its link
// name exactly.
std::optional<std::size_t> FindLinkMenuEntry(const std::vector<LinkMenuEntry>& entries, const std::string& name);
// True when `name` selects a link by the session's own rule ("COMn" for any n,
// a device path, "USB:SERIAL", ...), so that a port given on the command line
// that the drop-down does not offer is added to it, as the CLI would open it.
bool SelectsALink(const std::string& name);

// After a line was added: the line the status list shows at its top, counted
// from 0, so that the three newest lines are the first in view. None with 1 or
// 2 lines, which are not scrolled.
std::optional<int> ScrolledTopLine(int lineCount);

// The enabled state of the inputs. "Start download" is enabled by the first
// confirmed choice of a file and stays so; while a download runs every input
// is disabled.
class DialogInputs {
public:
    void FileChosen() { fileChosen_ = true; }
    // The path typed into the field, as Windows users expect: a path chooses the
    // file as "..." does, an empty field none. (The Qt dialog takes a file from its picker only.)
    void PathEdited(bool empty) { fileChosen_ = !empty; }
    void DownloadStarted() { running_ = true; }
    void DownloadEnded() { running_ = false; }

    bool Running() const { return running_; }
    bool InputsEnabled() const { return !running_; }
    bool StartEnabled() const { return fileChosen_ && !running_; }

private:
    bool fileChosen_ = false;
    bool running_ = false;
};

// How the window came to be asked to close.
enum class CloseRequest { Escape, CloseBox };
enum class CloseAnswer {
    Close,          // nothing runs: close at once
    Ignore,         // Escape during a download does nothing
    AskThenCancel,  // the close box during a download: ask, cancel on yes, close once ended
};
CloseAnswer AnswerClose(CloseRequest request, bool downloadRunning);

// The window-menu command of the about entry, and whether a command of the
// window menu is it: the low four bits are the system's.
inline constexpr unsigned kAboutCommand = 0x0010;
inline constexpr bool IsAboutCommand(unsigned command) { return (command & 0xFFF0) == kAboutCommand; }

// The question asked before a running download is cancelled by closing the
// window. It says what a yes costs, and its default answer is no: an Enter
// meant for the dialog must not cancel a download half way through.
inline constexpr const char* kCancelQuestion =
    "A download is running. Cancelling it leaves the box unprogrammed until it is flashed again.\n\n"
    "Cancel the download and close the window?";

// The controls that can hold the keyboard's focus.
enum class DialogControl { None, Browse, Path, Start, Link };
// Where the focus goes once a download has ended: back where it was when the
// download started, so that Enter after a press of "Start download" starts
// the next download instead of reaching the hidden "close".
DialogControl FocusAfterDownload(DialogControl before);

// What the bar shows while the link `linkName` is opened, so that a wrong
// choice in the drop-down shows before the download fails on it.
std::string OpeningBarText(const std::string& linkName);

// The left and top edge that centre a window of `size` on `area` (both given as
// left, top, width, height); a window larger than the area keeps its top-left corner inside it.
struct ScreenArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};
ScreenArea CentredIn(const ScreenArea& area, int width, int height);

// The name "Save log..." offers when no log was saved to before.
inline constexpr const char* kDefaultLogName = "kestrel-loader.log";
// Why the record of a download must not be appended to the file at `path`:
// it is the firmware `firmware` itself, or a file that is not a log (records
// begin with "=== "); empty for a log, an empty file or a new one.
std::string LogFileProblem(const std::string& path, const std::string& firmware);

}  // namespace kestrel
