#include "links/D2xxUsbDriver.h"

#include <algorithm>
#include <memory>
#include <type_traits>

#include <windows.h>

namespace kestrel {

namespace {

// The library's calls as its programmer's guide gives them. Every call returns
// a status, 0 (FT_OK) for success.
using FtStatus = ULONG;
using FtHandle = void*;
using CreateDeviceInfoListCall = FtStatus(WINAPI*)(DWORD* count);
using GetDeviceInfoDetailCall = FtStatus(WINAPI*)(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* location,
                                                  void* serialNumber, void* description, FtHandle* handle);
using OpenCall = FtStatus(WINAPI*)(int index, FtHandle* handle);
using CloseCall = FtStatus(WINAPI*)(FtHandle handle);
using SetBaudRateCall = FtStatus(WINAPI*)(FtHandle handle, ULONG baudRate);
using SetDataCharacteristicsCall = FtStatus(WINAPI*)(FtHandle handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
using SetTimeoutsCall = FtStatus(WINAPI*)(FtHandle handle, ULONG readTimeout, ULONG writeTimeout);
using SetLatencyTimerCall = FtStatus(WINAPI*)(FtHandle handle, UCHAR milliseconds);
using PurgeCall = FtStatus(WINAPI*)(FtHandle handle, ULONG mask);
using WriteCall = FtStatus(WINAPI*)(FtHandle handle, void* buffer, DWORD count, DWORD* written);
using ReadCall = FtStatus(WINAPI*)(FtHandle handle, void* buffer, DWORD count, DWORD* received);
using GetQueueStatusCall = FtStatus(WINAPI*)(FtHandle handle, DWORD* waiting);

// Statuses and codes of the library.
constexpr FtStatus kFtDeviceNotFound = 2;
constexpr FtStatus kFtDeviceNotOpened = 3;
constexpr ULONG kFtPurgeRx = 1;
constexpr ULONG kFtPurgeTx = 2;
// A read time-out of 0 means none to the library: the shortest bound there is.
constexpr std::uint32_t kShortestReadMs = 1;
// The sizes the guide gives for the listing's texts.
constexpr std::size_t kSerialNumberSize = 16;
constexpr std::size_t kDescriptionSize = 64;

FtHandle AsFt(UsbHandle handle) { return reinterpret_cast<FtHandle>(handle); }

// A text of the listing: up to its terminator, never past its buffer.
std::string TextOf(const char* buffer, std::size_t size) {
    std::size_t length = 0;
    while (length < size && buffer[length] != '\0') {
        ++length;
    }
    return std::string(buffer, length);
}

template <typename Call>
bool Find(HMODULE module, const char* name, Call& call) {
    call = reinterpret_cast<Call>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return call != nullptr;
}

struct ModuleRelease {
    void operator()(HMODULE module) const { ::FreeLibrary(module); }
};
using ModulePtr = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleRelease>;

}  // namespace

// Unloaded with the driver, after its last call.
struct D2xxUsbDriver::Library {
    ModulePtr module;
    CreateDeviceInfoListCall createDeviceInfoList = nullptr;
    GetDeviceInfoDetailCall getDeviceInfoDetail = nullptr;
    OpenCall open = nullptr;
    CloseCall close = nullptr;
    SetBaudRateCall setBaudRate = nullptr;
    SetDataCharacteristicsCall setDataCharacteristics = nullptr;
    SetTimeoutsCall setTimeouts = nullptr;
    SetLatencyTimerCall setLatencyTimer = nullptr;
    PurgeCall purge = nullptr;
    WriteCall write = nullptr;
    ReadCall read = nullptr;
    GetQueueStatusCall getQueueStatus = nullptr;

