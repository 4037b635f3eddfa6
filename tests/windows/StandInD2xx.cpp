// A stand-in for the chip vendor's FTD2XX.dll: the same calls, serving
// simulated boxes instead of real chips, so that the Windows programs and their
// D2XX driver run end to end without hardware.
//
// KESTREL_D2XX_BOXES lists the boxes, ';' between boxes: a serial number, then
// ',' and words that change the box: refuse-open, refuse-baud, refuse-framing,
// or a kestrel-box scenario (type2, silent-STAGE, hang-up-STAGE, ...).
// KESTREL_D2XX_IMAGES, if set, is a folder: every close writes the image the
// box last received to SERIAL.img there.
// KESTREL_D2XX_PLUGGED, if set, is a file naming the boxes plugged in (their
// serial numbers, apart by blanks), read at every listing; a box it does not
// name is out, so that a test plugs boxes in and out while a program runs.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include <windows.h>

#include "base/Clock.h"
#include "emulator/BoxScenarios.h"
#include "emulator/SimulatedUsbDriver.h"

namespace {

using kestrel::UsbHandle;
using kestrel::emulator::SimulatedUsbDevice;
using kestrel::emulator::SimulatedUsbDriver;

// The library's statuses, and its purge's flag for the queue of bytes read.
constexpr ULONG kInvalidHandle = 1, kDeviceNotFound = 2, kDeviceNotOpened = 3, kIoError = 4;
constexpr ULONG kPurgeRx = 1;

std::string Environment(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

// What only the device does, by its word: refuse its opener, the rate or the framing.
const std::map<std::string, bool SimulatedUsbDevice::*> kRefusals = {
    {"refuse-open", &SimulatedUsbDevice::refuseOpen},
    {"refuse-baud", &SimulatedUsbDevice::refuseBaudRate},
    {"refuse-framing", &SimulatedUsbDevice::refuseDataCharacteristics}};

struct Boxes {
    SimulatedUsbDriver driver{kestrel::SteadyClock()};
    std::string imageFolder = Environment("KESTREL_D2XX_IMAGES");

    Boxes() {
        std::stringstream list(Environment("KESTREL_D2XX_BOXES"));
        for (std::string entry; std::getline(list, entry, ';');) {
            std::stringstream words(entry);
            SimulatedUsbDevice box;
            std::getline(words, box.serialNumber, ',');
            for (std::string word; std::getline(words, word, ',');) {
                const auto refusal = kRefusals.find(word);
                if (refusal != kRefusals.end())
                    box.*refusal->second = true;
                else if (const auto scenario = kestrel::emulator::FindScenario(word))
                    box.behaviour = scenario->behaviour;
                else
                    std::fprintf(stderr, "stand-in FTD2XX.dll: unknown word %s\n", word.c_str());
            }
            if (!box.serialNumber.empty())
                driver.AddDevice(box);
        }
    }

    void ApplyPlugged() {
        const std::string file = Environment("KESTREL_D2XX_PLUGGED");
        std::ifstream list(file);
        const std::set<std::string> plugged{std::istream_iterator<std::string>(list), {}};
        for (std::size_t slot = 0; slot < driver.DeviceCount() && !file.empty(); ++slot)
            driver.SetPresent(slot, plugged.contains(driver.Device(slot).serialNumber));
    }

    void SaveImages() {
        for (std::size_t slot = 0; slot < driver.DeviceCount() && !imageFolder.empty(); ++slot) {
            const auto& image = driver.Model(slot).LastImage();
            if (!image.empty())
                std::ofstream(imageFolder + "\\" + driver.Device(slot).serialNumber + ".img", std::ios::binary)
                    .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        }
    }
};

Boxes& TheBoxes() {
    static Boxes boxes;
    return boxes;
}

// The simulated driver serves the gang's threads by itself; the read time-outs,
// which the library keeps for it, and the saved images need a lock of their own.
SimulatedUsbDriver& Driver() { return TheBoxes().driver; }
std::mutex libraryLock;
std::map<void*, ULONG> readTimeouts;

ULONG StatusOf(kestrel::UsbStatus status) {
    return status == 0                                ? 0
           : status == SimulatedUsbDriver::kNoDevice  ? kDeviceNotFound
           : status == SimulatedUsbDriver::kRefused   ? kDeviceNotOpened
           : status == SimulatedUsbDriver::kBadHandle ? kInvalidHandle
                                                      : kIoError;
}

UsbHandle Handle(void* handle) { return reinterpret_cast<UsbHandle>(handle); }

}  // namespace

#define KESTREL_EXPORT extern "C" __declspec(dllexport) ULONG WINAPI

KESTREL_EXPORT FT_CreateDeviceInfoList(DWORD* count) {
    TheBoxes().ApplyPlugged();
    std::uint32_t devices = 0;
    const auto status = Driver().CountDevices(devices);
    *count = devices;
    return StatusOf(status);
}

KESTREL_EXPORT FT_GetDeviceInfoDetail(DWORD index, DWORD* /*flags*/, DWORD* /*type*/, DWORD* id, DWORD* /*location*/,
                                      void* serialNumber, void* description, void** /*handle*/) {
    std::vector<kestrel::UsbDeviceInfo> devices;
    if (Driver().ListDevices(devices) != 0 || index >= devices.size())
        return kDeviceNotFound;
    // Flags, chip type, location and the handle of an open device: the driver reads none of them.
    const auto& device = devices[index];
    *id = (DWORD{device.vendorId} << 16) | device.productId;
    // Cut to the library's buffers: 16 bytes for the serial, 64 for the description.
    std::snprintf(static_cast<char*>(serialNumber), 16, "%s", device.serialNumber.c_str());
    std::snprintf(static_cast<char*>(description), 64, "%s", device.description.c_str());
    return 0;
}

KESTREL_EXPORT FT_Open(int index, void** handle) {
    UsbHandle opened = kestrel::kNoUsbHandle;
    kestrel::UsbOpenProblem problem;
    const auto status = Driver().Open(index, opened, problem);
    *handle = reinterpret_cast<void*>(opened);
    return StatusOf(status);
}

KESTREL_EXPORT FT_Close(void* handle) {
    const auto status = Driver().Close(Handle(handle));
    std::lock_guard lock(libraryLock);
    TheBoxes().SaveImages();
    return StatusOf(status);
}

KESTREL_EXPORT FT_SetBaudRate(void* handle, ULONG baudRate) {
    return StatusOf(Driver().SetBaudRate(Handle(handle), baudRate));
}

KESTREL_EXPORT FT_SetDataCharacteristics(void* handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity) {
    return StatusOf(Driver().SetDataCharacteristics(Handle(handle), wordLength, stopBits, parity));
}

KESTREL_EXPORT FT_SetTimeouts(void* handle, ULONG readTimeout, ULONG /*writeTimeout*/) {
    std::lock_guard lock(libraryLock);
    readTimeouts[handle] = readTimeout;
    return 0;
}

// The driver lets a refused latency be: the boxes answer at once anyway.
KESTREL_EXPORT FT_SetLatencyTimer(void* /*handle*/, UCHAR /*milliseconds*/) { return 0; }

KESTREL_EXPORT FT_Purge(void* handle, ULONG mask) {
    return (mask & kPurgeRx) != 0 ? StatusOf(Driver().PrepareForSync(Handle(handle))) : 0;
}

KESTREL_EXPORT FT_Write(void* handle, void* buffer, DWORD count, DWORD* written) {
    std::uint32_t sent = 0;
    const auto status = Driver().Write(Handle(handle), static_cast<std::uint8_t*>(buffer), count, sent);
    *written = sent;
    return StatusOf(status);
}

KESTREL_EXPORT FT_Read(void* handle, void* buffer, DWORD count, DWORD* received) {
    std::unique_lock lock(libraryLock);
    const ULONG timeout = readTimeouts[handle];
    lock.unlock();
    // The simulated driver waits by itself; the library's 0 means no time-out.
    std::uint32_t got = 0;
    const auto status =
        Driver().Read(Handle(handle), static_cast<std::uint8_t*>(buffer), count, got, timeout == 0 ? ~0U : timeout);
    *received = got;
    return StatusOf(status);
}

KESTREL_EXPORT FT_GetQueueStatus(void* handle, DWORD* waiting) {
    std::uint32_t queued = 0;
    const auto status = Driver().QueueStatus(Handle(handle), queued);
    *waiting = queued;
    return StatusOf(status);
}
