#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "builders/OutputDataBin.h"
#include "builders/OutputDataSelfProg.h"
#include "readers/ExtractDataBin.h"
#include "readers/ExtractDataMOT.h"
#include "session/DataConverter.h"
#include "support/SRecordWriter.h"

namespace {

using kestrel::DataConverter;

std::vector<std::uint8_t> RandomBytes(std::size_t count) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

// A full window of firmware, 32 data bytes per line: about 320 KB of text.
const std::string& FullWindowText() {
    static const std::string text = kestrel::testing::WriteSRecordFile(
        {{kestrel::OutputDataSelfProg::kWindowStart, RandomBytes(kestrel::OutputDataSelfProg::kWindowSize)}}, 32);
    return text;
}

// Reading and building one source from memory, as a download does, into a buffer the size of the session's.
template <typename Reader, typename Builder>
void ReadAndBuild(benchmark::State& state, const std::uint8_t* source, std::uint32_t length) {
    std::vector<std::uint8_t> image(DataConverter::kOutputBufferSize);
    for (auto _ : state) {
        kestrel::RecordList records;
        Reader reader;
        Builder builder;
        std::uint32_t outputLength = 0;
        const int lines = reader.extract(source, records, length);
        const int built =
            builder.BuildOutput(records, image.data(), outputLength, static_cast<std::uint32_t>(image.size()));
        if (lines <= 0 || built != 0) {
            state.SkipWithError("the source was refused");
            break;
        }
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * length);
}

void BM_ReadBuildFullWindowMot(benchmark::State& state) {
    const auto& text = FullWindowText();
    ReadAndBuild<kestrel::ExtractDataMOT, kestrel::OutputDataSelfProg>(
        state, reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::uint32_t>(text.size()));
}
BENCHMARK(BM_ReadBuildFullWindowMot);

void BM_ReadBuildLargestBin(benchmark::State& state) {
    static const auto bin = RandomBytes(DataConverter::kVerifyBufferOffset);
    ReadAndBuild<kestrel::ExtractDataBin, kestrel::OutputDataBin>(state, bin.data(),
                                                                  static_cast<std::uint32_t>(bin.size()));
}
BENCHMARK(BM_ReadBuildLargestBin);

}  // namespace
