#include "station/PortListing.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "links/SerialDeviceIdentity.h"
#include "links/SerialLink.h"
#include "session/LinkNames.h"
#include "station/JsonLines.h"

namespace kestrel {

namespace {

std::string HexId(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", id);
    return text;
}

}  // namespace

PortEntry PortEntryOf(const SerialPortInfo& info) {
    PortEntry entry;
    entry.kind = PortEntry::Kind::Serial;
    entry.linkName = info.LinkName();
    entry.devicePath = info.devicePath;
    entry.byIdPath = info.byIdPath;
    entry.vendorId = info.vendorId;
    entry.productId = info.productId;
    entry.manufacturer = info.manufacturer;
    entry.description = info.product;
    entry.serialNumber = info.serialNumber;
    return entry;
}

PortEntry PortEntryOf(const UsbDeviceInfo& info) {
    PortEntry entry;
    entry.kind = PortEntry::Kind::Usb;
    entry.linkName = UsbLinkName(info);
    entry.usbIndex = info.index;
    if (info.vendorId != 0 || info.productId != 0) {
        entry.vendorId = info.vendorId;
        entry.productId = info.productId;
    }
    entry.description = info.description;
    entry.serialNumber = info.serialNumber;
    return entry;
}

std::vector<PortEntry> ListPorts(const std::string& root, UsbDriver* usb) {
    std::vector<PortEntry> ports;
    for (const auto& info : ListSerialPorts(root)) {
        ports.push_back(PortEntryOf(info));
    }
    std::vector<UsbDeviceInfo> devices;
    if (usb != nullptr && usb->ListDevices(devices) == 0) {
        for (const auto& info : devices) {
            ports.push_back(PortEntryOf(info));
            ports.back().linkName = UsbLinkName(info, devices);
            ports.back().sharedSerial = !info.serialNumber.empty() && ports.back().linkName != UsbLinkName(info);
        }
    }
    return ports;
}

std::string DescribeIdentity(const PortEntry& port) {
    std::string text;
    const auto add = [&text](const std::string& part, const char* separator = " ") {
        if (!part.empty()) {
            text += (text.empty() ? "" : separator) + part;
        }
    };
    if (port.vendorId && port.productId) {
        add("USB " + HexId(*port.vendorId) + ":" + HexId(*port.productId));
    }
    add(port.manufacturer);
    add(port.description);
    if (!port.serialNumber.empty()) {
        add("serial " + port.serialNumber, text.empty() ? "" : ", ");
    }
    return text;
}

std::string IdentityOfLink(const std::string& linkName, std::optional<int> openedUsbIndex, UsbDriver& usb) {
    const std::string opened = openedUsbIndex ? "USB:" + std::to_string(*openedUsbIndex) : linkName;
    const auto port = FindPort(ListPorts("/", &usb), opened);
    return port ? DescribeIdentity(*port) : std::string();
}

std::string BoxSerialOf(const std::string& linkName, UsbDriver& usb, const std::string& root) {
    const auto ports = ListPorts(root, &usb);
    const LinkChoice choice = ChooseLink(linkName);
    if (choice.kind == LinkChoice::Kind::Usb && choice.usbSelector.empty()) {
        // A plain "USB" opens whichever box takes it: only a box alone on the bus is known before.
        const auto usbPorts = std::count_if(ports.begin(), ports.end(),
                                            [](const PortEntry& port) { return port.kind == PortEntry::Kind::Usb; });
        const auto only = std::find_if(ports.begin(), ports.end(),
                                       [](const PortEntry& port) { return port.kind == PortEntry::Kind::Usb; });
        return usbPorts == 1 ? only->serialNumber : std::string();
    }
    const auto port = FindPort(ports, linkName);
    return port ? port->serialNumber : std::string();
}

std::string DescribePort(const PortEntry& port) {
    std::string line = port.linkName;
    if (port.kind == PortEntry::Kind::Serial && port.linkName != port.devicePath) {
        line += " (" + port.devicePath + ")";
    }
    if (port.kind == PortEntry::Kind::Usb) {
        line += " (USB index " + std::to_string(port.usbIndex) + ")";
    }
    if (const std::string identity = DescribeIdentity(port); !identity.empty()) {
        line += "  " + identity;
    }
    if (port.sharedSerial) {
        line += " (shared with another box: named by its index)";
    }
    return line;
}

std::vector<std::string> PortListText(const std::vector<PortEntry>& ports) {
    std::vector<std::string> lines;
    for (const auto& port : ports) {
        lines.push_back(DescribePort(port));
    }
    return lines;
}

std::vector<std::string> PortListJson(const std::vector<PortEntry>& ports) {
    std::vector<std::string> lines;
    for (const auto& port : ports) {
        JsonObject object;
        object.Add("event", "port").Add("link", port.linkName);
        if (port.kind == PortEntry::Kind::Serial) {
            object.Add("kind", "serial").Add("device", port.devicePath);
            if (port.byIdPath.empty()) {
                object.AddNull("byId");
            } else {
                object.Add("byId", port.byIdPath);
            }
        } else {
            object.Add("kind", "usb").Add("index", std::int64_t{port.usbIndex});
        }
        if (port.vendorId && port.productId) {
            object.Add("vendorId", HexId(*port.vendorId)).Add("productId", HexId(*port.productId));
        } else {
            object.AddNull("vendorId").AddNull("productId");
        }
        object.Add("manufacturer", port.manufacturer)
            .Add("description", port.description)
            .Add("serial", port.serialNumber);
        lines.push_back(object.Text());
    }
    return lines;
}

std::optional<PortEntry> FindPort(const std::vector<PortEntry>& ports, const std::string& linkName) {
    const LinkChoice choice = ChooseLink(linkName);
    if (choice.kind == LinkChoice::Kind::Usb && !choice.usbSelector.empty()) {
        std::vector<UsbDeviceInfo> devices;
        for (const auto& port : ports) {
            if (port.kind == PortEntry::Kind::Usb) {
                UsbDeviceInfo device;
                device.index = port.usbIndex;
                device.serialNumber = port.serialNumber;
                devices.push_back(device);
            }
        }
        const int index = FindUsbDevice(choice.usbSelector, devices);
        for (const auto& port : ports) {
            if (port.kind == PortEntry::Kind::Usb && port.usbIndex == index) {
                return port;
            }
        }
        return std::nullopt;
    }
    if (choice.kind == LinkChoice::Kind::Serial && choice.refusal == 0) {
        const std::string path = choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device;
        for (const auto& port : ports) {
            if (port.kind == PortEntry::Kind::Serial &&
                (SameSerialDevice(path, port.devicePath) || SameSerialDevice(path, port.byIdPath))) {
                return port;
            }
        }
    }
    return std::nullopt;
}

bool LinkPresent(const std::string& linkName, UsbDriver& usb) {
    const LinkChoice choice = ChooseLink(linkName);
    if (choice.kind == LinkChoice::Kind::Serial) {
        if (choice.refusal != 0) {
            return false;
        }
        return SerialDevicePresent(choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device);
    }
    if (choice.kind != LinkChoice::Kind::Usb) {
        return false;
    }
    std::vector<UsbDeviceInfo> devices;
    if (usb.ListDevices(devices) != 0) {
        return false;
    }
    if (choice.usbSelector.empty()) {
        return !devices.empty();
    }
    const int index = FindUsbDevice(choice.usbSelector, devices);
    return index >= 0 && static_cast<std::size_t>(index) < devices.size();
}

namespace {

const std::string kDeviceKey = "device:";

// What a link name opens: one text for each USB box however it is named, the
// device path of a serial port; and the serial number of the USB chip behind
// it, where one is known.
struct PortIdentity {
    std::string key;
    std::string usbSerial;
    bool serialDevice = false;
};

PortIdentity IdentifyPort(const std::string& linkName, UsbDriver& usb, std::vector<UsbDeviceInfo>& devices,
                          bool& listed, const std::string& root) {
    const LinkChoice choice = ChooseLink(linkName);
    if (choice.kind == LinkChoice::Kind::Usb) {
        if (choice.usbSelector.empty()) {
            return {"usb", {}};
        }
        if (!listed) {
            listed = true;
            if (usb.ListDevices(devices) != 0) {
                devices.clear();
            }
        }
        const int index = FindUsbDevice(choice.usbSelector, devices);
        std::string selector = choice.usbSelector;
        for (char& c : selector) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (index < 0) {
            return {"usb:" + selector, choice.usbSelector};
        }
        const auto device =
            std::find_if(devices.begin(), devices.end(), [index](const UsbDeviceInfo& d) { return d.index == index; });
        return {"usb#" + std::to_string(index), device == devices.end() ? "" : device->serialNumber};
    }
    if (choice.kind == LinkChoice::Kind::Serial) {
        const std::string path = choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device;
        return {kDeviceKey + path, UsbSerialNumberOfDevice(path, root), true};
    }
    return {};  // no port: the download says so
}

// COM1 and /dev/ttyS0, or a device and a link to it, are one port: the
// system's own rule decides. A box's tty and the box named on USB are one
// port too; two ttys of one chip (a dual-port converter) are not.
bool SamePort(const PortIdentity& port, const PortIdentity& other) {
    const auto device = [](const std::string& k) {
        return k.rfind(kDeviceKey, 0) == 0 ? k.substr(kDeviceKey.size()) : "";
    };
    if (!device(port.key).empty() && !device(other.key).empty()) {
        return SameSerialDevice(device(port.key), device(other.key));
    }
    if (port.serialDevice != other.serialDevice && !port.usbSerial.empty() && port.usbSerial == other.usbSerial) {
        return true;
    }
    // A plain "USB" takes the lowest index that opens, which may well be the box named beside it.
    const auto anyUsb = [](const std::string& k) { return k == "usb"; };
    const auto usb = [](const std::string& k) { return k.starts_with("usb"); };
    if ((anyUsb(port.key) && usb(other.key)) || (anyUsb(other.key) && usb(port.key))) {
        return true;
    }
    return !port.key.empty() && port.key == other.key;
}

}  // namespace

std::string PortGivenTwice(const std::vector<std::string>& linkNames, UsbDriver& usb, const std::string& root) {
    std::vector<UsbDeviceInfo> devices;
    bool listed = false;
    std::vector<std::pair<PortIdentity, std::string>> seen;  // identity, name
    for (const auto& name : linkNames) {
        const PortIdentity port = IdentifyPort(name, usb, devices, listed, root);
        for (const auto& [earlier, earlierName] : seen) {
            if (SamePort(port, earlier)) {
                return "the port " + earlierName + " is given twice" +
                       (name == earlierName ? std::string() : " (again as " + name + ")");
            }
        }
        seen.emplace_back(port, name);
    }
    return {};
}

}  // namespace kestrel
