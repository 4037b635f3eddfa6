#include "links/FtdiUsbDriver.h"

#include "links/FtdiDeviceListing.h"
#include "links/FtdiReadQueue.h"
#include "links/UsbTtyLock.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>

namespace kestrel {

namespace {

using ftdi_listing::ContextPtr;
using ftdi_listing::FindDevices;
using ftdi_listing::Listing;

UsbStatus ListingStatus(const Listing& listing) {
    if (!listing.context) {
        return FtdiUsbDriver::kNoContext;
    }
    return listing.found < 0 ? listing.found : 0;
}

// libftdi1 reports a failed libusb_open only as -4; libusb's own code tells
// missing permission apart from a vanished device.
UsbOpenProblem DiagnoseFailedOpen(libusb_device* device) {
    libusb_device_handle* handle = nullptr;
    const int result = libusb_open(device, &handle);
    if (result == 0) {
        libusb_close(handle);
        return UsbOpenProblem::Other;
    }
    switch (result) {
        case LIBUSB_ERROR_ACCESS:
            return UsbOpenProblem::AccessDenied;
        case LIBUSB_ERROR_BUSY:
            return UsbOpenProblem::Busy;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return UsbOpenProblem::NoDevice;
        default:
            return UsbOpenProblem::Other;
    }
}

UsbOpenProblem ClassifyOpenFailure(int status, libusb_device* device) {
    switch (status) {
        case -4:  // libusb_open() failed
            return DiagnoseFailedOpen(device);
        case -8:  // the kernel driver could not be detached for lack of permission
            return UsbOpenProblem::AccessDenied;
        case -3:  // configuration could not be set: the kernel driver or another program has it
        case -5:  // interface could not be claimed: the same
        case -11:
            return UsbOpenProblem::Busy;
        default:
            return UsbOpenProblem::Other;
    }
}

// ftdi_read_data and ftdi_write_data take an int size.
constexpr std::uint32_t kMaxTransferChunk = 1U << 20;

}  // namespace

struct FtdiUsbDriver::Device {
    ContextPtr context;
    std::unique_ptr<FtdiReadQueue> reads;

    ~Device() {
        reads.reset();  // its transfers are back before the device goes
        if (context) {
            ftdi_usb_close(context.get());
        }
    }

    std::uint32_t Take(std::uint8_t* buffer, std::uint32_t count) {
        auto& bytes = reads->Bytes();
        const auto taken = static_cast<std::uint32_t>(std::min<std::size_t>(count, bytes.size()));
        std::copy_n(bytes.begin(), taken, buffer);
        bytes.erase(bytes.begin(), bytes.begin() + taken);
        return taken;
    }
};

FtdiUsbDriver::FtdiUsbDriver(std::string systemRoot, Clock& clock)
    : systemRoot_(std::move(systemRoot)), clock_(clock) {}
FtdiUsbDriver::~FtdiUsbDriver() = default;

FtdiUsbDriver::Device* FtdiUsbDriver::Find(UsbHandle handle) {
    std::lock_guard lock(mutex_);
    const auto found = devices_.find(handle);
    return found == devices_.end() ? nullptr : found->second.get();
}

UsbStatus FtdiUsbDriver::CountDevices(std::uint32_t& count) {
    count = 0;
    const Listing listing = FindDevices();
    if (const UsbStatus status = ListingStatus(listing); status != 0) {
        return status;
    }
    count = static_cast<std::uint32_t>(listing.found);
    return 0;
}

UsbStatus FtdiUsbDriver::ListDevices(std::vector<UsbDeviceInfo>& devices) {
    devices.clear();
    const Listing listing = FindDevices();
    if (const UsbStatus status = ListingStatus(listing); status != 0) {
        return status;
    }
    int index = 0;
    for (ftdi_device_list* entry = listing.list.get(); entry != nullptr; entry = entry->next, ++index) {
        UsbDeviceInfo info;
        info.index = index;
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(entry->dev, &descriptor) == 0) {
            info.vendorId = descriptor.idVendor;
            info.productId = descriptor.idProduct;
        }
        // Reading the strings opens the device; without permission they stay
        // empty, which must not fail the listing and hide the real open problem:
        // a box named by its serial is then not found, and why is what the user needs.
        std::array<char, 64> description{};
        std::array<char, 64> serial{};
        const int read =
            ftdi_usb_get_strings(listing.context.get(), entry->dev, nullptr, 0, description.data(),
                                 static_cast<int>(description.size()), serial.data(), static_cast<int>(serial.size()));
        if (read == 0) {
            description.back() = '\0';
            serial.back() = '\0';
            info.description = description.data();
            info.serialNumber = serial.data();
        } else if (read == -4) {  // libusb_open() failed; other statuses are about the strings themselves
            info.openProblem = DiagnoseFailedOpen(entry->dev);
        }
        devices.push_back(std::move(info));
    }
    return 0;
}

