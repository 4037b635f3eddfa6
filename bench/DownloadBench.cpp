#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "emulator/PseudoTerminal.h"
#include "emulator/ServedBox.h"
#include "session/DownloadWorkflow.h"
#include "session/RecordingStatusList.h"
#include "support/SRecordWriter.h"
#include "support/TempDir.h"

// What the tool itself adds to a download: a whole ".mot" image flashed and read
// back into an unpaced box on a pseudo-terminal, against the time the same bytes
// take through a bare pseudo-terminal pair with nothing around them.
namespace {

constexpr std::uint32_t kWindowStart = 0xE0000;
constexpr std::size_t kWindowSize = 0x20000;
constexpr std::size_t kImageLength = 6 + kWindowSize;  // the data block, head included
constexpr std::size_t kReadBackLength = kWindowSize;

std::vector<std::uint8_t> Firmware() {
    std::vector<std::uint8_t> bytes(kWindowSize);
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void BM_DownloadWithReadBackThroughPty(benchmark::State& state) {
    const kestrel::testing::TempDir dir;
    const std::string file =
        dir.Write("full-window.mot", kestrel::testing::WriteSRecordFile({{kWindowStart, Firmware()}}));
    kestrel::emulator::ServedBox box{kestrel::emulator::BoxModel()};
    if (dir.Path().empty() || !box.Started()) {
        state.SkipWithError("no firmware file or no pseudo-terminal");
        return;
    }
    for (auto _ : state) {
        kestrel::RecordingStatusList status;
        if (kestrel::RunDownload(box.DevicePath(), file, status) != kestrel::DownloadOutcome::Success) {
            state.SkipWithError(status.lines().empty() ? "download failed" : status.lines().back().c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (kImageLength + kReadBackLength));
}
BENCHMARK(BM_DownloadWithReadBackThroughPty)->Unit(benchmark::kMillisecond)->UseRealTime();

// Moves `count` bytes from `from` to `to`, both non-blocking, waiting in poll.
bool Pass(int from, int to, const std::uint8_t* data, std::size_t count, std::uint8_t* sink) {
    std::size_t sent = 0;
    std::size_t received = 0;
    while (received < count) {
        pollfd fds[2] = {{to, POLLIN, 0}, {from, static_cast<short>(sent < count ? POLLOUT : 0), 0}};
        if (::poll(fds, 2, 1000) <= 0) {
            return false;
        }
        if (sent < count && (fds[1].revents & POLLOUT) != 0) {
            const ssize_t wrote = ::write(from, data + sent, count - sent);
            if (wrote < 0 && errno != EAGAIN)
                return false;
            if (wrote > 0)
                sent += static_cast<std::size_t>(wrote);
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t got = ::read(to, sink + received, count - received);
            if (got < 0 && errno != EAGAIN)
                return false;
            if (got > 0)
                received += static_cast<std::size_t>(got);
        }
    }
    return true;
}

void BM_SameBytesThroughBarePty(benchmark::State& state) {
    kestrel::emulator::PseudoTerminal line;
    if (!line.Create() || ::fcntl(line.SlaveFd(), F_SETFL, ::fcntl(line.SlaveFd(), F_GETFL) | O_NONBLOCK) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const std::vector<std::uint8_t> out(kImageLength, 0x5A);
    std::vector<std::uint8_t> sink(kImageLength);
    for (auto _ : state) {
        if (!Pass(line.SlaveFd(), line.MasterFd(), out.data(), kImageLength, sink.data()) ||
            !Pass(line.MasterFd(), line.SlaveFd(), out.data(), kReadBackLength, sink.data())) {
            state.SkipWithError("the pseudo-terminal stalled");
            break;
        }
        benchmark::DoNotOptimize(sink.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (kImageLength + kReadBackLength));
}
BENCHMARK(BM_SameBytesThroughBarePty)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
