#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "base/Clock.h"

struct libusb_context;
struct libusb_device_handle;
struct libusb_transfer;

namespace kestrel {

// Bulk-IN transfers kept queued in the kernel while a chip is open, so that
// what the chip sends finds a transfer waiting for it even while this process
// is not run: the chip's own receive buffer (256 bytes on an FT232R) lasts
// only about 22 ms at 115200 baud. Completed transfers are collected, their
// status bytes stripped, and queued again by Wait, on the caller's thread.
class FtdiReadQueue {
public:
    // Each short packet (the latency timer's, every 2 ms while little comes)
    // ends a transfer, so it is the count, not the size, that must cover a
    // pause of the process: 80 transfers are at least 160 ms, on top of the
    // chip's own 22 ms. No more than that: a host controller reports each
    // completed transfer in an event ring of its own (256 entries under Linux),
    // and QEMU's xHCI drops the events it has no room for, so that a gang of
    // three with 128 each lost packets of its read-backs there.
    static constexpr int kTransfers = 80;
    static constexpr int kTransferSize = 256;

    // `endpoint`: the chip's bulk-IN endpoint; `packetSize`: its USB packet size,
    // each packet beginning with two modem-status bytes; `clock`: what the waits' bounds are measured on.
    FtdiReadQueue(libusb_context* context, libusb_device_handle* device, unsigned char endpoint, int packetSize,
                  Clock& clock);
    ~FtdiReadQueue();  // Stop()
    FtdiReadQueue(const FtdiReadQueue&) = delete;
    FtdiReadQueue& operator=(const FtdiReadQueue&) = delete;

    // Queues every transfer; 0 or the libusb status of the first that failed.
    int Start();
    // Cancels the queued transfers and collects them back, waiting a bounded time.
    void Stop();
    // Collects the transfers that ended, waiting at most `timeout` for one to
    // end (no wait when one already has); 0 or the libusb status that broke the
    // queue (the device gone). The bytes received are in Bytes().
    int Wait(std::chrono::milliseconds timeout);
    std::deque<std::uint8_t>& Bytes() { return bytes_; }
    // Collects the transfers that have ended, without waiting, and drops every
    // byte received so far; 0 or the libusb status that broke the queue.
    int Discard();

private:
    struct Slot;
    static void Ended(libusb_transfer* transfer);
    int Submit(Slot& slot);

    libusb_context* context_;
    libusb_device_handle* device_;
    Clock& clock_;
    unsigned char endpoint_;
    int packetSize_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::deque<std::uint8_t> bytes_;
    int queued_ = 0;
    int error_ = 0;
    bool stopping_ = false;
    bool ended_ = false;  // a transfer ended since the last Wait
};

}  // namespace kestrel
