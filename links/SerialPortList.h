#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

enum class SerialPortKind { UsbSerial, UsbModem, Builtin };  // ttyUSB, ttyACM, ttyS

// One serial device of this machine, as a front end offers it for a download.
struct SerialPortInfo {
    SerialPortKind kind = SerialPortKind::Builtin;
    std::string devicePath{};  // e.g. /dev/ttyUSB0
    std::string byIdPath{};    // its stable name under /dev/serial/by-id, empty if none
    // Read from the USB device the port belongs to; unset or empty when unknown.
    std::optional<std::uint16_t> vendorId{};
    std::optional<std::uint16_t> productId{};
    std::string manufacturer{};
    std::string product{};
    std::string serialNumber{};

    // What to open: the stable name if there is one, since a ttyUSB number can
    // change from one plug-in to the next.
    const std::string& LinkName() const { return byIdPath.empty() ? devicePath : byIdPath; }
};

// The serial devices under `root` (another root lets tests build a fake tree):
// ttyUSB and ttyACM devices, then the ttyS ports that have real hardware behind
// them. Each kind is ordered by its number. Never throws; an unreadable tree
// gives fewer entries.
// On Windows the ports the system's serial-port map names (COM1, COM2, ...),
// whatever `root`.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& root = "/");

// Whether the serial device that `device` names (a path, or on Windows a COM
// name or \\.\ device) is there to be opened.
bool SerialDevicePresent(const std::string& device);
// Whether two names lead to the same serial device (a link and its target, or
// two spellings of one COM port). Empty names match nothing.
bool SameSerialDevice(const std::string& a, const std::string& b);

}  // namespace kestrel
