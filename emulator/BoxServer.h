#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/UniqueFd.h"
#include "emulator/BoxModel.h"
#include "emulator/LinePacer.h"
#include "emulator/LineSettings.h"
#include "emulator/OpenerWatch.h"
#include "emulator/PseudoTerminal.h"
#include "emulator/StableLink.h"

namespace kestrel::emulator {

struct BoxServerOptions {
    // Where a symbolic link to the line's device is kept, pointing at the
    // current line also after a hang-up; empty: none. Start refuses (EEXIST) a
    // path that exists already: another box's link or a user's file stays as it is.
    std::string linkPath{};
    // Run returns once this many downloads have ended; 0: only Stop ends it.
    int stopAfterDownloads = 0;
    // Each image received whole is written here; a "%d" in it becomes the
    // download's number, counted from 1. Empty: none kept.
    std::string saveImagePath{};
    // Bytes pass at the rate of the line settings the tool chose, both ways, as on a wire.
    bool paceAtLineRate = false;
    // Run gives up after this long: it hangs the line up, so that a tool still
    // waiting on it sees the end at once, and returns ETIMEDOUT. 0: no bound.
    std::uint32_t giveUpAfterMs = 0;
    // Told of line settings when they change and of images saved, from Run's thread.
    std::function<void(const std::string&)> report{};
};

// Serves a BoxModel on a pseudo-terminal: what the tool writes to the line goes
// into the model, what the model sends goes out on the line, and the model's
// deadlines are kept by poll. Idle, it sleeps in poll.
class BoxServer {
public:
    explicit BoxServer(BoxModel model, BoxServerOptions options = {});
    ~BoxServer();
    BoxServer(const BoxServer&) = delete;
    BoxServer& operator=(const BoxServer&) = delete;

    // Creates the line (and the link to it). False with errno in Error().
    bool Start();
    // The path the tool opens: the link if one was asked for, else the device.
    // Any thread may ask while Run hangs up and opens a new device.
    std::string DevicePath() const;

    // Serves until Stop or the download count. 0, or the errno of a failure.
    int Run();
    // From any thread or a signal handler: Run returns soon after.
    void Stop();

    // Read only while Run is not running.
    const BoxModel& Model() const { return model_; }
    // The line settings under which bytes arrived, each change once, in order.
    const std::vector<LineSettings>& SeenLineSettings() const { return seenSettings_; }
    int Error() const { return error_; }

private:
    bool OpenLine();
    void CloseLine();
    void HandleLineEvents();
    bool ReadFromTool(std::uint32_t nowMs);
    bool WriteToTool();
    int PollTimeout(std::uint32_t nowMs, std::uint32_t giveUpAtMs) const;
    bool Finished() const;
    void NoteLineSettings();
    void SaveNewImage();
    void Report(const std::string& message) const;

    BoxModel model_;
    BoxServerOptions options_;
    PseudoTerminal line_;
    mutable std::mutex devicePathMutex_;
    std::string devicePath_;  // line_'s, kept apart: the line is closed and opened on Run's thread
    StableLink link_;         // made from options_.linkPath, so declared after options_
    UniqueFd stopReader_;
    UniqueFd stopWriter_;
    OpenerWatch openers_;                // the tool opening and closing the line
    std::vector<std::uint8_t> pending_;  // taken from the model, not yet on the line
    std::size_t pendingSent_ = 0;
    std::vector<LineSettings> seenSettings_;
    LinePacer toBox_;
    LinePacer toTool_;
    int savedDownloads_ = 0;
    int error_ = 0;
};

}  // namespace kestrel::emulator
