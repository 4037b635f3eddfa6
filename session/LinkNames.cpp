#include "session/LinkNames.h"

#include <cstdint>

namespace kestrel {

namespace {

int Folded(char character) {
    const auto code = static_cast<unsigned char>(character);
    return (code >= 'A' && code <= 'Z') ? code - 'A' + 'a' : code;
}

constexpr int kBadComDigit = 4;

}  // namespace

int CompareIgnoringCase(const std::string& left, const std::string& right) {
    const std::size_t common = left.size() < right.size() ? left.size() : right.size();
    for (std::size_t i = 0; i < common; ++i) {
        const int difference = Folded(left[i]) - Folded(right[i]);
        if (difference != 0) {
            return difference;
        }
    }
    if (left.size() == right.size()) {
        return 0;
    }
    return left.size() < right.size() ? -1 : 1;
}

LinkChoice ChooseLink(const std::string& name) {
    LinkChoice choice;
    // A path of a POSIX device, or a Windows device name (\\.\COM12) that opens as it is.
    if ((!name.empty() && name.front() == '/') || name.rfind("\\\\.\\", 0) == 0) {
        choice.kind = LinkChoice::Kind::Serial;
        choice.device = name;
        return choice;
    }
    if (name.size() >= 3 && CompareIgnoringCase(name.substr(0, 3), "COM") == 0) {
        choice.kind = LinkChoice::Kind::Serial;
        // A missing fourth character reads as the terminator and fails like any non-digit.
        const char fourth = name.size() > 3 ? name[3] : '\0';
        const auto digit = static_cast<std::uint8_t>(fourth - '0');
        if (digit < 1 || digit > 8) {
            choice.refusal = kBadComDigit;
        } else {
            choice.port = digit;
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
