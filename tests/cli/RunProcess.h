#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace kestrel::testing {

struct ProcessResult {
    int exitStatus = -1;      // -1 when it did not exit by itself
    int signal = 0;           // the signal that ended it, if one did
    bool timedOut = false;    // killed at the deadline
    std::string out;
    std::string err;
    double seconds = 0;

    std::vector<std::string> OutLines() const;
    std::string LastOutLine() const;
};

struct ProcessOptions {
    std::chrono::milliseconds deadline{20000};
    std::optional<uid_t> runAs{};  // switch to this user (and its group) before exec
    // Sent once the process has written `signalAfter` to stdout.
    std::string signalAfter{};
    int signalToSend = 0;
};

// Runs `argv` (argv[0] a path) and collects both outputs until it ends or the
// deadline passes; a process still running then is killed.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A long-running child whose stdout's first line is read, e.g. kestrel-box's device path.
class BackgroundProcess {
public:
    explicit BackgroundProcess(const std::vector<std::string>& argv);
    ~BackgroundProcess();  // SIGTERM, then waits
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    const std::string& FirstLine() const { return firstLine_; }
    // Ends it with SIGTERM; its stderr since the start and its exit status.
    std::string Stop(int* exitStatus = nullptr);

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string firstLine_;
    std::string err_;
};

}  // namespace kestrel::testing