    bool FindAll() {
        HMODULE found = module.get();
        return Find(found, "FT_CreateDeviceInfoList", createDeviceInfoList) &&
               Find(found, "FT_GetDeviceInfoDetail", getDeviceInfoDetail) && Find(found, "FT_Open", open) &&
               Find(found, "FT_Close", close) && Find(found, "FT_SetBaudRate", setBaudRate) &&
               Find(found, "FT_SetDataCharacteristics", setDataCharacteristics) &&
               Find(found, "FT_SetTimeouts", setTimeouts) && Find(found, "FT_SetLatencyTimer", setLatencyTimer) &&
               Find(found, "FT_Purge", purge) && Find(found, "FT_Write", write) && Find(found, "FT_Read", read) &&
               Find(found, "FT_GetQueueStatus", getQueueStatus);
    }
};

D2xxUsbDriver::D2xxUsbDriver(std::wstring libraryName) : libraryName_(std::move(libraryName)) {}

D2xxUsbDriver::~D2xxUsbDriver() = default;

const D2xxUsbDriver::Library* D2xxUsbDriver::Calls() {
    std::call_once(loading_, [this] {
        // Not from the current directory: only the program's own folder, the
        // system folders and those the program added, where the driver installs it.
        auto library = std::make_unique<Library>();
        library->module.reset(::LoadLibraryExW(libraryName_.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
        if (library->module && library->FindAll()) {
            library_ = std::move(library);
        }
    });
    return library_.get();
}

UsbStatus D2xxUsbDriver::CountDevices(std::uint32_t& count) {
    count = 0;
    const Library* calls = Calls();
    if (calls == nullptr) {
        return kNoLibrary;
    }
    DWORD devices = 0;
    const FtStatus status = calls->createDeviceInfoList(&devices);
    count = status == 0 ? devices : 0;
    return static_cast<UsbStatus>(status);
}

UsbStatus D2xxUsbDriver::ListDevices(std::vector<UsbDeviceInfo>& devices) {
    devices.clear();
    std::uint32_t count = 0;
    if (const UsbStatus status = CountDevices(count); status != 0) {
        return status;
    }
    const Library* calls = Calls();
    for (DWORD index = 0; index < count; ++index) {
        DWORD flags = 0;
        DWORD type = 0;
        DWORD id = 0;
        DWORD location = 0;
        char serialNumber[kSerialNumberSize + 1] = {};
        char description[kDescriptionSize + 1] = {};
        FtHandle handle = nullptr;
        if (calls->getDeviceInfoDetail(index, &flags, &type, &id, &location, serialNumber, description, &handle) != 0) {
            continue;
        }
        UsbDeviceInfo info;
        info.index = static_cast<int>(index);
        info.description = TextOf(description, kDescriptionSize);
        info.serialNumber = TextOf(serialNumber, kSerialNumberSize);
        info.vendorId = static_cast<std::uint16_t>(id >> 16);
        info.productId = static_cast<std::uint16_t>(id & 0xffff);
        devices.push_back(std::move(info));
    }
    return 0;
}

UsbStatus D2xxUsbDriver::Open(int index, UsbHandle& handle, UsbOpenProblem& problem) {
    handle = kNoUsbHandle;
    problem = UsbOpenProblem::None;
    const Library* calls = Calls();
    if (calls == nullptr) {
        problem = UsbOpenProblem::NoDriver;
        return kNoLibrary;
    }
    FtHandle device = nullptr;
    const FtStatus status = calls->open(index, &device);
    if (status != 0 || device == nullptr) {
        problem = status == kFtDeviceNotFound    ? UsbOpenProblem::NoDevice
                  : status == kFtDeviceNotOpened ? UsbOpenProblem::Busy
                                                 : UsbOpenProblem::Other;
        return status != 0 ? static_cast<UsbStatus>(status) : static_cast<UsbStatus>(kFtDeviceNotOpened);
    }
    // A short latency lets single answer bytes through at once; the purge drops
    // what the chip held from before. Neither is essential, so a refusal is let be.
    calls->setLatencyTimer(device, kLatencyTimerMs);
    calls->setTimeouts(device, kShortestReadMs, kWriteTimeoutMs);
    calls->purge(device, kFtPurgeRx | kFtPurgeTx);
    handle = reinterpret_cast<UsbHandle>(device);
    std::lock_guard lock(mutex_);
    readTimeouts_[handle] = kShortestReadMs;
    return 0;
}

UsbStatus D2xxUsbDriver::Close(UsbHandle handle) {
    const Library* calls = Calls();
    if (calls == nullptr) {
        return kNoLibrary;
    }
    const FtStatus status = calls->close(AsFt(handle));
    if (status == 0) {
        std::lock_guard lock(mutex_);
        readTimeouts_.erase(handle);
    }
    return static_cast<UsbStatus>(status);
}

UsbStatus D2xxUsbDriver::SetBaudRate(UsbHandle handle, std::uint32_t baudRate) {
    const Library* calls = Calls();
    return calls == nullptr ? kNoLibrary : static_cast<UsbStatus>(calls->setBaudRate(AsFt(handle), baudRate));
}

UsbStatus D2xxUsbDriver::SetDataCharacteristics(UsbHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                                std::uint8_t parity) {
    const Library* calls = Calls();
    if (calls == nullptr) {
        return kNoLibrary;
    }
    // The link's codes are the library's: word length 7 or 8, stop bits 0 (one)
    // or 2 (two), parity 0 to 4 (none, odd, even, mark, space).
    if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4) {
        return kBadSetting;
    }
    return static_cast<UsbStatus>(calls->setDataCharacteristics(AsFt(handle), wordLength, stopBits, parity));
}

UsbStatus D2xxUsbDriver::Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count,
                               std::uint32_t& written) {
    written = 0;
    const Library* calls = Calls();
    if (calls == nullptr) {
        return kNoLibrary;
    }
    DWORD sent = 0;
    const FtStatus status = calls->write(AsFt(handle), const_cast<std::uint8_t*>(data), count, &sent);
    written = sent;
    return static_cast<UsbStatus>(status);
}

UsbStatus D2xxUsbDriver::Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                              std::uint32_t timeoutMs) {
    received = 0;
    const Library* calls = Calls();
    if (calls == nullptr) {
        return kNoLibrary;
    }
    // The library's read waits for all `count` bytes up to the device's read
    // time-out; set only when it changes, as most reads of a download share one.
    // To the library 0 would mean no time-out at all.
    timeoutMs = std::max(timeoutMs, kShortestReadMs);
    bool change = false;
    {
        std::lock_guard lock(mutex_);
        auto& current = readTimeouts_[handle];
        change = current != timeoutMs;
        current = timeoutMs;
    }
    if (change) {
        if (const FtStatus status = calls->setTimeouts(AsFt(handle), timeoutMs, kWriteTimeoutMs); status != 0) {
            std::lock_guard lock(mutex_);
            readTimeouts_[handle] = 0;
            return static_cast<UsbStatus>(status);
        }
    }
    DWORD got = 0;
    const FtStatus status = calls->read(AsFt(handle), buffer, count, &got);
    received = got < count ? got : count;
    return static_cast<UsbStatus>(status);
}

UsbStatus D2xxUsbDriver::QueueStatus(UsbHandle handle, std::uint32_t& waiting) {
    waiting = 0;
    const Library* calls = Calls();
    if (calls == nullptr) {
        return kNoLibrary;
    }
    DWORD queued = 0;
    const FtStatus status = calls->getQueueStatus(AsFt(handle), &queued);
    waiting = status == 0 ? queued : 0;
    return static_cast<UsbStatus>(status);
}

UsbStatus D2xxUsbDriver::PrepareForSync(UsbHandle handle) {
    const Library* calls = Calls();
    return calls == nullptr ? kNoLibrary : static_cast<UsbStatus>(calls->purge(AsFt(handle), kFtPurgeRx));
}

Clock& D2xxUsbDriver::TimeBase() { return SteadyClock(); }

UsbDriver& SystemUsbDriver() {
    static D2xxUsbDriver driver;
    return driver;
}

}  // namespace kestrel
