#include "RunProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace kestrel::testing {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, int outPipe[2], int errPipe[2], std::optional<uid_t> runAs) {
    ::pipe2(outPipe, O_CLOEXEC);
    ::pipe2(errPipe, O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        if (runAs) {
            ::setgroups(0, nullptr);
            if (::setgid(*runAs) != 0 || ::setuid(*runAs) != 0) {
                ::_exit(126);
            }
        }
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    return pid;
}

// Reads what is there on `fd` into `into`; false at end of file.
bool Drain(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && errno == EINTR;
}

void Collect(pid_t pid, int& status, ProcessResult& result) {
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
}

}  // namespace

std::vector<std::string> ProcessResult::OutLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string ProcessResult::LastOutLine() const {
    const auto lines = OutLines();
    return lines.empty() ? std::string() : lines.back();
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    using Clock = std::chrono::steady_clock;
    ProcessResult result;
    int outPipe[2];
    int errPipe[2];
    const auto start = Clock::now();
    const pid_t pid = Spawn(argv, outPipe, errPipe, options.runAs);
    const auto deadline = start + options.deadline;
    bool signalled = options.signalAfter.empty();
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            ::kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left)) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0 && !Drain(fds[i].fd, i == 0 ? result.out : result.err)) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
        if (!signalled && result.out.find(options.signalAfter) != std::string::npos) {
            ::kill(pid, options.signalToSend);
            signalled = true;
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    int status = 0;
    Collect(pid, status, result);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv) {
    int outPipe[2];
    int errPipe[2];
    pid_ = Spawn(argv, outPipe, errPipe, std::nullopt);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    std::string out;
    pollfd fd{outFd_, POLLIN, 0};
    while (out.find('\n') == std::string::npos && ::poll(&fd, 1, 5000) > 0 && Drain(outFd_, out)) {
    }
    firstLine_ = out.substr(0, out.find('\n'));
}

std::string BackgroundProcess::Stop(int* exitStatus) {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        while (Drain(errFd_, err_)) {
        }
        ProcessResult result;
        int status = 0;
        Collect(pid_, status, result);
        if (exitStatus != nullptr) {
            *exitStatus = result.exitStatus;
        }
        pid_ = -1;
        ::close(outFd_);
        ::close(errFd_);
    }
    return err_;
}

BackgroundProcess::~BackgroundProcess() { Stop(); }

}  // namespace kestrel::testing
