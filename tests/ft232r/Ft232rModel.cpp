// FT232R chips with a Kestrel box behind each, modelled at the libusb level: this
// library defines the libusb-1.0 calls that libftdi1 makes, so that the real
// libftdi1 and FtdiUsbDriver run against it unchanged. Preload it in front of the
// system's libusb:
//
//   export LD_PRELOAD=build/tests/ft232r/libkestrel_ft232r_model.so
//   KESTREL_FT232R_BOXES=KST-A build/cli/kestrel-flash -p USB samples/kestrel-demo.mot
//
// Environment, read once at the first call:
//   KESTREL_FT232R_BOXES      comma-separated serial numbers, one box each; unset or empty: no device.
//   KESTREL_FT232R_SCENARIO   how every box behaves: a kestrel-flash --emulate name (ok, type2,
//                             wrong-type, stray-bytes, no-read-back, corrupt-read-back, short-read-back,
//                             slow-erase, refuse-STAGE, silent-STAGE, hang-up-STAGE), or
//                             unplug-at-STAGE (the device vanishes at that stage, as hang-up does:
//                             every call then fails with LIBUSB_ERROR_NO_DEVICE), access-denied
//                             (opening fails with LIBUSB_ERROR_ACCESS), busy (claiming the interface
//                             fails with LIBUSB_ERROR_BUSY). STAGE: sync, length, erase, data, read-back.
//   KESTREL_FT232R_SAVE_IMAGE path for the image a box received whole; a %s in it becomes the serial.
//   KESTREL_FT232R_RECORD     path of a box's record: "open" and "close", "unplugged"; a %s in it
//                             becomes the serial. The line settings the tool makes are the VM rig's
//                             to check (tests/vm), through the kernel's own USB stack.
//   KESTREL_FT232R_PACE       1: bytes pass at the rate the baud request set (start, data, parity
//                             and stop bits a byte), a write returning once what it sent fits in the
//                             chip's 128-byte transmit buffer, and the box's answers fill the chip's
//                             256-byte receive buffer while no IN transfer is pending: what does not
//                             fit is lost, and the record's "lost N" before "close" counts it. Without
//                             it every byte passes at once.
//   KESTREL_FT232R_STALL      1: while a long answer streams (the read-back), the thread that reads
//                             is held 30 to 150 ms at random points, as a process the system does
//                             not run for that long; the chip goes on meanwhile. The record has a
//                             "held MS ms" line for each.
// A chip starts with the kernel's serial driver bound; the record's "close" line ends in " tty-gone"
// when the tool leaves it without that driver. A second claim of a claimed chip fails with
// LIBUSB_ERROR_BUSY, as usbfs answers.
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "emulator/BoxModel.h"
#include "emulator/BoxScenarios.h"

struct libusb_context {};
struct Box;
// A device lives as long as the listing or an opener holds a reference; it
// remembers the context that listed it, whose event handling completes its transfers.
struct libusb_device {
    Box* box;
    libusb_context* context;
    int references;
};
struct libusb_device_handle {
    Box* box;
    libusb_context* context;
    bool autoDetach = false;
};

