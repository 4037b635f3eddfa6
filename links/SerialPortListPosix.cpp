#include "links/SerialPortList.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>
#include <system_error>

namespace kestrel {

namespace {

namespace fs = std::filesystem;

struct KindPrefix {
    SerialPortKind kind;
    std::string_view prefix;
};
// Also the order of the kinds in the result.
constexpr std::array<KindPrefix, 3> kKinds{{
    {SerialPortKind::UsbSerial, "ttyUSB"},
    {SerialPortKind::UsbModem, "ttyACM"},
    {SerialPortKind::Builtin, "ttyS"},
}};

// How many directories above the tty's device the USB device may be: one for
// a modem (the interface's parent), two for a USB serial port (port, interface).
constexpr int kUsbDeviceSearchDepth = 3;

struct Candidate {
    SerialPortKind kind;
    unsigned number;
    std::string name;  // e.g. ttyUSB0
};

// "ttyUSB12" with prefix "ttyUSB" gives 12; anything but digits after the prefix gives nothing.
std::optional<unsigned> DeviceNumber(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(prefix.size());
    unsigned number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return number;
}

std::optional<Candidate> Classify(const std::string& name) {
    for (const auto& entry : kKinds) {
        if (const auto number = DeviceNumber(name, entry.prefix)) {
            return Candidate{entry.kind, *number, name};
        }
    }
    return std::nullopt;
}

// The first line of a sysfs attribute without its line end and trailing blanks;
// nothing when the file is missing or unreadable.
std::optional<std::string> ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

std::optional<std::uint16_t> ReadHexId(const fs::path& file) {
    const auto text = ReadAttribute(file);
    if (!text || text->empty() || text->size() > 4) {
        return std::nullopt;
    }
    std::uint16_t value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value, 16);
    if (error != std::errc{} || end != text->data() + text->size()) {
        return std::nullopt;
    }
    return value;
}

bool IsWithin(const fs::path& path, const fs::path& base) {
    const auto [baseEnd, pathIt] = std::mismatch(base.begin(), base.end(), path.begin(), path.end());
    (void)pathIt;
    return baseEnd == base.end();
}

// Walks up from the tty's device to the USB device that carries idVendor, never
// leaving the tree's sysfs.
void ReadUsbDetails(const fs::path& sysRoot, const std::string& name, SerialPortInfo& port) {
    std::error_code error;
    fs::path dir = fs::canonical(sysRoot / "class" / "tty" / name / "device", error);
    if (error) {
        return;
    }
    const fs::path sysBase = fs::canonical(sysRoot, error);
    if (error) {
        return;
    }
    for (int depth = 0; depth < kUsbDeviceSearchDepth && IsWithin(dir, sysBase); ++depth) {
        if (fs::exists(dir / "idVendor", error)) {
            port.vendorId = ReadHexId(dir / "idVendor");
            port.productId = ReadHexId(dir / "idProduct");
            port.manufacturer = ReadAttribute(dir / "manufacturer").value_or("");
            port.product = ReadAttribute(dir / "product").value_or("");
            port.serialNumber = ReadAttribute(dir / "serial").value_or("");
            return;
        }
        dir = dir.parent_path();
    }
}

// A ttyS node exists for every possible port; only those whose sysfs entry has
// a device and does not report the port type 0 (no UART found) are real.
bool IsRealBuiltinPort(const fs::path& sysRoot, const std::string& name) {
    std::error_code error;
    const fs::path ttyDir = sysRoot / "class" / "tty" / name;
    if (!fs::exists(ttyDir / "device", error)) {
        return false;
    }
    const auto type = ReadAttribute(ttyDir / "type");
    return !type || (*type != "0" && !type->empty());
}

// Device name (ttyUSB0) -> the first of its names under /dev/serial/by-id, in
// alphabetical order so that the choice is stable.
std::map<std::string, std::string> ByIdNames(const fs::path& rootPath) {
    std::map<std::string, std::string> names;
    const fs::path byIdDir = rootPath / "dev" / "serial" / "by-id";
    std::error_code error;
    fs::directory_iterator it(byIdDir, error);
    if (error) {
        return names;
    }
    std::vector<fs::path> links;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error) {
            break;
        }
        if (it->is_symlink(error)) {
            links.push_back(it->path());
        }
    }
    std::sort(links.begin(), links.end());
    for (const auto& link : links) {
        fs::path target = fs::read_symlink(link, error);
        if (error) {
            continue;
        }
        // An absolute target names a path of the tree, not of this machine.
        target = target.is_absolute() ? rootPath / target.relative_path() : byIdDir / target;
        target = target.lexically_normal();
        if (target.parent_path() != (rootPath / "dev").lexically_normal()) {
            continue;
        }
        names.emplace(target.filename().string(), link.lexically_normal().string());
    }
    return names;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& root) {
    const fs::path rootPath = fs::path(root.empty() ? "/" : root);
    const fs::path devDir = rootPath / "dev";
    const fs::path sysRoot = rootPath / "sys";

    std::vector<Candidate> candidates;
    std::error_code error;
    fs::directory_iterator it(devDir, error);
    if (error) {
        return {};
    }
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error) {
            break;
        }
        if (auto candidate = Classify(it->path().filename().string())) {
            candidates.push_back(std::move(*candidate));
        }
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.kind != b.kind ? static_cast<int>(a.kind) < static_cast<int>(b.kind) : a.number < b.number;
    });

    const auto byId = ByIdNames(rootPath);
    std::vector<SerialPortInfo> ports;
    for (const auto& candidate : candidates) {
        if (candidate.kind == SerialPortKind::Builtin && !IsRealBuiltinPort(sysRoot, candidate.name)) {
            continue;
        }
        SerialPortInfo port;
        port.kind = candidate.kind;
        port.devicePath = (devDir / candidate.name).lexically_normal().string();
        if (const auto found = byId.find(candidate.name); found != byId.end()) {
            port.byIdPath = found->second;
        }
        ReadUsbDetails(sysRoot, candidate.name, port);
        ports.push_back(std::move(port));
    }
    return ports;
}

bool SerialDevicePresent(const std::string& device) {
    std::error_code error;
    return std::filesystem::exists(device, error);
}

bool SameSerialDevice(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) {
        return false;
    }
    if (a == b) {
        return true;
    }
    // Two character devices are one port when their device numbers are equal,
    // whatever the names: std::filesystem::equivalent refuses to compare them.
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) {
        return false;
    }
    if (S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode)) {
        return first.st_rdev == second.st_rdev;
    }
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace kestrel
