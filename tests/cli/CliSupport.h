#pragma once

// kestrel-flash and kestrel-box as separate processes, as a user or a script runs them.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "links/SerialLink.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "support/Text.h"

namespace kestrel::testing {

// The demo firmware, where the build put it.
inline const std::string kMot = std::string(KESTREL_SAMPLES_DIR) + "/kestrel-demo.mot";
inline const std::string kBin = std::string(KESTREL_SAMPLES_DIR) + "/kestrel-demo.bin";

struct ProcessResult {
    int exitStatus = -1;    // -1 when it did not exit by itself
    bool timedOut = false;  // killed at the deadline
    std::string out, err;
    double seconds = 0;

    std::string LastOutLine() const {
        const std::string text = out.ends_with('\n') ? out.substr(0, out.size() - 1) : out;
        return text.substr(text.rfind('\n') + 1);  // from the start when there is a single line
    }
};

struct ProcessOptions {
    // Then it is killed: only a hang gets there, a download ends by its own bounds (30 s at the most).
    std::chrono::milliseconds deadline{60000};
    std::function<void()> inChild{};  // just before exec: another stdout, user or limit; _exit(126) if refused
    std::string signalAfter{};        // `signalToSend` goes once stdout shows this
    int signalToSend = 0;
    std::chrono::milliseconds signalAt{0};  // or this long after the start
};

// Runs `argv` (argv[0] a path) with its stdout and stderr in the files `outPath` and `errPath`.
inline pid_t Spawn(const Lines& argv, const std::string& outPath, const std::string& errPath,
                   const std::function<void()>& inChild = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), STDOUT_FILENO);
        ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), STDERR_FILENO);
        if (inChild)
            inChild();
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// Runs `argv` until it ends or the deadline passes, when it is killed.
inline ProcessResult RunProcess(const Lines& argv, const ProcessOptions& options = {}) {
    using Clock = std::chrono::steady_clock;
    const TempDir dir;
    const std::string outPath = (dir.Path() / "stdout").string(), errPath = (dir.Path() / "stderr").string();
    ProcessResult result;
    const auto start = Clock::now();
    const pid_t pid = Spawn(argv, outPath, errPath, options.inChild);
    bool signalled = options.signalAfter.empty() && options.signalAt.count() == 0;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > start + options.deadline) {
            ::kill(pid, SIGKILL);
            result.timedOut = true;
        } else if (!signalled &&
                   (options.signalAfter.empty() ? Clock::now() > start + options.signalAt
                                                : ReadFile(outPath).find(options.signalAfter) != std::string::npos)) {
            signalled = ::kill(pid, options.signalToSend) == 0;
        }
        ::usleep(2000);
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

inline ProcessResult Flash(Lines args, const ProcessOptions& options = {}) {
    args.insert(args.begin(), KESTREL_FLASH);
    return RunProcess(args, options);
}

// kestrel-box as a separate process, reached through a link in a fresh
// directory; its first line on stdout is its device's path.
struct BoxProcess {
    explicit BoxProcess(const Lines& scenario = {}) {
        Lines argv = {KESTREL_BOX, "--link", linkPath, "--save-image", (dir.Path() / "received-%d.bin").string()};
        argv.insert(argv.end(), scenario.begin(), scenario.end());
        pid_ = Spawn(argv, outPath_, errPath_);
        Eventually([this] { return ReadFile(outPath_).find('\n') != std::string::npos; }, std::chrono::seconds(5),
                   std::chrono::milliseconds(2));
        device = ReadFile(outPath_).substr(0, ReadFile(outPath_).find('\n'));
    }
    ~BoxProcess() { Stop(); }

    // Ends it with SIGTERM; what it wrote to stderr.
    std::string Stop() {
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0)
            ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return ReadFile(errPath_);
    }
    std::string SavedImage(int download) const {
        return ReadFile((dir.Path() / ("received-" + std::to_string(download) + ".bin")).string());
    }

    TempDir dir;
    std::string linkPath = (dir.Path() / "box").string();
    std::string device;
    std::string outPath_ = (dir.Path() / "stdout").string(), errPath_ = (dir.Path() / "stderr").string();
    pid_t pid_ = -1;
};

// The port is free: another program opens it at once. After a hang-up the box
// makes a new line and points its link there, which takes it a moment:
// `newLineMs` allows for that.
inline bool PortOpensAgain(const std::string& path, int newLineMs = 0) {
    return Eventually([&path] { return SerialLink().Open(path, 115200, 0, 2, 8); },  // closed again as it goes
                      std::chrono::milliseconds(newLineMs), std::chrono::milliseconds(20));
}

}  // namespace kestrel::testing
