#include "session/LinkNames.h"

#include <algorithm>
#include <cstdint>

#include "base/TextCase.h"

namespace kestrel {

namespace {

constexpr int kBadComNumber = 4;

// The port number in the digits after "COM": a decimal number from 1, without
// leading zeros, so that each port has one name. 0 for anything else.
int ComPortNumber(const std::string& digits) {
    // Nine digits keep the number within an int.
    constexpr std::size_t kMaxDigits = 9;
    if (digits.empty() || digits.size() > kMaxDigits || digits.front() == '0') {
        return 0;
    }
    int port = 0;
    for (const char character : digits) {
        if (character < '0' || character > '9') {
            return 0;
        }
        port = port * 10 + (character - '0');
    }
    return port;
}

}  // namespace

LinkChoice ChooseLink(const std::string& name) {
    LinkChoice choice;
    // A path of a POSIX device (./A in the current folder as much as /dev/ttyUSB0), or a Windows device name
    // (\\.\COM12) that opens as it is.
    if (name.find('/') != std::string::npos || name.rfind("\\\\.\\", 0) == 0) {
        choice.kind = LinkChoice::Kind::Serial;
        choice.device = name;
        return choice;
    }
    if (name.size() >= 3 && CompareIgnoringCase(name.substr(0, 3), "COM") == 0) {
        choice.kind = LinkChoice::Kind::Serial;
        const int port = ComPortNumber(name.substr(3));
        if (port == 0) {
            choice.refusal = kBadComNumber;
        } else {
            choice.port = port;
        }
        return choice;
    }
    if (name.size() > 4 && CompareIgnoringCase(name.substr(0, 4), "USB:") == 0) {
        choice.kind = LinkChoice::Kind::Usb;
        choice.usbSelector = name.substr(4);
        return choice;
    }
    const int compared = CompareIgnoringCase(name, "USB");
    if (compared == 0) {
        choice.kind = LinkChoice::Kind::Usb;
    } else {
        choice.refusal = compared;
    }
    return choice;
}

std::string PortNameProblem(const std::string& name) {
    if (const LinkChoice choice = ChooseLink(name); choice.kind != LinkChoice::Kind::None && choice.refusal == 0) {
        return {};
    }
    // A bare word would otherwise be waited for, or opened, as a file no box ever makes.
    return "not a port: " + name + " (USB, USB:N, USB:SERIAL, COMn, or a device path, which holds a /: ./" + name +
           " in the current folder)";
}

std::string UsbLinkName(const UsbDeviceInfo& device) {
    return "USB:" + (device.serialNumber.empty() ? std::to_string(device.index) : device.serialNumber);
}

std::string UsbLinkName(const UsbDeviceInfo& device, const std::vector<UsbDeviceInfo>& attached) {
    const auto sharing = std::ranges::count(attached, device.serialNumber, &UsbDeviceInfo::serialNumber);
    return sharing > 1 ? "USB:" + std::to_string(device.index) : UsbLinkName(device);
}

int FindUsbDevice(const std::string& selector, const std::vector<UsbDeviceInfo>& devices) {
    for (const auto& device : devices) {
        if (!device.serialNumber.empty() && device.serialNumber == selector) {
            return device.index;
        }
    }
    // Indices of the few devices a bus carries: more digits than this are a serial number.
    constexpr std::size_t kMaxIndexDigits = 3;
    if (selector.empty() || selector.size() > kMaxIndexDigits) {
        return -1;
    }
    int index = 0;
    for (const char character : selector) {
        if (character < '0' || character > '9') {
            return -1;
        }
        index = index * 10 + (character - '0');
    }
    return index;
}

}  // namespace kestrel