UsbStatus FtdiUsbDriver::Open(int index, UsbHandle& handle, UsbOpenProblem& problem) {
    handle = kNoUsbHandle;
    problem = UsbOpenProblem::None;
    const auto fail = [&problem](UsbOpenProblem why, UsbStatus status) {
        problem = why;
        return status;
    };

    Listing listing = FindDevices();
    if (const UsbStatus status = ListingStatus(listing); status != 0) {
        return fail(listing.context ? UsbOpenProblem::Other : UsbOpenProblem::NoDevice, status);
    }
    ftdi_device_list* entry = listing.list.get();
    for (int i = 0; entry != nullptr && i < index; ++i) {
        entry = entry->next;
    }
    // ftdi_usb_open_dev dereferences the device without a check.
    if (index < 0 || entry == nullptr || entry->dev == nullptr) {
        return fail(UsbOpenProblem::NoDevice, kNoSuchDevice);
    }

    // Claiming the chip detaches the kernel's serial driver: not from a box
    // whose tty a program holds, which would lose its port in mid-download.
    std::array<std::uint8_t, 7> ports{};  // USB allows hubs 7 deep
    const int depth = libusb_get_port_numbers(entry->dev, ports.data(), static_cast<int>(ports.size()));
    if (depth > 0 && UsbDeviceTtyLocked(libusb_get_bus_number(entry->dev),
                                        std::vector<std::uint8_t>(ports.begin(), ports.begin() + depth), systemRoot_)) {
        return fail(UsbOpenProblem::Busy, kTtyInUse);
    }

    // The device belongs to the listing's libusb context, so that context
    // becomes the open device's own; the list itself is no longer needed.
    auto device = std::make_unique<Device>();
    libusb_device* usbDevice = entry->dev;
    libusb_ref_device(usbDevice);
    listing.list.reset();
    device->context = std::move(listing.context);
    ftdi_context* context = device->context.get();
    // The kernel's serial driver goes back to the chip when it is released, so
    // the box's tty is there again after the download, however it ended.
    context->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    const int opened = ftdi_usb_open_dev(context, usbDevice);
    const UsbOpenProblem why = opened == 0 ? UsbOpenProblem::None : ClassifyOpenFailure(opened, usbDevice);
    libusb_unref_device(usbDevice);
    if (opened != 0) {
        return fail(why, opened);
    }
    context->usb_read_timeout = kUsbReadTimeoutMs;
    // The box's line: no flow control, DTR off, RTS on.
    int status = ftdi_setflowctrl(context, SIO_DISABLE_FLOW_CTRL);
    if (status == 0) {
        status = ftdi_setdtr_rts(context, 0, 1);
    }
    if (status == 0) {
        status = ftdi_set_latency_timer(context, kLatencyTimerMs);
    }
    if (status == 0) {
        device->reads = std::make_unique<FtdiReadQueue>(context->usb_ctx, context->usb_dev,
                                                        static_cast<unsigned char>(context->out_ep),
                                                        static_cast<int>(context->max_packet_size), clock_);
        status = device->reads->Start();
    }
    if (status != 0) {
        return fail(UsbOpenProblem::Other, status);  // `device` closes itself
    }

    std::lock_guard lock(mutex_);
    handle = nextHandle_++;
    devices_.emplace(handle, std::move(device));
    return 0;
}

UsbStatus FtdiUsbDriver::Close(UsbHandle handle) {
    std::unique_ptr<Device> device;
    {
        std::lock_guard lock(mutex_);
        const auto found = devices_.find(handle);
        if (found == devices_.end()) {
            return kBadHandle;
        }
        device = std::move(found->second);
        devices_.erase(found);
    }
    // libftdi1 closes the libusb handle even when releasing the interface
    // fails, so the device is closed either way and there is nothing to retry.
    device->reads.reset();
    ftdi_usb_close(device->context.get());
    device->context.reset();
    return 0;
}