namespace {

using kestrel::emulator::BoxBehaviour;
using kestrel::emulator::BoxModel;
using Nanos = std::uint64_t;
constexpr Nanos kMs = 1000000;
using Lock = std::unique_lock<std::mutex>;

constexpr std::size_t kPacket = 64;  // two status bytes and up to 62 data bytes
constexpr std::size_t kPacketData = kPacket - 2;
constexpr std::size_t kTxBuffer = 128;
constexpr std::size_t kRxBuffer = 256;
constexpr unsigned char kWriteEndpoint = 0x02;
constexpr Nanos kNever = ~Nanos{0};

// One queued bulk-IN transfer the chip answers with packets; the tool reads
// through queued transfers only.
struct InRequest {
    unsigned char* data;
    int length;
    Nanos since;  // from when the chip may answer it
    libusb_transfer* transfer;
    int received = 0;
};

Nanos Now() {
    static const auto start = std::chrono::steady_clock::now();
    return static_cast<Nanos>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

// Writes to the file a pattern names for a box (a %s in it becomes the serial); no pattern, no file.
void WriteFor(const std::string& pattern, const std::string& serial, const char* mode, const void* data,
              std::size_t size) {
    std::string path = pattern;
    if (const auto at = path.find("%s"); at != std::string::npos)
        path.replace(at, 2, serial);
    if (std::FILE* file = pattern.empty() ? nullptr : std::fopen(path.c_str(), mode)) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
}

// The kestrel-box scenarios, plus what only a USB device can do: vanish (as a
// line hangs up), refuse its opener, or be claimed by another program.
BoxBehaviour BehaviourOf(const std::string& scenario) {
    using namespace kestrel::emulator;
    const std::string unplugAt = "unplug-at-";
    if (const auto stage = scenario.starts_with(unplugAt) ? ParseStage(scenario.substr(unplugAt.size())) : std::nullopt)
        return {.hangUpAt = stage};
    if (scenario == "access-denied" || scenario == "busy")
        return {};
    if (const auto named = FindScenario(scenario.empty() ? "ok" : scenario))
        return named->behaviour;
    std::fprintf(stderr, "kestrel-ft232r: unknown scenario %s\n", scenario.c_str());
    return {};
}

// What the tool set since it claimed the chip; the chip's own defaults until then.
struct ChipSettings {
    std::uint32_t baud = 9600;
    int bits = 8, parity = 0, stop = 0;  // the chip's codes
    int latencyMs = 16;

    Nanos ByteNs() const {
        const double bitsPerByte = 1 + bits + (parity != 0 ? 1 : 0) + (stop == 0 ? 1 : stop == 1 ? 1.5 : 2);
        return static_cast<Nanos>(bitsPerByte * 1e9 / baud + 0.5);
    }
};

}  // namespace

// One chip with its box.
struct Box {
    Box(std::string serialNumber, const BoxBehaviour& behaviour) : serial(std::move(serialNumber)), model(behaviour) {}

    std::string serial;
    BoxModel model;
    bool gone = false;
    bool kernelDriver = true;  // the kernel's serial driver has the chip: its tty is there
    libusb_device_handle* claimedBy = nullptr;
    ChipSettings chip;

    // Each byte with the time it reaches the other side, in the order sent.
    std::deque<std::pair<Nanos, std::uint8_t>> toBox, toHost;
    Nanos txFreeAt = 0, rxFreeAt = 0, lastPacketAt = 0;
    int savedDownloads = 0;

    // The chip's receive side, simulated up to `chipAt`.
    std::deque<std::uint8_t> rx;
    Nanos chipAt = 0, stallAt = kNever;
    long lost = 0;
    std::deque<InRequest*> pending;       // answered in order, as the kernel queues them
    std::vector<libusb_transfer*> ended;  // for the next event handling of their context
};

namespace {

struct Model {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<Box>> boxes;
    std::string scenario = Env("KESTREL_FT232R_SCENARIO");
    bool paced = Env("KESTREL_FT232R_PACE") == "1";
    bool stalls = Env("KESTREL_FT232R_STALL") == "1";
    std::mt19937 random{std::random_device{}()};
    std::string recordPattern = Env("KESTREL_FT232R_RECORD");
    std::string imagePattern = Env("KESTREL_FT232R_SAVE_IMAGE");

    Model() {
        const BoxBehaviour behaviour = BehaviourOf(scenario);
        std::istringstream list(Env("KESTREL_FT232R_BOXES"));
        for (std::string serial; std::getline(list, serial, ',');)
            if (!serial.empty())
                boxes.push_back(std::make_unique<Box>(serial, behaviour));
    }

    void Record(const Box& box, const std::string& line) const {
        WriteFor(recordPattern, box.serial, "a", (line + "\n").data(), line.size() + 1);
    }

    // What was on its way is lost with it: every call on it ends at once from now on.
    void Vanish(Box& box) {
        box.gone = true;
        Record(box, "unplugged");
        for (InRequest* request : box.pending)
            End(box, *request, LIBUSB_TRANSFER_NO_DEVICE);
        box.pending.clear();
        changed.notify_all();
    }

    static void End(Box& box, InRequest& request, libusb_transfer_status status) {
        request.transfer->status = status;
        request.transfer->actual_length = request.received;
        box.ended.push_back(request.transfer);
        delete &request;
    }

