// A stand-in for the chip vendor's FTD2XX.dll: the same calls, serving
// simulated boxes instead of real chips, so that the Windows programs and their
// D2XX driver run end to end without hardware.
//
// KESTREL_D2XX_BOXES lists the boxes, ';' between boxes: a serial number, then
// ',' and words that change the box: refuse-open, refuse-baud, refuse-framing,
// or a kestrel-box scenario (type2, silent-STAGE, hang-up-STAGE, ...).
// KESTREL_D2XX_IMAGES, if set, is a folder: every close writes the image the
// box last received to SERIAL.img there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include <windows.h>

#include "emulator/BoxScenarios.h"
#include "emulator/SimulatedUsbDriver.h"
#include "links/Clock.h"

namespace {

using kestrel::UsbHandle;
using kestrel::emulator::SimulatedUsbDevice;
using kestrel::emulator::SimulatedUsbDriver;

constexpr ULONG kInvalidHandle = 1;
constexpr ULONG kDeviceNotFound = 2;
constexpr ULONG kDeviceNotOpened = 3;
constexpr ULONG kIoError = 4;
constexpr ULONG kInvalidParameter = 6;
constexpr ULONG kPurgeRx = 1;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

// A box's words: what only the device does (refuse its opener, the rate or the
// framing), else a scenario of the emulated box by its name.
bool ApplyWord(const std::string& word, SimulatedUsbDevice& box) {
    if (word == "refuse-open") {
        box.refuseOpen = true;
    } else if (word == "refuse-baud") {
        box.refuseBaudRate = true;
    } else if (word == "refuse-framing") {
        box.refuseDataCharacteristics = true;
    } else if (const auto scenario = kestrel::emulator::FindScenario(word)) {
        box.behaviour = scenario->behaviour;
    } else {
        return false;
    }
    return true;
}

struct Boxes {
    SimulatedUsbDriver driver{kestrel::SteadyClock()};
    std::string imageFolder = Environment("KESTREL_D2XX_IMAGES");

    Boxes() {
        std::stringstream list(Environment("KESTREL_D2XX_BOXES"));
        std::string entry;
        while (std::getline(list, entry, ';')) {
            std::stringstream words(entry);
            SimulatedUsbDevice box;
            std::getline(words, box.serialNumber, ',');
            for (std::string word; std::getline(words, word, ',');) {
                if (!ApplyWord(word, box)) {
                    std::fprintf(stderr, "stand-in FTD2XX.dll: unknown word %s\n", word.c_str());
                }
            }
            if (!box.serialNumber.empty()) {
                driver.AddDevice(box);
            }
        }
    }

    void SaveImages() {
        if (imageFolder.empty()) {
            return;
        }
        for (std::size_t slot = 0; slot < driver.DeviceCount(); ++slot) {
            const auto& image = driver.Model(slot).LastImage();
            if (image.empty()) {
                continue;
            }
            const std::string path = imageFolder + "\\" + driver.Device(slot).serialNumber + ".img";
            if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
                std::fwrite(image.data(), 1, image.size(), file);
                std::fclose(file);
            }
        }
    }
};

Boxes& TheBoxes() {
    static Boxes boxes;
    return boxes;
}

std::mutex calls;  // the simulated driver serves one call at a time, as the gang's threads come

ULONG StatusOf(kestrel::UsbStatus status) {
    switch (status) {
        case 0:
            return 0;
        case SimulatedUsbDriver::kNoDevice:
            return kDeviceNotFound;
        case SimulatedUsbDriver::kRefused:
            return kDeviceNotOpened;
        case SimulatedUsbDriver::kBadHandle:
            return kInvalidHandle;
        default:
            return kIoError;
    }
}

UsbHandle Handle(void* handle) { return reinterpret_cast<UsbHandle>(handle); }

void CopyText(const std::string& text, void* buffer, std::size_t size) {
    if (buffer != nullptr) {
        const std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), length);
        static_cast<char*>(buffer)[length] = '\0';
    }
}

}  // namespace

#define KESTREL_EXPORT extern "C" __declspec(dllexport) ULONG WINAPI

