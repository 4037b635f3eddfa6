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

}  // namespace

BoxServer::BoxServer(BoxModel model, BoxServerOptions options)
    : model_(std::move(model)), options_(std::move(options)), link_(options_.linkPath) {}

BoxServer::~BoxServer() { CloseLine(); }

bool BoxServer::Start() {
    if (!stopReader_) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            error_ = errno;
            return false;
        }
        stopReader_.Reset(ends[0]);
        stopWriter_.Reset(ends[1]);
    }
    return OpenLine();
}

std::string BoxServer::DevicePath() const {
    if (!options_.linkPath.empty()) {
        return options_.linkPath;
    }
    const std::lock_guard lock(devicePathMutex_);
    return devicePath_;
}

bool BoxServer::OpenLine() {
    if (!line_.Create()) {
        error_ = line_.Error();
        return false;
    }
    if (!openers_.Watch(line_.SlavePath()) || !link_.PointAt(line_.SlavePath())) {
        error_ = errno;
        CloseLine();
        return false;
    }
    const std::lock_guard lock(devicePathMutex_);
    devicePath_ = line_.SlavePath();
    return true;
}

void BoxServer::CloseLine() {
    openers_.Stop();
    line_.Close();
    pending_.clear();
    pendingSent_ = 0;
}

void BoxServer::Stop() {
    const char wake = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(stopWriter_.Get(), &wake, 1);
}

int BoxServer::Run() {
    if (!line_.IsOpen() || !stopReader_) {
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
            {stopReader_.Get(), POLLIN, 0},
            {openers_.Fd(), POLLIN, 0},
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
            while (::read(stopReader_.Get(), drained, sizeof drained) > 0) {
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
    // A tool killed while it held the line exclusively leaves the flag on this
    // side's terminal, and every later open but root's fails.
    const bool openedAfresh = openers_.TakeEvents([this] { ::ioctl(line_.SlaveFd(), TIOCNXCL); });
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
