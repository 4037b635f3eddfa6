#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "links/SerialPortList.h"
#include "links/UsbDriver.h"

namespace kestrel {

// One link a download could use: a serial device, or a USB box by its index.
struct PortEntry {
    enum class Kind { Serial, Usb };
    Kind kind = Kind::Serial;
    // What to give as the link name: the stable by-id path of a serial device,
    // "USB:SERIAL" for a USB box with a serial number of its own, else "USB:N".
    std::string linkName;
    std::string devicePath;  // serial only
    std::string byIdPath;    // serial only, empty if none
    int usbIndex = -1;       // USB only
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    std::string manufacturer;
    std::string description;  // the USB product or the chip's description
    std::string serialNumber;
    bool sharedSerial = false;  // USB only: another box has its serial number, so it goes by "USB:N"
};

// The entry of one serial device or one USB box.
PortEntry PortEntryOf(const SerialPortInfo& info);
PortEntry PortEntryOf(const UsbDeviceInfo& info);

// Every candidate link: the serial devices under `root` (see ListSerialPorts),
// then the devices that `usb` lists, by index. A null driver or a failed
// listing gives no USB entries.
std::vector<PortEntry> ListPorts(const std::string& root, UsbDriver* usb);

// One entry for people: the link name first, then what is known of it.
std::string DescribePort(const PortEntry& port);
// One line per entry, for people: the link name first, then what is known of it.
std::vector<std::string> PortListText(const std::vector<PortEntry>& ports);
// One JSON object per entry, for scripts.
std::vector<std::string> PortListJson(const std::vector<PortEntry>& ports);

// The entry that `linkName` opens, if it is listed: by path (following the
// by-id link) for a serial device, by index or serial number for "USB:".
std::optional<PortEntry> FindPort(const std::vector<PortEntry>& ports, const std::string& linkName);
// Whether the link that `linkName` names is there to be opened: its device
// file exists, or `usb` lists the device (any device for a plain "USB").
bool LinkPresent(const std::string& linkName, UsbDriver& usb);

// Empty when every name in `linkNames` names another port; else a sentence
// naming the port given twice: the same name in any case, the same device
// through a link, the same USB box by its index and its serial number (as
// `usb` lists it), or a USB box and the tty of its chip (found in the sysfs
// tree below `root`, see UsbSerialNumberOfDevice).
std::string PortGivenTwice(const std::vector<std::string>& linkNames, UsbDriver& usb, const std::string& root = "/");

// The serial number of the box that `linkName` reaches now, looked up before
// its download: a USB box's own, or that of the USB chip behind a tty (found
// below `root`). Empty for a port with no such number (a plain serial line, a
// pseudo-terminal) and for a plain "USB" with several boxes attached.
std::string BoxSerialOf(const std::string& linkName, UsbDriver& usb, const std::string& root = "/");

// "USB 0403:6001 FTDI Kestrel box, serial A1" for reports; empty when nothing is known.
std::string DescribeIdentity(const PortEntry& port);
// The identity of the box a download used: that of `linkName`, or of the USB
// device index that opened when one did (a plain "USB" names no box).
std::string IdentityOfLink(const std::string& linkName, std::optional<int> openedUsbIndex, UsbDriver& usb);

}  // namespace kestrel