    // Lets the chip's receive side catch up with `until`: answers enter its
    // buffer at the line rate, and leave it in packets only for a pending IN
    // request. Gives the time of the next packet, kNever when none is due.
    Nanos RunChip(Box& box, Nanos until) {
        for (;;) {
            const Nanos byteAt = box.toHost.empty() ? kNever : box.toHost.front().first;
            Nanos packetAt = kNever;
            if (!box.pending.empty()) {
                // A full packet goes at once; a short one when the latency timer runs out.
                const std::size_t missing = kPacketData - std::min(kPacketData, box.rx.size());
                const Nanos fullAt = missing == 0                   ? box.chipAt
                                     : missing <= box.toHost.size() ? box.toHost[missing - 1].first
                                                                    : kNever;
                const Nanos timerAt = box.lastPacketAt + static_cast<Nanos>(box.chip.latencyMs) * kMs;
                packetAt = std::max({std::min(fullAt, timerAt), box.pending.front()->since, box.chipAt});
            }
            if (byteAt <= packetAt && byteAt <= until) {
                if (paced && box.rx.size() >= kRxBuffer)
                    ++box.lost;
                else
                    box.rx.push_back(box.toHost.front().second);
                box.toHost.pop_front();
                box.chipAt = byteAt;
            } else if (packetAt <= until) {
                box.chipAt = box.lastPacketAt = packetAt;
                SendPacket(box, *box.pending.front());
            } else {
                return packetAt;
            }
        }
    }

    static void SendPacket(Box& box, InRequest& request) {
        const std::size_t room =
            std::min<std::size_t>(kPacket, static_cast<std::size_t>(request.length - request.received));
        const std::size_t n = std::min({kPacketData, box.rx.size(), room - 2});
        // The modem and line status, which libftdi1 strips: CTS and DSR, transmitter empty.
        request.data[request.received++] = 0x31;
        request.data[request.received++] = 0x60;
        for (std::size_t i = 0; i < n; ++i, box.rx.pop_front())
            request.data[request.received++] = box.rx.front();
        // A short packet ends the transfer, as does one that fills it.
        if (n < kPacketData || request.length - request.received < static_cast<int>(kPacket)) {
            box.pending.pop_front();
            if (!box.pending.empty())
                box.pending.front()->since = std::max(box.pending.front()->since, box.chipAt);
            End(box, request, LIBUSB_TRANSFER_COMPLETED);
        }
    }

    // The reading thread is not run for a while: only during a long answer, at random moments.
    void MaybeStall(Lock& lock, Box& box) {
        if (!stalls || box.toHost.size() <= kRxBuffer)
            return;
        const Nanos now = Now();
        if (box.stallAt == kNever)
            box.stallAt = now + std::uniform_int_distribution<Nanos>(0, 100 * kMs)(random);
        if (now < box.stallAt)
            return;
        const Nanos held = std::uniform_int_distribution<Nanos>(30 * kMs, 150 * kMs)(random);
        box.stallAt = now + held + std::uniform_int_distribution<Nanos>(50 * kMs, 300 * kMs)(random);
        Record(box, "held " + std::to_string(held / kMs) + " ms");
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::nanoseconds(held));
        lock.lock();
    }

    // Bytes queued one after the other from `at` on, at the line rate when paced.
    void Queue(std::deque<std::pair<Nanos, std::uint8_t>>& line, Nanos& freeAt, const std::uint8_t* bytes,
               std::size_t count, Nanos at, Nanos byteNs) const {
        for (std::size_t i = 0; i < count; ++i) {
            freeAt = paced ? std::max(freeAt, at) + byteNs : at;
            line.emplace_back(freeAt, bytes[i]);
        }
    }

    // What the box says from `at` on; a box that hangs up takes its chip with it.
    void TakeAnswers(Box& box, Nanos at) {
        std::uint8_t chunk[256];
        while (const std::size_t n = box.model.TakeOutput(chunk, sizeof chunk))
            Queue(box.toHost, box.rxFreeAt, chunk, n, at, box.chip.ByteNs());
        if (box.model.WantsHangUp())
            Vanish(box);
    }

