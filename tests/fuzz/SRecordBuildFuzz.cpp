// Arbitrary bytes as S-record text: the reader, the file check and the
// self-programming builder must neither read nor write outside their buffers,
// and a built image must hold exactly what the records say, later records winning.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "builders/OutputDataSelfProg.h"
#include "readers/ExtractDataMOT.h"
#include "readers/SRecordCheck.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using kestrel::OutputDataSelfProg;

void CheckImage(const kestrel::RecordList& records, const std::uint8_t* image) {
    // The image as the records describe it, placed one after the other.
    std::vector<std::uint8_t> expected = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00};
    expected.resize(OutputDataSelfProg::kImageLength, 0xFF);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& record = records.at(i);
        const std::uint32_t at = record.address - OutputDataSelfProg::kWindowStart + OutputDataSelfProg::kHeadLength;
        std::copy_n(record.data.begin(), record.length, expected.begin() + at);
    }
    KESTREL_FUZZ_CHECK(std::memcmp(expected.data(), image, expected.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The session never hands the reader more than its source buffer holds.
    if (size > 500000) {
        return -1;
    }
    const auto length = static_cast<std::uint32_t>(size);
    // An exact copy on the heap, so that a read one byte past the end is caught.
    auto source = std::make_unique<std::uint8_t[]>(size + (size == 0 ? 1 : 0));
    std::memcpy(source.get(), data, size);

    kestrel::RecordList records;
    kestrel::ExtractDataMOT reader;
    kestrel::ExtractFailure failure;
    const int lines = reader.extract(source.get(), records, length, &failure);
    if (lines < 0) {
        KESTREL_FUZZ_CHECK(lines == kestrel::ExtractData::kUnsupportedRecordType ||
                           lines == kestrel::ExtractData::kMalformedRecord);
        KESTREL_FUZZ_CHECK(failure.kind != kestrel::ExtractFailure::Kind::None);
        KESTREL_FUZZ_CHECK(failure.line >= 1 && failure.line <= length);
    } else {
        KESTREL_FUZZ_CHECK(static_cast<std::uint32_t>(lines) <= length);
    }
    KESTREL_FUZZ_CHECK(records.size() <= length / 12 + 1);
    for (std::size_t i = 0; i < records.size(); ++i) {
        KESTREL_FUZZ_CHECK(records.at(i).length <= 251);
        KESTREL_FUZZ_CHECK(records.at(i).address <= 0xFFFFFF);
    }

    for (const auto& finding : kestrel::CheckSRecords(source.get(), length)) {
        KESTREL_FUZZ_CHECK(finding.line >= 1 &&
                           finding.line <= std::max<std::uint32_t>(length, 1));  // an empty file has line 1
        KESTREL_FUZZ_CHECK(!finding.text.empty());
    }

    // The builder gets a buffer of exactly one image: nothing may land beyond it.
    auto image = std::make_unique<std::uint8_t[]>(OutputDataSelfProg::kImageLength);
    std::uint32_t outputLength = 0;
    OutputDataSelfProg builder;
    const int built = builder.BuildOutput(records, image.get(), outputLength, OutputDataSelfProg::kImageLength);
    KESTREL_FUZZ_CHECK(built == 0 || built == kestrel::OutputData::kStartAddressWrong ||
                       built == kestrel::OutputData::kAddressOutsideWindow);
    if (built == 0) {
        KESTREL_FUZZ_CHECK(outputLength == OutputDataSelfProg::kImageLength);
        CheckImage(records, image.get());
    }
    if (records.size() > 0 && records.at(0).address != OutputDataSelfProg::kWindowStart) {
        KESTREL_FUZZ_CHECK(built == kestrel::OutputData::kStartAddressWrong);
    }

    // Too small a buffer is refused before anything is written.
    std::uint32_t shortLength = 0;
    KESTREL_FUZZ_CHECK(builder.BuildOutput(records, image.get(), shortLength, OutputDataSelfProg::kImageLength - 1) ==
                       kestrel::OutputData::kImageTooLarge);
    return 0;
}
