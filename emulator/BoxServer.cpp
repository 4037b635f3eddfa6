#include "emulator/BoxServer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kestrel::emulator {

namespace {

std::uint64_t NowUs() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

std::uint32_t NowMs() { return static_cast<std::uint32_t>(NowUs() / 1000); }

std::string ImagePathFor(const std::string& pattern, int download) {
    const std::size_t at = pattern.find("%d");
    if (at == std::string::npos) {
        return pattern;
    }
    return pattern.substr(0, at) + std::to_string(download) + pattern.substr(at + 2);
}

constexpr std::size_t kChunk = 4096;

// Where the symbolic link at `path` points; empty when it is no symbolic link.
std::string LinkTarget(const std::string& path) {
    std::array<char, 4096> target{};
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
    return n > 0 ? std::string(target.data(), static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

BoxServer::BoxServer(BoxModel model, BoxServerOptions options)
    : model_(std::move(model)), options_(std::move(options)) {}

BoxServer::~BoxServer() {
    CloseLine();
    for (int& fd : stopPipe_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    // Only while it is still this server's own: someone may have put another file there since.
    if (!linkedTo_.empty() && LinkTarget(options_.linkPath) == linkedTo_) {
        ::unlink(options_.linkPath.c_str());
    }
}

bool BoxServer::Start() {
    if (stopPipe_[0] < 0 && ::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = errno;
        return false;
    }
    return OpenLine();
}

std::string BoxServer::DevicePath() const { return options_.linkPath.empty() ? line_.SlavePath() : options_.linkPath; }

bool BoxServer::OpenLine() {
    if (!line_.Create()) {
        error_ = line_.Error();
        return false;
    }
    openers_ = 0;
    watchFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watchFd_ < 0 || ::inotify_add_watch(watchFd_, line_.SlavePath().c_str(), IN_OPEN | IN_CLOSE) < 0) {
        error_ = errno;
        CloseLine();
        return false;
    }
    if (!PointLink()) {
        error_ = errno;
        CloseLine();
        return false;
    }
    return true;
}

void BoxServer::CloseLine() {
    if (watchFd_ >= 0) {
        ::close(watchFd_);
        watchFd_ = -1;
    }
    line_.Close();
    pending_.clear();
    pendingSent_ = 0;
}

bool BoxServer::PointLink() {
    if (options_.linkPath.empty()) {
        return true;
    }
    const std::string& path = options_.linkPath;
    const std::string& device = line_.SlavePath();
    if (linkedTo_.empty()) {
        // Made only where nothing is: fails with EEXIST over any file, another box's link included.
        if (::symlink(device.c_str(), path.c_str()) != 0) {
            return false;
        }
        linkedTo_ = device;
        return true;
    }
    // After a hang-up, while the link is still this server's: replaced in one
    // step, so that a tool opening it never finds it missing.
    if (LinkTarget(path) != linkedTo_) {
        errno = EEXIST;
        return false;
    }
    const std::string fresh = path + "." + std::to_string(::getpid()) + ".new";
    if (::symlink(device.c_str(), fresh.c_str()) != 0) {
        return false;
    }
    if (::rename(fresh.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        errno = error;
        return false;
    }
    linkedTo_ = device;
    return true;
}

void BoxServer::Stop() {
    const char wake = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(stopPipe_[1], &wake, 1);
}

int BoxServer::Run() {
    if (!line_.IsOpen() || stopPipe_[0] < 0) {
        return error_ = EBADF;
    }
    const std::uint32_t giveUpAt = NowMs() + options_.giveUpAfterMs;
    for (;;) {
        const std::uint32_t now = NowMs();
        if (options_.giveUpAfterMs > 0 && static_cast<std::int32_t>(now - giveUpAt) >= 0) {
            CloseLine();
            return error_ = ETIMEDOUT;
        }
        model_.Advance(now);
        SaveNewImage();
        if (!WriteToTool()) {
            return error_;
        }
        if (model_.WantsHangUp() && pending_.empty() && !model_.HasOutput()) {
            CloseLine();
            model_.Restart();
            if (!OpenLine()) {
                return error_;
            }
        }
        if (Finished()) {
            return 0;
        }

        const std::uint64_t nowUs = NowUs();
        const bool mayRead = toBox_.Allowance(nowUs, 1) > 0;
        const bool mayWrite = !pending_.empty() && toTool_.Allowance(nowUs, 1) > 0;
        std::array<pollfd, 3> fds{{
            {stopPipe_[0], POLLIN, 0},
            {watchFd_, POLLIN, 0},
            {line_.MasterFd(), static_cast<short>((mayRead ? POLLIN : 0) | (mayWrite ? POLLOUT : 0)), 0},
        }};
        int timeout = PollTimeout(now, giveUpAt);
        const auto wakeFor = [&timeout](int ms) { timeout = timeout < 0 ? ms : std::min(timeout, ms); };
        if (!mayRead) {
            wakeFor(toBox_.WaitMs(nowUs));
        }
        if (!pending_.empty() && !mayWrite) {
            wakeFor(toTool_.WaitMs(nowUs));
        }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return error_ = errno;
        }
        if (fds[0].revents != 0) {
            char drained[16];
            while (::read(stopPipe_[0], drained, sizeof drained) > 0) {
            }
            return 0;
        }
        if (fds[1].revents != 0) {
            HandleLineEvents();
        }
        if ((fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !ReadFromTool(NowMs())) {
            return error_;
        }
    }
}

void BoxServer::HandleLineEvents() {
    alignas(inotify_event) std::array<char, 4096> events;
    bool openedAfresh = false;
    ssize_t n;
    while ((n = ::read(watchFd_, events.data(), events.size())) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events.data() + at);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                openers_ = 0;  // the count is lost: the next open starts afresh
            }
            if ((event->mask & IN_OPEN) != 0) {
                openedAfresh = openedAfresh || openers_ == 0;
                ++openers_;
            }
            if ((event->mask & IN_CLOSE) != 0 && openers_ > 0 && --openers_ == 0) {
                // A tool killed while it held the line exclusively leaves the flag
                // on this side's terminal, and every later open but root's fails.
                ::ioctl(line_.SlaveFd(), TIOCNXCL);
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    // A second opener while the tool's download runs (root passes the tool's
    // exclusive lock) must not reset it: only an open after the tool side has
    // closed starts the box from the beginning.
    if (openedAfresh) {
        // Nothing of an abandoned exchange, neither in the model nor still
        // unread on the line, reaches the new opener.
        model_.Restart();
        pending_.clear();
        pendingSent_ = 0;
        ::tcflush(line_.SlaveFd(), TCIFLUSH);
    }
}

bool BoxServer::ReadFromTool(std::uint32_t nowMs) {
    std::array<std::uint8_t, kChunk> buffer;
    for (;;) {
        // The tool may have closed and opened again while the old bytes were read:
        // what it sends after the open must not end up in the old exchange.
        HandleLineEvents();
        NoteLineSettings();
        const std::uint64_t nowUs = NowUs();
        const std::size_t allowed = toBox_.Allowance(nowUs, buffer.size());
        if (allowed == 0) {
            return true;  // the wire is busy: the rest waits in the line
        }
        const ssize_t n = ::read(line_.MasterFd(), buffer.data(), allowed);
        if (n > 0) {
            toBox_.Pass(nowUs, static_cast<std::size_t>(n));
            model_.Receive(buffer.data(), static_cast<std::size_t>(n), nowMs);
            SaveNewImage();
            if (model_.WantsHangUp()) {
                return true;  // a box going away takes nothing more off the line
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        // The slave is held open here, so the line cannot have been hung up by the tool.
        error_ = n == 0 ? EIO : errno;
        return false;
    }
}

bool BoxServer::WriteToTool() {
    for (;;) {
        if (pendingSent_ == pending_.size()) {
            pending_.resize(kChunk);
            pending_.resize(model_.TakeOutput(pending_.data(), kChunk));
            pendingSent_ = 0;
            if (pending_.empty()) {
                return true;
            }
        }
        const std::uint64_t nowUs = NowUs();
        const std::size_t allowed = toTool_.Allowance(nowUs, pending_.size() - pendingSent_);
        if (allowed == 0) {
            return true;
        }
        const ssize_t n = ::write(line_.MasterFd(), pending_.data() + pendingSent_, allowed);
        if (n > 0) {
            toTool_.Pass(nowUs, static_cast<std::size_t>(n));
            pendingSent_ += static_cast<std::size_t>(n);
            if (pendingSent_ == pending_.size()) {
                pending_.clear();
                pendingSent_ = 0;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;  // the line is full: poll says when it takes more
        }
        error_ = n == 0 ? EIO : errno;
        return false;
    }
}

int BoxServer::PollTimeout(std::uint32_t nowMs, std::uint32_t giveUpAtMs) const {
    std::optional<std::uint32_t> deadline = model_.NextDeadline();
    if (options_.giveUpAfterMs > 0 && (!deadline || static_cast<std::int32_t>(giveUpAtMs - *deadline) < 0)) {
        deadline = giveUpAtMs;
    }
    if (!deadline) {
        return -1;
    }
    const auto ahead = static_cast<std::int32_t>(*deadline - nowMs);
    return ahead > 0 ? ahead : 0;
}

bool BoxServer::Finished() const {
    return options_.stopAfterDownloads > 0 && model_.EndedExchanges() >= options_.stopAfterDownloads &&
           pending_.empty() && !model_.HasOutput();
}

void BoxServer::NoteLineSettings() {
    const auto settings = ReadLineSettings(line_.SlaveFd());
    if (!settings || (!seenSettings_.empty() && seenSettings_.back() == *settings)) {
        return;
    }
    seenSettings_.push_back(*settings);
    Report("line " + settings->Text());
    if (options_.paceAtLineRate) {
        toBox_.SetRate(settings->BytesPerSecond());
        toTool_.SetRate(settings->BytesPerSecond());
    }
}

void BoxServer::SaveNewImage() {
    if (options_.saveImagePath.empty() || model_.CompletedDownloads() == savedDownloads_) {
        return;
    }
    savedDownloads_ = model_.CompletedDownloads();
    const std::string path = ImagePathFor(options_.saveImagePath, savedDownloads_);
    const auto& image = model_.LastImage();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    file.close();
    Report(file ? "image of " + std::to_string(image.size()) + " bytes saved to " + path
                : "cannot save the image to " + path);
}

void BoxServer::Report(const std::string& message) const {
    if (options_.report) {
        options_.report(message);
    }
}

}  // namespace kestrel::emulator
