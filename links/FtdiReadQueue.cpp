#include "links/FtdiReadQueue.h"

#include <libusb.h>

#include <algorithm>

namespace kestrel {

namespace {

// A cancelled transfer comes back at once, even from a vanished device; this
// only bounds a kernel that does not answer.
constexpr std::chrono::milliseconds kStopBound{1000};
constexpr std::chrono::milliseconds kStopStep{100};

timeval TimevalOf(std::chrono::milliseconds duration) {
    const auto ms = std::max<std::chrono::milliseconds::rep>(duration.count(), 0);
    return timeval{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
}

}  // namespace

struct FtdiReadQueue::Slot {
    FtdiReadQueue* queue = nullptr;
    libusb_transfer* transfer = nullptr;
    std::vector<unsigned char> buffer = std::vector<unsigned char>(kTransferSize);
    bool queued = false;
};

FtdiReadQueue::FtdiReadQueue(libusb_context* context, libusb_device_handle* device, unsigned char endpoint,
                             int packetSize, Clock& clock)
    : context_(context), device_(device), clock_(clock), endpoint_(endpoint), packetSize_(std::max(packetSize, 3)) {}

FtdiReadQueue::~FtdiReadQueue() {
    Stop();
    for (const auto& slot : slots_) {
        // A transfer the kernel never gave back must not be freed under it.
        if (!slot->queued) {
            libusb_free_transfer(slot->transfer);
        }
    }
}

int FtdiReadQueue::Submit(Slot& slot) {
    libusb_fill_bulk_transfer(slot.transfer, device_, endpoint_, slot.buffer.data(), kTransferSize, &Ended, &slot, 0);
    const int status = libusb_submit_transfer(slot.transfer);
    slot.queued = status == 0;
    queued_ += slot.queued ? 1 : 0;
    return status;
}

int FtdiReadQueue::Start() {
    stopping_ = false;
    error_ = 0;
    while (slots_.size() < static_cast<std::size_t>(kTransfers)) {
        auto slot = std::make_unique<Slot>();
        slot->queue = this;
        slot->transfer = libusb_alloc_transfer(0);
        if (slot->transfer == nullptr) {
            return LIBUSB_ERROR_NO_MEM;
        }
        slots_.push_back(std::move(slot));
    }
    for (const auto& slot : slots_) {
        if (!slot->queued) {
            if (const int status = Submit(*slot); status != 0) {
                error_ = status;
                return status;
            }
        }
    }
    return 0;
}

void FtdiReadQueue::Stop() {
    stopping_ = true;
    for (const auto& slot : slots_) {
        if (slot->queued) {
            libusb_cancel_transfer(slot->transfer);
        }
    }
    const std::uint32_t startMs = clock_.TickMs();
    while (queued_ > 0 && std::chrono::milliseconds(clock_.TickMs() - startMs) < kStopBound) {
        timeval step = TimevalOf(kStopStep);
        if (libusb_handle_events_timeout_completed(context_, &step, nullptr) != 0) {
            break;
        }
    }
}

void FtdiReadQueue::Ended(libusb_transfer* transfer) {
    Slot& slot = *static_cast<Slot*>(transfer->user_data);
    FtdiReadQueue& queue = *slot.queue;
    slot.queued = false;
    --queue.queued_;
    queue.ended_ = true;
    switch (transfer->status) {
        case LIBUSB_TRANSFER_COMPLETED:
            // Every packet begins with the chip's two status bytes.
            for (int at = 0; at < transfer->actual_length; at += queue.packetSize_) {
                const int end = std::min(at + queue.packetSize_, transfer->actual_length);
                queue.bytes_.insert(queue.bytes_.end(), transfer->buffer + std::min(at + 2, end),
                                    transfer->buffer + end);
            }
            break;
        case LIBUSB_TRANSFER_CANCELLED:
            return;
        case LIBUSB_TRANSFER_NO_DEVICE:
            queue.error_ = LIBUSB_ERROR_NO_DEVICE;
            return;
        default:
            queue.error_ = LIBUSB_ERROR_IO;
            return;
    }
    if (!queue.stopping_ && queue.error_ == 0) {
        if (const int status = queue.Submit(slot); status != 0) {
            queue.error_ = status;
        }
    }
}

int FtdiReadQueue::Wait(std::chrono::milliseconds timeout) {
    const std::uint32_t startMs = clock_.TickMs();
    const auto elapsed = [&] { return std::chrono::milliseconds(clock_.TickMs() - startMs); };
    ended_ = false;
    int done = 0;
    do {
        timeval left = TimevalOf(timeout - elapsed());
        if (const int status = libusb_handle_events_timeout_completed(context_, &left, &done); status != 0) {
            return status;
        }
    } while (!ended_ && error_ == 0 && elapsed() < timeout);
    return error_;
}

int FtdiReadQueue::Discard() {
    timeval now{0, 0};
    const int status = libusb_handle_events_timeout_completed(context_, &now, nullptr);
    bytes_.clear();
    return status != 0 ? status : error_;
}

}  // namespace kestrel
