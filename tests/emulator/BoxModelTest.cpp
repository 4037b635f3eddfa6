#include "emulator/BoxModel.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/Firmware.h"

namespace kestrel::emulator {
namespace {

using testing::Bytes;
const Bytes& kLength = testing::kLengthBytes;  // 0x00020000, each byte with its complement

// The image of a few blocks in the window, as the box receives it.
const Bytes kImage = testing::SelfProgImage(testing::SampleBlocks());

// One step of a scenario: what the tool sends, how long it then waits, and the box's whole answer.
struct Step {
    Bytes send;
    std::uint32_t waitMs;
    Bytes answer;
};
struct Scenario {
    std::string name;
    BoxBehaviour behaviour;
    std::vector<Step> steps;
    std::uint32_t startMs = 0;
    std::uint8_t verdict = 0;  // the last verdict the box took
};

// Each scenario twice: every step's bytes in one block, then one at a time;
// the box must answer the same. What the tool meets (stray bytes, retries, odd
// answers, refusals, no read-back) is the handshake's (HandshakeTest); these
// are the box's own rules.
TEST(BoxModel, AnswersEachScenarioByteForByteWhetherBytesComeSinglyOrInOneBlock) {
    Bytes garbled = kLength;
    garbled[3] = 0x00;
    const Bytes tooLong = {0x00, 0xFF, 0x02, 0xFD, 0x00, 0xFF, 0x01, 0xFE};
    const Bytes half(500, 0x5A);
    Bytes readBack = {'R'};
    readBack.insert(readBack.end(), kImage.begin() + 6, kImage.end());

    const std::vector<Scenario> scenarios = {
        {"a garbled length asked again, one beyond the flash refused",
         {},
         {{{'*', 0xFE}, 0, {0x01}}, {garbled, 0, {'*'}}, {tooLong, 0, {'E'}}}},
        {"a slow erase, deaf while busy",
         {.strayDuringErase = {'*', 'N'}, .eraseMs = 3000},
         {{{'*', 0xFE}, 0, {0x01}}, {kLength, 0, {'R', '*', 'N'}}, {{0x52}, 2999, {}}, {{}, 1, {'R'}}}},
        {"the erase across the wrap of the clock",
         {.eraseMs = 100},
         {{{'*', 0xFE}, 0, {0x01}}, {kLength, 99, {'R'}}, {{}, 1, {'R'}}},
         0xFFFFFFC0u},
        {"type 2: the data ends after the idle time",
         {.firmwareType = 2, .dataIdleMs = 200},
         {{{'*', 0xFD}, 0, {0x02}},
          {Bytes(30, 0xA5), 0, {'R', 'R'}},
          {half, 150, {}},
          {half, 199, {}},
          {{}, 1, {'N'}}}},
        {"a whole download with its read-back and the verdict",
         {},
         {{{'*', 0xFE}, 0, {0x01}}, {kLength, 0, {'R', 'R'}}, {kImage, 0, readBack}, {{'S'}, 0, {}}},
         0,
         'S'},
    };
    for (const Scenario& scenario : scenarios) {
        for (const bool singly : {false, true}) {
            SCOPED_TRACE(scenario.name + (singly ? ", byte by byte" : ""));
            BoxModel box(scenario.behaviour);
            std::uint32_t now = scenario.startMs;
            Bytes answer(kImage.size());
            for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
                const Step& step = scenario.steps[i];
                Bytes got;
                const auto take = [&] {
                    got.insert(got.end(), answer.begin(),
                               answer.begin() + box.TakeOutput(answer.data(), answer.size()));
                };
                for (std::size_t at = 0; at < step.send.size(); at += singly ? 1 : step.send.size()) {
                    box.Receive(step.send.data() + at, singly ? 1 : step.send.size(), now);
                    take();
                }
                now += step.waitMs;
                box.Advance(now);
                take();
                EXPECT_EQ(got, step.answer) << "step " << i;
            }
            EXPECT_EQ(box.LastVerdict(), scenario.verdict);
        }
    }
}

}  // namespace
}  // namespace kestrel::emulator
