#include "emulator/BoxModel.h"

#include <gtest/gtest.h>

#include "support/Firmware.h"

namespace kestrel::emulator {
namespace {

using testing::Bytes;

// A pseudo-terminal hands the box its bytes in pieces of any size: a whole
// download fed one byte at a time must be answered as when each step comes in
// one block. What the tool meets at each stage (stray bytes, retries, odd
// answers, refusals, silences, no read-back) is the handshake's (HandshakeTest).
TEST(BoxModel, AnswersAWholeDownloadAlikeWhetherBytesComeSinglyOrInOneBlock) {
    const Bytes image = testing::SelfProgImage(testing::SampleBlocks());
    Bytes expected = {0x01, 'R', 'R', 'R'};  // the type, the length taken, the erase done, the data taken
    expected.insert(expected.end(), image.begin() + 6, image.end());
    for (const bool singly : {false, true}) {
        SCOPED_TRACE(singly ? "byte by byte" : "in blocks");
        BoxModel box;
        Bytes answer(image.size() + 16), got;
        for (const Bytes& step : {Bytes{'*', 0xFE}, testing::kLengthBytes, image, Bytes{'S'}}) {
            for (std::size_t at = 0; at < step.size(); at += singly ? 1 : step.size())
                box.Receive(step.data() + at, singly ? 1 : step.size(), 0);
            box.Advance(0);
            got.insert(got.end(), answer.begin(), answer.begin() + box.TakeOutput(answer.data(), answer.size()));
        }
        EXPECT_TRUE(got == expected) << got.size() << " bytes answered";
        EXPECT_EQ(box.LastVerdict(), 'S');
    }
}

}  // namespace
}  // namespace kestrel::emulator