KESTREL_EXPORT FT_CreateDeviceInfoList(DWORD* count) {
    std::lock_guard lock(calls);
    std::uint32_t devices = 0;
    const auto status = TheBoxes().driver.CountDevices(devices);
    *count = devices;
    return StatusOf(status);
}

KESTREL_EXPORT FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* location,
                                      void* serialNumber, void* description, void** handle) {
    std::lock_guard lock(calls);
    std::vector<kestrel::UsbDeviceInfo> devices;
    if (TheBoxes().driver.ListDevices(devices) != 0 || index >= devices.size()) {
        return kDeviceNotFound;
    }
    const auto& device = devices[index];
    *flags = 0;
    *type = 5;  // the chip family of the box
    *id = (DWORD{device.vendorId} << 16) | device.productId;
    *location = index + 1;
    *handle = nullptr;
    CopyText(device.serialNumber, serialNumber, 16);
    CopyText(device.description, description, 64);
    return 0;
}

KESTREL_EXPORT FT_Open(int index, void** handle) {
    std::lock_guard lock(calls);
    UsbHandle opened = kestrel::kNoUsbHandle;
    const auto status = TheBoxes().driver.Open(index, opened);
    *handle = reinterpret_cast<void*>(opened);
    return StatusOf(status);
}

KESTREL_EXPORT FT_Close(void* handle) {
    std::lock_guard lock(calls);
    const auto status = TheBoxes().driver.Close(Handle(handle));
    TheBoxes().SaveImages();
    return StatusOf(status);
}

KESTREL_EXPORT FT_SetBaudRate(void* handle, ULONG baudRate) {
    std::lock_guard lock(calls);
    return StatusOf(TheBoxes().driver.SetBaudRate(Handle(handle), baudRate));
}

KESTREL_EXPORT FT_SetDataCharacteristics(void* handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity) {
    std::lock_guard lock(calls);
    return StatusOf(TheBoxes().driver.SetDataCharacteristics(Handle(handle), wordLength, stopBits, parity));
}

// The read time-out of each device, as the library keeps it.
std::map<void*, ULONG>& ReadTimeouts() {
    static std::map<void*, ULONG> timeouts;
    return timeouts;
}

KESTREL_EXPORT FT_SetTimeouts(void* handle, ULONG readTimeout, ULONG /*writeTimeout*/) {
    std::lock_guard lock(calls);
    ReadTimeouts()[handle] = readTimeout;
    return 0;
}

KESTREL_EXPORT FT_SetLatencyTimer(void* /*handle*/, UCHAR milliseconds) {
    return milliseconds >= 2 ? 0 : kInvalidParameter;
}

KESTREL_EXPORT FT_Purge(void* handle, ULONG mask) {
    std::lock_guard lock(calls);
    return (mask & kPurgeRx) != 0 ? StatusOf(TheBoxes().driver.PrepareForSync(Handle(handle))) : 0;
}

KESTREL_EXPORT FT_Write(void* handle, void* buffer, DWORD count, DWORD* written) {
    std::lock_guard lock(calls);
    std::uint32_t sent = 0;
    const auto status = TheBoxes().driver.Write(Handle(handle), static_cast<std::uint8_t*>(buffer), count, sent);
    *written = sent;
    return StatusOf(status);
}

KESTREL_EXPORT FT_Read(void* handle, void* buffer, DWORD count, DWORD* received) {
    std::unique_lock lock(calls);
    const ULONG timeout = ReadTimeouts().count(handle) != 0 ? ReadTimeouts()[handle] : 0;
    lock.unlock();
    // The simulated driver waits by itself; the library's 0 means no time-out.
    std::uint32_t got = 0;
    const auto status = TheBoxes().driver.Read(Handle(handle), static_cast<std::uint8_t*>(buffer), count, got,
                                               timeout == 0 ? 0xFFFFFFFFu : timeout);
    *received = got;
    return StatusOf(status);
}

KESTREL_EXPORT FT_GetQueueStatus(void* handle, DWORD* waiting) {
    std::lock_guard lock(calls);
    std::uint32_t queued = 0;
    const auto status = TheBoxes().driver.QueueStatus(Handle(handle), queued);
    *waiting = queued;
    return StatusOf(status);
}
