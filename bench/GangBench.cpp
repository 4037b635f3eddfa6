// Flashing several boxes at once must cost about as much time as one box: the
// line rate, not the tool, is the limit. Four emulated boxes on serial lines
// paced at 115200 baud, 8N2, against one alone; each paced download takes about 25 s.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/ServedBox.h"
#include "session/RecordingStatusList.h"
#include "station/GangDownload.h"
#include "station/LotUnits.h"
#include "station/PreparedLot.h"
#include "station/Sha256.h"
#include "support/SRecordWriter.h"
#include "support/TempDir.h"

namespace {

using namespace kestrel;

// Seconds until every box has been flashed and verified; negative when one failed. With `units`, each box
// first takes its own serial number from the counter and gets its own image, as a station's gang does.
double FlashAtOnce(const GangImage& image, std::size_t count, LotUnits* units = nullptr) {
    // Boxes whose bytes pass at the line rate, each served on its own thread.
    std::vector<std::unique_ptr<emulator::ServedBox>> served;
    std::vector<RecordingStatusList> lists(count);
    std::vector<GangBox> boxes(count);
    for (std::size_t i = 0; i < count; ++i) {
        served.push_back(std::make_unique<emulator::ServedBox>(emulator::BoxModel(),
                                                               emulator::BoxServerOptions{.paceAtLineRate = true}));
        if (!served.back()->Started())
            return -1;
        boxes[i].linkName = served.back()->DevicePath();
        boxes[i].status = &lists[i];
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<BoxUnit> taken(count);
    std::string why;
    if (units != nullptr && units->Take(taken, why) != 0)
        return -1;
    for (std::size_t i = 0; units != nullptr && i < count; ++i) {
        boxes[i].ownImage = image.bytes;
        units->Personalise(taken[i], boxes[i].ownImage.data(), static_cast<std::uint32_t>(boxes[i].ownImage.size()));
        benchmark::DoNotOptimize(Sha256Hex(boxes[i].ownImage.data(), boxes[i].ownImage.size()));
    }
    const auto results = RunGangDownload(image, boxes);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& result : results) {
        if (result.outcome != DownloadOutcome::Success)
            return -1;
    }
    return seconds;
}

// Times `base` and then `measured` once each, and reports both and their ratio under the names given;
// the iteration's time is `measured`'s. A failed download ends the benchmark with an error.
template <typename Base, typename Measured>
void CompareOnce(benchmark::State& state, Base base, Measured measured, const char* baseName,
                 const char* measuredName) {
    for (auto _ : state) {
        const double first = base(), second = measured();
        if (first <= 0 || second <= 0) {
            state.SkipWithError("a download failed");
            break;
        }
        state.SetIterationTime(second);
        state.counters[baseName] = first;
        state.counters[measuredName] = second;
        state.counters["ratio"] = second / first;
    }
}

void BM_FourBoxesAtOnceAgainstOne(benchmark::State& state) {
    const testing::TempDir dir;
    const std::string path =
        dir.Write("gang.mot", testing::WriteSRecordFile({{0xE0000, std::vector<std::uint8_t>(4096, 0x5A)}}));
    RecordingStatusList preparation;
    GangImage image;
    const DownloadOutcome prepared = PrepareGangImage(path, preparation, image);
    if (prepared != DownloadOutcome::Success) {
        state.SkipWithError("the firmware was refused");
        return;
    }
    // Goal: a ratio of at most 1.05.
    CompareOnce(
        state, [&] { return FlashAtOnce(image, 1); }, [&] { return FlashAtOnce(image, 4); }, "one_box_s",
        "four_boxes_s");
    state.counters["image_bytes"] = static_cast<double>(image.bytes.size());
}
BENCHMARK(BM_FourBoxesAtOnceAgainstOne)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Sixteen paced boxes, each with its own serial number (taken from a counter on the disk, written into its own
// image) against the same gang with one image for all: the numbers must cost no time the line would notice.
void BM_SixteenBoxesWithSerialsAgainstWithout(benchmark::State& state) {
    const testing::TempDir dir;
    const std::string path =
        dir.Write("gang.mot", testing::WriteSRecordFile({{0xE0000, std::vector<std::uint8_t>(4096, 0x5A)}}));
    PreparedLot lot;
    if (PrepareLot({.firmware = path}, lot) || lot.built != DownloadOutcome::Success) {
        state.SkipWithError("the firmware was refused");
        return;
    }
    std::unique_ptr<LotUnits> units;
    if (LotUnits::Prepare({.fieldAt = 0xE1000, .counter = (dir.Path() / "counter").string()}, lot, units)) {
        state.SkipWithError("the counter was refused");
        return;
    }
    // Goal: a ratio of at most 1.01.
    CompareOnce(
        state, [&] { return FlashAtOnce(lot.image, 16); }, [&] { return FlashAtOnce(lot.image, 16, units.get()); },
        "without_s", "with_serials_s");
}
BENCHMARK(BM_SixteenBoxesWithSerialsAgainstWithout)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
