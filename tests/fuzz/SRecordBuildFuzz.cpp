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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrel::OutputData;
    using Builder = kestrel::OutputDataSelfProg;
    // The session never hands the reader more than its source buffer holds.
    if (size > 500000)
        return -1;
    const auto length = static_cast<std::uint32_t>(size);
    // An exact copy on the heap, so that a read one byte past the end is caught.
    auto source = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(size, 1));
    std::memcpy(source.get(), data, size);

    kestrel::RecordList records;
    kestrel::ExtractFailure failure;
    const int lines = kestrel::ExtractDataMOT().extract(source.get(), records, length, &failure);
    KESTREL_FUZZ_CHECK(lines >= 0 || lines == kestrel::ExtractData::kUnsupportedRecordType ||
                       lines == kestrel::ExtractData::kMalformedRecord);
    if (lines < 0) {
        KESTREL_FUZZ_CHECK(failure.kind != kestrel::ExtractFailure::Kind::None);
        KESTREL_FUZZ_CHECK(failure.line >= 1 && failure.line <= length);
    }
    KESTREL_FUZZ_CHECK(lines <= static_cast<std::int64_t>(length) && records.size() <= length / 12 + 1);
    // An empty file has line 1.
    for (const auto& finding : kestrel::CheckSRecords(source.get(), length))
        KESTREL_FUZZ_CHECK(finding.line >= 1 && finding.line <= std::max<std::uint32_t>(length, 1) &&
                           !finding.text.empty());

    // The builder gets a buffer of exactly one image: nothing may land beyond it.
    auto image = std::make_unique<std::uint8_t[]>(Builder::kImageLength);
    std::uint32_t outputLength = 0;
    const int built = Builder().BuildOutput(records, image.get(), outputLength, Builder::kImageLength);
    const bool firstAtStart = records.size() == 0 || records.at(0).address == Builder::kWindowStart;
    KESTREL_FUZZ_CHECK(firstAtStart ? built == 0 || built == OutputData::kAddressOutsideWindow
                                    : built == OutputData::kStartAddressWrong);
    // The image as the records describe it, placed one after the other.
    std::vector<std::uint8_t> expected = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00};
    expected.resize(Builder::kImageLength, 0xFF);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& record = records.at(i);
        KESTREL_FUZZ_CHECK(record.length <= 251 && record.address <= 0xFFFFFF);
        if (built != 0)
            continue;
        KESTREL_FUZZ_CHECK(record.address >= Builder::kWindowStart &&
                           record.address + record.length <= Builder::kWindowStart + Builder::kWindowSize);
        std::copy_n(record.data.begin(), record.length,
                    expected.begin() + (record.address - Builder::kWindowStart + Builder::kHeadLength));
    }
    KESTREL_FUZZ_CHECK(built != 0 || (outputLength == Builder::kImageLength &&
                                      std::memcmp(expected.data(), image.get(), expected.size()) == 0));
    // Too small a buffer is refused before anything is written (here: past the heap block's end).
    KESTREL_FUZZ_CHECK(Builder().BuildOutput(records, image.get() + 1, outputLength, Builder::kImageLength - 1) ==
                       OutputData::kImageTooLarge);
    return 0;
}
