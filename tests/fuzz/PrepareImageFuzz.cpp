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
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "builders/OutputDataSelfProg.h"
#include "session/DataConverter.h"
#include "session/PrepareImage.h"
#include "session/RecordingStatusList.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/TempDir.h"

namespace {

using kestrel::DataConverter;
using kestrel::DownloadOutcome;

const char* const kNames[] = {"firmware.mot", "firmware.bin", "FIRMWARE.MOT", "image.Bin", "firmware.hex", "a.b"};

// Lengths near the limits: the verify half, the output buffer, the source buffer.
const std::uint32_t kStretchTargets[] = {29, 30, 31, 229375, 229376, 229377, 458752, 499999, 500000, 500001};

std::vector<std::uint8_t> Content(std::uint8_t stretch, const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> content(data, data + size);
    const std::size_t choice = stretch % 16;
    if (choice >= sizeof kStretchTargets / sizeof kStretchTargets[0] || size == 0) {
        return content;
    }
    content.resize(kStretchTargets[choice]);
    for (std::size_t i = size; i < content.size(); ++i) {
        content[i] = content[i % size];
    }
    return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return -1;
    }
    const char* name = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
    const auto content = Content(data[1], data + 2, size - 2);
    // A private directory for the files, made on the first input and removed at exit.
    static const kestrel::testing::TempDir directory;
    KESTREL_FUZZ_CHECK(!directory.Path().empty());
    const std::string path = (directory.Path() / name).string();
    {
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        KESTREL_FUZZ_CHECK(file.good());
    }

    kestrel::RecordingStatusList status;
    auto session = std::make_unique<DataConverter>(status);
    const DownloadOutcome outcome = kestrel::PrepareImage(*session, path, status);
    std::filesystem::remove(path);

    const auto lines = status.lines();
    KESTREL_FUZZ_CHECK(!lines.empty() && lines.front() == "Loading sourcefile... ");
    if (outcome != DownloadOutcome::Success) {
        KESTREL_FUZZ_CHECK(outcome == DownloadOutcome::FileFailed || outcome == DownloadOutcome::DataFailed);
        // One error line, and it is the last.
        const auto isError = [](const std::string& line) { return line.rfind("Error: ", 0) == 0; };
        KESTREL_FUZZ_CHECK(isError(lines.back()) && std::count_if(lines.begin(), lines.end(), isError) == 1);
        return 0;
    }

    KESTREL_FUZZ_CHECK(lines.back() == "Building output data... ");
    KESTREL_FUZZ_CHECK(session->outputLength <= DataConverter::kOutputBufferSize);
    if (session->sourceKind == DataConverter::kSourceMot) {
        KESTREL_FUZZ_CHECK(session->outputLength == kestrel::OutputDataSelfProg::kImageLength);
    } else {
        // A binary image must fit below the verify buffer and be the file byte for byte.
        KESTREL_FUZZ_CHECK(session->sourceKind == DataConverter::kSourceBin);
        KESTREL_FUZZ_CHECK(session->outputLength == content.size());
        KESTREL_FUZZ_CHECK(session->outputLength >= 30 && session->outputLength <= DataConverter::kVerifyBufferOffset);
        KESTREL_FUZZ_CHECK(std::memcmp(session->OutputBuffer.data(), content.data(), content.size()) == 0);
    }
    return 0;
}