    // Lets the line and the box catch up with `now`.
    void Advance(Box& box, Nanos now) {
        for (; !box.gone && !box.toBox.empty() && box.toBox.front().first <= now; box.toBox.pop_front()) {
            const auto [at, byte] = box.toBox.front();
            box.model.Receive(&byte, 1, static_cast<std::uint32_t>(at / kMs));
            TakeAnswers(box, at);
        }
        if (box.gone)
            return;
        box.model.Advance(static_cast<std::uint32_t>(now / kMs));
        TakeAnswers(box, now);
        if (!box.gone && box.model.CompletedDownloads() > box.savedDownloads) {
            box.savedDownloads = box.model.CompletedDownloads();
            const auto& image = box.model.LastImage();
            WriteFor(imagePattern, box.serial, "wb", image.data(), image.size());
        }
    }

    void WaitUntil(Lock& lock, Nanos at) {
        const Nanos now = Now();
        if (at > now)
            changed.wait_for(lock, std::chrono::nanoseconds(at - now));
    }

    // The chip passes bytes on at the line rate; a write returns once what it
    // sent fits into the chip's transmit buffer.
    int Write(Lock& lock, Box& box, const unsigned char* data, int length, int* actual) {
        Queue(box.toBox, box.txFreeAt, data, static_cast<std::size_t>(length), Now(), box.chip.ByteNs());
        const Nanos buffered = kTxBuffer * box.chip.ByteNs();
        const Nanos fits = box.txFreeAt > buffered ? box.txFreeAt - buffered : 0;
        for (Advance(box, Now()); !box.gone && Now() < fits; Advance(box, Now()))
            WaitUntil(lock, fits);
        *actual = box.gone ? 0 : length;
        return box.gone ? LIBUSB_ERROR_NO_DEVICE : 0;
    }

    // The vendor requests libftdi1 sends, each taken as the setting it makes.
    int Control(Box& box, std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index) {
        Advance(box, Now());
        ChipSettings& chip = box.chip;
        if (type != 0x40)
            return LIBUSB_ERROR_PIPE;
        switch (request) {
            case 0:  // reset (0) and the purges of the receive (1) and transmit (2) sides
                if (value != 2) {
                    box.toHost.clear();
                    box.rx.clear();
                }
                if (value != 1)
                    box.toBox.clear();
                return 0;
            case 1:  // modem control and flow control: the chip's line pace does not depend on them
            case 2:
                return 0;
            case 3: {  // baud rate: 3 MHz over a divisor with eighths; the third fraction bit is in the index
                static const int kEighths[] = {0, 4, 2, 1, 3, 5, 6, 7};
                const int whole = value & 0x3FFF;
                const int code = (value >> 14) | ((index & 1) << 2);
                const int eighths = 8 * whole + kEighths[code];
                chip.baud = whole == 0 && code == 0   ? 3000000
                            : whole == 1 && code == 0 ? 2000000
                                                      : static_cast<std::uint32_t>((24000000 + eighths / 2) / eighths);
                return 0;
            }
            case 4:  // data characteristics
                chip.bits = value & 0xFF;
                chip.parity = (value >> 8) & 7;
                chip.stop = (value >> 11) & 3;
                return 0;
            case 9:  // latency timer
                chip.latencyMs = value & 0xFF;
                return 0;
            default:
                return LIBUSB_ERROR_PIPE;
        }
    }
};

Model& TheModel() {
    static Model model;
    return model;
}

// Every call runs under the model's one lock; a wait releases it, so that the
// boxes of a gang go on meanwhile.
struct Locked {
    Model& model = TheModel();
    Lock lock{model.mutex};
};

// `call` under the lock, for a box that is still there: a vanished one answers
// every call as libusb does.
template <class Call>
int OnBox(Box& box, Call call) {
    Locked locked;
    return box.gone ? LIBUSB_ERROR_NO_DEVICE : call(locked.model);
}

}  // namespace

// The calls libftdi1 and FtdiUsbDriver make when they list, open and drive a
// chip: synchronous control transfers and bulk-OUT writes, and queued bulk-IN transfers
// completed by the event handling of the context that listed the chip.
extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** context) {
    *context = new libusb_context;
    return 0;
}

void LIBUSB_CALL libusb_exit(libusb_context* context) { delete context; }

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* context, libusb_device*** list) {
    Locked locked;
    auto* devices = new libusb_device*[locked.model.boxes.size() + 1];
    std::size_t n = 0;
    for (const auto& box : locked.model.boxes)
        if (!box->gone)
            devices[n++] = new libusb_device{box.get(), context, 1};
    devices[n] = nullptr;
    *list = devices;
    return static_cast<ssize_t>(n);
}

libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* device) {
    Locked locked;
    ++device->references;
    return device;
}

void LIBUSB_CALL libusb_unref_device(libusb_device* device) {
    Locked locked;
    if (--device->references == 0)
        delete device;
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unref) {
    for (libusb_device** device = list; unref != 0 && *device != nullptr; ++device)
        libusb_unref_device(*device);
    delete[] list;
}

// Box n (from 0) sits at port n + 1 of bus 1: sysfs names it 1-(n+1).
uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device*) { return 1; }
int LIBUSB_CALL libusb_get_port_numbers(libusb_device* device, uint8_t* ports, int length) {
    Locked locked;
    const auto& boxes = locked.model.boxes;
    const auto at = std::find_if(boxes.begin(), boxes.end(), [&](const auto& box) { return box.get() == device->box; });
    if (length < 1)
        return LIBUSB_ERROR_OVERFLOW;
    ports[0] = static_cast<uint8_t>(at - boxes.begin() + 1);
    return 1;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device*, libusb_device_descriptor* descriptor) {
    // bcdDevice 0x0600 is what makes libftdi1 take the chip for an FT232R.
    *descriptor = {LIBUSB_DT_DEVICE_SIZE, LIBUSB_DT_DEVICE, 0x0200, 0, 0, 0, 8, 0x0403, 0x6001, 0x0600, 1, 2, 3, 1};
    return 0;
}

// The chip's one configuration. Without its interface and endpoints libftdi1
// takes the full-speed chips' 64-byte packets, which are the FT232R's.
int LIBUSB_CALL libusb_get_config_descriptor(libusb_device*, uint8_t, libusb_config_descriptor** config) {
    *config = new libusb_config_descriptor{
        LIBUSB_DT_CONFIG_SIZE, LIBUSB_DT_CONFIG, LIBUSB_DT_CONFIG_SIZE, 0, 1, 0, 0xA0, 45, nullptr, nullptr, 0};
    return 0;
}

void LIBUSB_CALL libusb_free_config_descriptor(libusb_config_descriptor* config) { delete config; }

int LIBUSB_CALL libusb_open(libusb_device* device, libusb_device_handle** handle) {
    return OnBox(*device->box, [&](Model& model) {
        if (model.scenario == "access-denied")
            return LIBUSB_ERROR_ACCESS;
        *handle = new libusb_device_handle{device->box, device->context};
        model.Record(*device->box, "open");
        return LIBUSB_SUCCESS;
    });
}

// Closing a claimed chip releases it, but gives nothing back to the kernel's driver.
void LIBUSB_CALL libusb_close(libusb_device_handle* handle) {
    Locked locked;
    Box& box = *handle->box;
    if (box.claimedBy == handle)
        box.claimedBy = nullptr;
    if (box.lost > 0)
        locked.model.Record(box, "lost " + std::to_string(box.lost));
    // Left without a driver: neither the kernel's nor another opener has the chip.
    locked.model.Record(box, box.kernelDriver || box.gone || box.claimedBy != nullptr ? "close" : "close tty-gone");
    delete handle;
}

// Already the one configuration the chip has: libftdi1 sets none.
int LIBUSB_CALL libusb_get_configuration(libusb_device_handle*, int* config) {
    *config = 1;
    return 0;
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle* handle, int) {
    return OnBox(*handle->box, [&](Model&) {
        return std::exchange(handle->box->kernelDriver, false) ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
    });
}

int LIBUSB_CALL libusb_set_auto_detach_kernel_driver(libusb_device_handle* handle, int enable) {
    handle->autoDetach = enable != 0;
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* handle, int) {
    return OnBox(*handle->box, [&](Model& model) {
        Box& box = *handle->box;
        // Another opener, or the kernel's driver unless it is to be detached, has the interface.
        if (model.scenario == "busy" || (box.claimedBy != nullptr && box.claimedBy != handle) ||
            (box.kernelDriver && !handle->autoDetach))
            return LIBUSB_ERROR_BUSY;
        box.kernelDriver = false;
        box.claimedBy = handle;
        // A new user of the line: the box forgets a half-done exchange, the chip its settings.
        box.model.Restart();
        box.chip = {};
        box.lastPacketAt = box.chipAt = Now();
        return LIBUSB_SUCCESS;
    });
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* handle, int) {
    return OnBox(*handle->box, [&](Model&) {
        if (handle->box->claimedBy != handle)
            return LIBUSB_ERROR_NOT_FOUND;
        handle->box->claimedBy = nullptr;
        handle->box->kernelDriver = handle->box->kernelDriver || handle->autoDetach;
        return LIBUSB_SUCCESS;
    });
}

