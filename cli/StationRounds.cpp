// The station's rounds: which boxes each takes, the waits for them to come
// and go, and the result of a box that never came.
#include <algorithm>
#include <cstdio>

#include "cli/StationRunner.h"
#include "session/LinkNames.h"

namespace kestrel::cli {

int StationRunner::RunRounds() {
    if (!SetUpBoxes()) {
        return kExitLink;
    }
    int status = kExitSuccess;
    for (int round = 1; station_.repeat == 0 || round <= station_.repeat; ++round) {
        // --all-usb takes the boxes attached now, so a station can swap in new ones.
        if (ListsAllUsb() && !FindAllUsb()) {
            return FirstFailure(status, Cancelled() ? kExitCancelled : kExitLink);
        }
        std::vector<bool> here(links_.size(), true);
        if (station_.wait && !ListsAllUsb()) {
            here = WaitForAttached(Waited(), station_.waitTimeoutSeconds);
            status = FirstFailure(status, RecordAbsent(here));
        }
        if (Cancelled()) {
            return FirstFailure(status, kExitCancelled);
        }
        NoteChangedFile();
        const int roundStatus = RunPresent(here);
        status = FirstFailure(status, roundStatus);
        if (roundStatus == kExitCancelled || Cancelled()) {
            return FirstFailure(status, kExitCancelled);
        }
        if (lot_.records->Lost()) {
            return FirstFailure(status, kExitOutput);  // no next box without its trace
        }
        const bool more = station_.repeat == 0 || round < station_.repeat;
        // The next round is for the next boxes: the flashed ones go first.
        if (more && station_.wait && request_.emulate.empty() &&
            !WaitForRemoval(Waited(), here, station_.waitTimeoutSeconds)) {
            return FirstFailure(status, Cancelled() ? kExitCancelled : kExitLink);
        }
    }
    return status;
}

bool StationRunner::SetUpBoxes() {
    links_ = station_.ports;
    if (!request_.emulate.empty()) {
        // One emulated box for each port asked for; its own link replaces the name.
        const std::size_t count = links_.empty() ? 1 : links_.size();
        links_.clear();
        return StartEmulatedBoxes(request_.emulate, request_.file, count, request_.quiet, emulated_, links_, drivers_);
    }
    if (links_.empty() && !station_.allUsb) {
        links_.push_back("USB");
    }
    drivers_.assign(links_.size(), request_.usbDriver);
    return true;
}

bool StationRunner::FindAllUsb() {
    std::vector<UsbDeviceInfo> devices;
    const auto found = [&] {
        devices.clear();
        return Usb().ListDevices(devices) == 0 && !devices.empty();
    };
    if (station_.wait && !request_.quiet) {
        std::fprintf(stderr, "kestrel-flash: waiting for a USB box to be attached\n");
    }
    if (!(station_.wait ? WaitUntil(found, station_.waitTimeoutSeconds, request_.cancelRequested, Usb().TimeBase())
                        : found())) {
        std::fprintf(stderr, "kestrel-flash: --all-usb: %s\n", Cancelled() ? "cancelled" : "no USB box found");
        return false;
    }
    links_.clear();
    for (const auto& device : devices) {
        links_.push_back(UsbLinkName(device, devices));
    }
    drivers_.assign(links_.size(), request_.usbDriver);
    return true;
}

int StationRunner::RecordAbsent(const std::vector<bool>& here) {
    int status = kExitSuccess;
    for (std::size_t i = 0; i < links_.size(); ++i) {
        if (!here[i] || Cancelled()) {
            const bool cancelled = Cancelled();
            const int exitStatus = cancelled ? kExitCancelled : kExitLink;
            if (station_.json) {
                JsonLinesStatusList list(json_, nullptr, links_.size() > 1 ? links_[i] : std::string());
                list.SetTrace(lot_.records->Fields());
                list.Result(cancelled ? "cancelled" : "not-attached", exitStatus, "", 0);
            }
            std::string why;
            if (lot_.records->NeverBegan(links_[i], request_.file, cancelled, why) != kExitSuccess) {
                std::fprintf(stderr, "kestrel-flash: %s\n", why.c_str());
            }
            status = FirstFailure(status, exitStatus);
        }
    }
    return status;
}

int StationRunner::RunPresent(const std::vector<bool>& here) {
    const std::vector<std::string> all = links_;
    const std::vector<UsbDriver*> allDrivers = drivers_;
    links_.clear();
    drivers_.clear();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (here[i]) {
            links_.push_back(all[i]);
            drivers_.push_back(allDrivers[i]);
        }
    }
    const int status = links_.empty() ? kExitSuccess : all.size() == 1 ? RunSingle() : RunGang();
    links_ = all;
    drivers_ = allDrivers;
    return status;
}

}  // namespace kestrel::cli
