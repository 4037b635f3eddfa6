#pragma once

// kestrel-flash and kestrel-box as separate processes, as a user or a script runs them.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "links/SerialLink.h"
#include "support/TempDir.h"

namespace kestrel::testing {

// The program under test and the demo firmware, where the build put them.
inline const std::string kFlash = KESTREL_FLASH;
inline const std::string kMot = std::string(KESTREL_SAMPLES_DIR) + "/kestrel-demo.mot";
inline const std::string kBin = std::string(KESTREL_SAMPLES_DIR) + "/kestrel-demo.bin";

using Lines = std::vector<std::string>;

// What kestrel-flash reports while it builds the image of the demo .mot file.
inline const Lines kPrepared = {"Loading sourcefile... ", "Analysing sourcefile... ", "270 lines interpreted",
                                "Building output data... "};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ProcessResult {
    int exitStatus = -1;    // -1 when it did not exit by itself
    bool timedOut = false;  // killed at the deadline
    std::string out;
    std::string err;
    double seconds = 0;

    Lines OutLines() const {
        Lines lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::string LastOutLine() const {
        const auto lines = OutLines();
        return lines.empty() ? std::string() : lines.back();
    }
};

struct ProcessOptions {
    std::chrono::milliseconds deadline{20000};
    std::optional<uid_t> runAs{};  // switch to this user (and its group) before exec
    // Sent once the process has written `signalAfter` to stdout.
    std::string signalAfter{};
    int signalToSend = 0;
    std::optional<int> stdoutTo{};          // stdout on this descriptor instead of the pipe; -1: closed
    std::optional<rlim_t> fileSizeLimit{};  // the most a file may grow to, as on a full disk
};

// Starts `argv` (argv[0] a path) with its stdout on a pipe, read from `out`,
// and its stderr into the file `errPath`.
inline pid_t Spawn(const Lines& argv, int& out, const std::string& errPath, const ProcessOptions& options = {}) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe[1], STDOUT_FILENO);
        ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), STDERR_FILENO);
        const auto& runAs = options.runAs;
        if (runAs && (::setgroups(0, nullptr) != 0 || ::setgid(*runAs) != 0 || ::setuid(*runAs) != 0))
            ::_exit(126);
        if (options.stdoutTo)
            *options.stdoutTo < 0 ? ::close(STDOUT_FILENO) : ::dup2(*options.stdoutTo, STDOUT_FILENO);
        if (const rlimit limit{options.fileSizeLimit.value_or(0), options.fileSizeLimit.value_or(0)};
            options.fileSizeLimit && (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0))
            ::_exit(126);
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    out = pipe[0];
    return pid;
}

// Reads what is there on `fd` into `into`; false at end of file.
inline bool Drain(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0)
        into.append(buffer, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

inline int ExitStatusOf(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs kestrel-flash with `args` and collects its output until it ends or the
// deadline passes; a process still running then is killed.
inline ProcessResult Flash(const Lines& args, const ProcessOptions& options = {}) {
    using Clock = std::chrono::steady_clock;
    const TempDir dir;
    const std::string errPath = (dir.Path() / "stderr").string();
    Lines argv = {kFlash};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult result;
    int out = -1;
    const auto start = Clock::now();
    const pid_t pid = Spawn(argv, out, errPath, options);
    bool signalled = options.signalAfter.empty();
    for (pollfd fd{out, POLLIN, 0};;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(start + options.deadline - Clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        if (::poll(&fd, 1, static_cast<int>(left.count())) > 0 && !Drain(out, result.out))
            break;
        if (!signalled && result.out.find(options.signalAfter) != std::string::npos) {
            ::kill(pid, options.signalToSend);
            signalled = true;
        }
    }
    ::close(out);
    result.exitStatus = ExitStatusOf(pid);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.err = ReadFile(errPath);
    return result;
}

// kestrel-box as a separate process, reached through a link in a fresh
// directory; its first line on stdout is its device's path.
class BoxProcess {
public:
    explicit BoxProcess(const Lines& scenario = {}) {
        Lines argv = {KESTREL_BOX, "--link", linkPath, "--save-image", (dir.Path() / "received-%d.bin").string()};
        argv.insert(argv.end(), scenario.begin(), scenario.end());
        pid_ = Spawn(argv, out_, errPath_);
        std::string out;
        pollfd fd{out_, POLLIN, 0};
        while (out.find('\n') == std::string::npos && ::poll(&fd, 1, 5000) > 0 && Drain(out_, out)) {
        }
        device = out.substr(0, out.find('\n'));
    }
    ~BoxProcess() { Stop(); }
    BoxProcess(const BoxProcess&) = delete;
    BoxProcess& operator=(const BoxProcess&) = delete;

    // Ends it with SIGTERM; what it wrote to stderr.
    std::string Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ExitStatusOf(pid_);
            ::close(out_);
            pid_ = -1;
        }
        return ReadFile(errPath_);
    }
    std::string SavedImage(int download) const {
        return ReadFile((dir.Path() / ("received-" + std::to_string(download) + ".bin")).string());
    }

    TempDir dir;
    std::string linkPath = (dir.Path() / "box").string();
    std::string device;

private:
    std::string errPath_ = (dir.Path() / "stderr").string();
    pid_t pid_ = -1;
    int out_ = -1;
};

// The port is free: another program opens it at once. After a hang-up the box
// makes a new line and points its link there, which takes it a moment:
// `newLineMs` allows for that.
inline bool PortOpensAgain(const std::string& path, int newLineMs = 0) {
    for (int waited = 0;; waited += 20) {
        SerialLink link;
        const bool opened = link.Open(path, 115200, 0, 2, 8);
        link.Close();
        if (opened || waited >= newLineMs)
            return opened;
        ::usleep(20000);
    }
}

// The terminal settings of the device as any program finds them.
inline std::optional<termios> TerminalSettings(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    termios settings{};
    const bool read = ::tcgetattr(fd, &settings) == 0;
    ::close(fd);
    return read ? std::optional<termios>(settings) : std::nullopt;
}

}  // namespace kestrel::testing