// 1, 2, 3: the manufacturer, the description and the serial number, as the
// device descriptor numbers them.
int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index, unsigned char* data,
                                                   int length) {
    return OnBox(*handle->box, [&](Model&) {
        const std::string text = index == 1 ? "FTDI" : index == 2 ? "FT232R USB UART" : handle->box->serial;
        const int n = std::min(static_cast<int>(text.size()), length - 1);
        std::memcpy(data, text.data(), static_cast<std::size_t>(n));
        data[n] = '\0';
        return n;
    });
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* handle, uint8_t type, uint8_t request, uint16_t value,
                                        uint16_t index, unsigned char*, uint16_t, unsigned int) {
    return OnBox(*handle->box, [&](Model& model) { return model.Control(*handle->box, type, request, value, index); });
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                                     int length, int* actual, unsigned int) {
    if (endpoint != kWriteEndpoint)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    Locked locked;
    return locked.model.Write(locked.lock, *handle->box, data, length, actual);
}

libusb_transfer* LIBUSB_CALL libusb_alloc_transfer(int) { return new libusb_transfer{}; }

void LIBUSB_CALL libusb_free_transfer(libusb_transfer* transfer) { delete transfer; }

// Bulk-IN transfers only: the chip answers them in the order they were queued.
int LIBUSB_CALL libusb_submit_transfer(libusb_transfer* transfer) {
    if (transfer->endpoint == kWriteEndpoint || transfer->type != LIBUSB_TRANSFER_TYPE_BULK)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    return OnBox(*transfer->dev_handle->box, [&](Model&) {
        transfer->dev_handle->box->pending.push_back(
            new InRequest{transfer->buffer, transfer->length, Now(), transfer});
        return LIBUSB_SUCCESS;
    });
}

int LIBUSB_CALL libusb_cancel_transfer(libusb_transfer* transfer) {
    Locked locked;
    auto& pending = transfer->dev_handle->box->pending;
    const auto found = std::ranges::find(pending, transfer, &InRequest::transfer);
    if (found == pending.end())
        return LIBUSB_ERROR_NOT_FOUND;
    InRequest* request = *found;
    pending.erase(found);
    Model::End(*transfer->dev_handle->box, *request, LIBUSB_TRANSFER_CANCELLED);
    return LIBUSB_SUCCESS;
}

// Waits for the transfers of the chips that `context` listed to end, at most
// `timeout`, and calls their callbacks outside the model's lock.
int LIBUSB_CALL libusb_handle_events_timeout_completed(libusb_context* context, timeval* timeout, int* completed) {
    const Nanos deadline =
        Now() + static_cast<Nanos>(timeout->tv_sec) * 1000 * kMs + static_cast<Nanos>(timeout->tv_usec) * 1000;
    std::vector<libusb_transfer*> ended;
    {
        Locked locked;
        Model& model = locked.model;
        for (;;) {
            Nanos next = deadline;
            for (const auto& box : model.boxes) {
                if (box->claimedBy == nullptr || box->claimedBy->context != context)
                    continue;
                model.MaybeStall(locked.lock, *box);
                model.Advance(*box, Now());
                next = std::min(next, model.RunChip(*box, Now()));
                // This context's, in the order they ended.
                const auto mine = std::ranges::stable_partition(
                    box->ended, [&](libusb_transfer* transfer) { return transfer->dev_handle->context != context; });
                ended.insert(ended.end(), mine.begin(), mine.end());
                box->ended.erase(mine.begin(), mine.end());
            }
            if (!ended.empty() || (completed != nullptr && *completed != 0) || Now() >= deadline)
                break;
            model.WaitUntil(locked.lock, next);
        }
    }
    for (libusb_transfer* transfer : ended)
        transfer->callback(transfer);
    return LIBUSB_SUCCESS;
}

}  // extern "C"
