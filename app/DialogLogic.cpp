#include "app/DialogLogic.h"

#include <cstdio>

#include "base/FileOpen.h"
#include "base/TextCase.h"
#include "links/SerialLink.h"
#include "session/LinkNames.h"
#include "station/PortListing.h"

namespace kestrel {

namespace {

LinkMenuEntry EntryOf(const PortEntry& port) { return {port.linkName, port.linkName, DescribePort(port)}; }

constexpr int kFixedComPorts = 8;

// Whether one of the fixed entries "COM1" to "COM8" already opens `port`.
bool AmongFixedPorts(const SerialPortInfo& port) {
    for (int number = 1; number <= kFixedComPorts; ++number) {
        if (SameSerialDevice(port.devicePath, SerialLink::DeviceForPort(number))) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<LinkMenuEntry> LinkMenuEntries(const std::vector<SerialPortInfo>& serialPorts,
                                           const std::vector<UsbDeviceInfo>& usbBoxes) {
    std::vector<LinkMenuEntry> entries{{"USB", "USB", ""}};
    for (int port = 1; port <= kFixedComPorts; ++port) {
        const std::string name = "COM" + std::to_string(port);
        entries.push_back({name, name, ""});
    }
    for (const auto& box : usbBoxes) {
        entries.push_back(EntryOf(PortEntryOf(box)));
    }
    for (const auto& port : serialPorts) {
        if (port.kind != SerialPortKind::Builtin || !AmongFixedPorts(port)) {
            entries.push_back(EntryOf(PortEntryOf(port)));
        }
    }
    return entries;
}

std::vector<UsbDeviceInfo> ListUsbBoxes(UsbDriver& driver) {
    std::vector<UsbDeviceInfo> boxes;
    if (driver.ListDevices(boxes) != 0) {
        boxes.clear();
    }
    return boxes;
}

std::optional<std::size_t> FindLinkMenuEntry(const std::vector<LinkMenuEntry>& entries, const std::string& name) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (CompareIgnoringCase(entries[i].text, name) == 0 || entries[i].linkName == name) {
            return i;
        }
    }
    return std::nullopt;
}

bool SelectsALink(const std::string& name) {
    const LinkChoice choice = ChooseLink(name);
    return choice.kind != LinkChoice::Kind::None && choice.refusal == 0;
}

std::optional<int> ScrolledTopLine(int lineCount) {
    if (lineCount > 2) {
        return lineCount - 3;
    }
    return std::nullopt;
}

CloseAnswer AnswerClose(CloseRequest request, bool downloadRunning) {
    if (!downloadRunning) {
        return CloseAnswer::Close;
    }
    return request == CloseRequest::Escape ? CloseAnswer::Ignore : CloseAnswer::AskThenCancel;
}

DialogControl FocusAfterDownload(DialogControl before) {
    return before == DialogControl::None ? DialogControl::Start : before;
}

std::string OpeningBarText(const std::string& linkName) { return "Opening " + linkName + "..."; }

ScreenArea CentredIn(const ScreenArea& area, int width, int height) {
    const auto centre = [](int start, int room, int size) { return size >= room ? start : start + (room - size) / 2; };
    return {centre(area.left, area.width, width), centre(area.top, area.height, height), width, height};
}

std::string LogFileProblem(const std::string& path, const std::string& firmware) {
    if (!firmware.empty() && SameFile(path, firmware)) {
        return path + " is the firmware file: a record appended to it would change the firmware.";
    }
    const UniqueFile file(OpenFile(path, "rb"));
    char start[4] = {};
    if (file && std::fread(start, 1, sizeof start, file.get()) > 0 && std::string(start, sizeof start) != "=== ") {
        return path + " is not a log of Kestrel Loader: a record appended to it would spoil the file.";
    }
    return {};
}

}  // namespace kestrel
