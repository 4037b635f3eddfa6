// Arbitrary file contents under a ".mot" or ".bin" name, through the whole
// preparation a download makes: load, analyse, build. Every run ends with an
// image or with one "Error: " line, and a binary image is the file itself.
//
// Input: byte 0 picks the name, byte 1 how the rest is stretched (repeated up
// to a length near the buffer limits, so that a short input reaches them), the
// rest is the file content.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "builders/OutputDataSelfProg.h"
#include "session/DataConverter.h"
#include "session/PrepareImage.h"
#include "session/RecordingStatusList.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/TempDir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrel::DataConverter;
    static const char* const kNames[] = {"firmware.mot", "firmware.bin", "FIRMWARE.MOT",
                                         "image.Bin",    "firmware.hex", "a.b"};
    // Lengths near the limits: the verify half, the output buffer, the source buffer.
    static const std::uint32_t kStretchTargets[] = {29, 30, 31, 229375, 229376, 229377, 458752, 499999, 500000, 500001};
    if (size < 2)
        return -1;
    std::vector<std::uint8_t> content(data + 2, data + size);
    if (data[1] % 16 < std::size(kStretchTargets) && !content.empty()) {
        content.resize(kStretchTargets[data[1] % 16]);
        for (std::size_t i = size - 2; i < content.size(); ++i)
            content[i] = content[i % (size - 2)];
    }
    static const kestrel::testing::TempDir directory;  // made on the first input, removed at exit
    KESTREL_FUZZ_CHECK(!directory.Path().empty());
    const std::string path = directory.Write(kNames[data[0] % std::size(kNames)], content);

    kestrel::RecordingStatusList status;
    auto session = std::make_unique<DataConverter>(status);
    const kestrel::DownloadOutcome outcome = kestrel::PrepareImage(*session, path, status);
    const auto lines = status.lines();
    KESTREL_FUZZ_CHECK(!lines.empty() && lines.front() == "Loading sourcefile... ");
    if (outcome != kestrel::DownloadOutcome::Success) {
        KESTREL_FUZZ_CHECK(outcome == kestrel::DownloadOutcome::FileFailed ||
                           outcome == kestrel::DownloadOutcome::DataFailed);
        // One error line, and it is the last.
        const auto isError = [](const std::string& line) { return line.rfind("Error: ", 0) == 0; };
        KESTREL_FUZZ_CHECK(isError(lines.back()) && std::count_if(lines.begin(), lines.end(), isError) == 1);
    } else if (session->sourceKind == DataConverter::kSourceMot) {
        // Never a file taken in part.
        KESTREL_FUZZ_CHECK(lines.back() == "Building output data... " &&
                           content.size() <= DataConverter::kSourceBufferSize);
        KESTREL_FUZZ_CHECK(session->outputLength == kestrel::OutputDataSelfProg::kImageLength);
    } else {
        // A binary image must fit below the verify buffer and be the file byte for byte.
        KESTREL_FUZZ_CHECK(lines.back() == "Building output data... ");
        KESTREL_FUZZ_CHECK(session->sourceKind == DataConverter::kSourceBin && session->outputLength == content.size());
        KESTREL_FUZZ_CHECK(session->outputLength >= 30 && session->outputLength <= DataConverter::kVerifyBufferOffset);
        KESTREL_FUZZ_CHECK(std::memcmp(session->OutputBuffer.data(), content.data(), content.size()) == 0);
    }
    return 0;
}
