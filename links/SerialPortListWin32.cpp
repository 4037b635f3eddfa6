#include <algorithm>
#include <cwctype>
#include <map>

#include <windows.h>
// After windows.h, which it builds on.
#include <setupapi.h>

#include "base/Utf16.h"
#include "links/SerialPortList.h"

namespace kestrel {

namespace {

// The device set-up class of serial and parallel ports.
constexpr GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// "COM12" and "\\.\com12" both give "COM12"; other names stay as they are.
std::string PortName(const std::string& name) {
    std::string plain = name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
    std::transform(plain.begin(), plain.end(), plain.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
    return plain;
}

// The number of "COMn", 0 for any other name.
unsigned PortNumber(const std::string& name) {
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0) {
        return 0;
    }
    unsigned number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || number > 100000) {
            return 0;
        }
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return number;
}

// The COM names of the system's serial-port map, each once.
std::vector<std::string> MappedPorts() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameLength = 256;
        wchar_t data[64] = {};
        DWORD dataSize = sizeof data - sizeof(wchar_t);  // room for a terminator the value may lack
        DWORD type = 0;
        const LONG result = ::RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        const std::string name = PortName(Utf8FromWide(data));
        if (PortNumber(name) != 0 && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    ::RegCloseKey(key);
    return names;
}

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[512] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE*>(text),
                                             sizeof text - sizeof(wchar_t), nullptr)) {
        return {};
    }
    return Utf8FromWide(text);
}

// A four-digit hex number after `tag` in a hardware id such as
// "USB\VID_0403&PID_6001&REV_0600".
std::optional<std::uint16_t> HexAfter(const std::string& id, const std::string& tag) {
    const auto at = id.find(tag);
    if (at == std::string::npos || at + tag.size() + 4 > id.size()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (std::size_t i = at + tag.size(); i < at + tag.size() + 4; ++i) {
        const char c = id[i];
        const int digit = (c >= '0' && c <= '9')   ? c - '0'
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                   : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

// What the device manager knows of each present port, by its COM name.
std::map<std::string, SerialPortInfo> PortDetails() {
    std::map<std::string, SerialPortInfo> details;
    HDEVINFO set = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return details;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        wchar_t portName[64] = {};
        DWORD size = sizeof portName - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result =
            ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName), &size);
        ::RegCloseKey(key);
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        SerialPortInfo info;
        info.product = DeviceProperty(set, device, SPDRP_FRIENDLYNAME);
        info.manufacturer = DeviceProperty(set, device, SPDRP_MFG);
        const std::string hardwareId = DeviceProperty(set, device, SPDRP_HARDWAREID);
        info.vendorId = HexAfter(hardwareId, "VID_");
        info.productId = HexAfter(hardwareId, "PID_");
        if (info.vendorId && info.productId) {
            info.kind = SerialPortKind::UsbSerial;
        }
        details.emplace(PortName(Utf8FromWide(portName)), std::move(info));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return details;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& /*root*/) {
    std::vector<std::string> names = MappedPorts();
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return PortNumber(a) < PortNumber(b); });
    const auto details = PortDetails();
    std::vector<SerialPortInfo> ports;
    for (const auto& name : names) {
        SerialPortInfo port;
        if (const auto found = details.find(name); found != details.end()) {
            port = found->second;
        }
        port.devicePath = name;
        ports.push_back(std::move(port));
    }
    return ports;
}

bool SerialDevicePresent(const std::string& device) {
    const std::string name = PortName(device);
    if (name.empty()) {
        return false;
    }
    wchar_t target[1024];
    if (::QueryDosDeviceW(WideFromUtf8(name).c_str(), target, 1024) != 0) {
        return true;
    }
    // Not every system names every port there (Wine names only the ports it
    // found at start); a port that opens, or is held by another program, is there.
    const std::wstring path = WideFromUtf8("\\\\.\\" + name);
    HANDLE handle = ::CreateFileW(path.c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return true;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY;
}

bool SameSerialDevice(const std::string& a, const std::string& b) {
    return !a.empty() && !b.empty() && PortName(a) == PortName(b);
}

}  // namespace kestrel