UsbStatus FtdiUsbDriver::SetBaudRate(UsbHandle handle, std::uint32_t baudRate) {
    Device* device = Find(handle);
    if (device == nullptr) {
        return kBadHandle;
    }
    if (baudRate == 0 || baudRate > static_cast<std::uint32_t>(INT_MAX)) {
        return kBadSetting;
    }
    return ftdi_set_baudrate(device->context.get(), static_cast<int>(baudRate));
}

UsbStatus FtdiUsbDriver::SetDataCharacteristics(UsbHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                                std::uint8_t parity) {
    Device* device = Find(handle);
    if (device == nullptr) {
        return kBadHandle;
    }
    // The codes the link passes (word length 7 or 8, stop bits 0/1/2 for one,
    // one and a half, two, parity 0 to 4 for none, odd, even, mark, space)
    // have libftdi1's values; anything else is refused rather than guessed.
    if ((wordLength != BITS_7 && wordLength != BITS_8) || stopBits > STOP_BIT_2 || parity > SPACE) {
        return kBadSetting;
    }
    return ftdi_set_line_property(device->context.get(), static_cast<ftdi_bits_type>(wordLength),
                                  static_cast<ftdi_stopbits_type>(stopBits), static_cast<ftdi_parity_type>(parity));
}

UsbStatus FtdiUsbDriver::Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count,
                               std::uint32_t& written) {
    written = 0;
    Device* device = Find(handle);
    if (device == nullptr) {
        return kBadHandle;
    }
    while (written < count) {
        const std::uint32_t chunk = std::min(count - written, kMaxTransferChunk);
        const int result = ftdi_write_data(device->context.get(), data + written, static_cast<int>(chunk));
        if (result < 0) {
            return result;
        }
        written += static_cast<std::uint32_t>(result);
        if (static_cast<std::uint32_t>(result) < chunk) {
            break;  // the caller sees the shortfall in `written`
        }
    }
    return 0;
}

UsbStatus FtdiUsbDriver::Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                              std::uint32_t timeoutMs) {
    received = 0;
    Device* device = Find(handle);
    if (device == nullptr) {
        return kBadHandle;
    }
    Clock& clock = TimeBase();
    const std::uint32_t startMs = clock.TickMs();
    // Each wait blocks in libusb's event handling until a transfer ends, which
    // the chip's latency timer brings about every few ms: a wait, not a spin.
    for (received = device->Take(buffer, count); received < count;
         received += device->Take(buffer + received, count - received)) {
        const std::uint32_t elapsedMs = clock.TickMs() - startMs;
        if (elapsedMs >= timeoutMs) {
            break;
        }
        const std::chrono::milliseconds left{timeoutMs - elapsedMs};
        if (const int status = device->reads->Wait(left); status != 0 && device->reads->Bytes().empty()) {
            return status;
        }
    }
    return 0;
}

UsbStatus FtdiUsbDriver::QueueStatus(UsbHandle handle, std::uint32_t& waiting) {
    waiting = 0;
    Device* device = Find(handle);
    if (device == nullptr) {
        return kBadHandle;
    }
    // Nothing collected yet: the next transfer to end is waited for, which
    // keeps a caller that polls from spinning.
    const std::chrono::milliseconds wait{device->reads->Bytes().empty() ? kUsbReadTimeoutMs : 0};
    if (const int status = device->reads->Wait(wait); status != 0 && device->reads->Bytes().empty()) {
        return status;
    }
    waiting = static_cast<std::uint32_t>(device->reads->Bytes().size());
    return 0;
}

UsbStatus FtdiUsbDriver::PrepareForSync(UsbHandle handle) {
    Device* device = Find(handle);
    if (device == nullptr) {
        return kBadHandle;
    }
    // What came before the purge goes: the bytes collected, the chip's
    // buffers, and what transfers brought in meanwhile. The transfers stay
    // queued, since nothing answers before the sync request; taking back and
    // queuing anew a whole queue at each synchronisation would only churn the
    // endpoint's transfer ring.
    device->reads->Discard();
    // libftdi1 1.5 and the chip vendor name the two purge requests the other way
    // round, so flushing "input" alone may leave stale answers in the chip. Nothing
    // waits to go out before a sync request: flushing both sides is safe either way.
    const UsbStatus flushed = ftdi_tcioflush(device->context.get());
    const UsbStatus discarded = device->reads->Discard();
    return flushed != 0 ? flushed : discarded;
}

Clock& FtdiUsbDriver::TimeBase() { return clock_; }

UsbDriver& SystemUsbDriver() {
    static FtdiUsbDriver driver;
    return driver;
}

}  // namespace kestrel
