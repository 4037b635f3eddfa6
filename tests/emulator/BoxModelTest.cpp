#include "emulator/BoxModel.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrel::emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kLength = {0x00, 0xFF, 0x02, 0xFD, 0x00, 0xFF, 0x00, 0xFF};  // 0x00020000, each byte with its complement

const Bytes kImage = [] {
    Bytes image(0x20006, 0xFF);
    image[1] = 0x01;
    image[3] = 0x02;
    for (std::size_t i = 6; i < image.size(); i += 7) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    return image;
}();

// The tool's side of the exchange, with its own clock.
struct Tool {
    explicit Tool(BoxBehaviour behaviour = {}, std::uint32_t startMs = 0) : box(std::move(behaviour)), now(startMs) {}

    Bytes Send(const Bytes& bytes) {
        box.Receive(bytes.data(), bytes.size(), now);
        return Answer();
    }
    Bytes Wait(std::uint32_t ms) {
        now += ms;
        box.Advance(now);
        return Answer();
    }
    Bytes Answer() {
        Bytes out(box.HasOutput() ? kImage.size() : 0);
        out.resize(box.TakeOutput(out.data(), out.size()));
        return out;
    }

    BoxModel box;
    std::uint32_t now;
};

// One step of a scenario: what the tool sends (or how long it waits), and the box's whole answer.
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
};

TEST(BoxModel, AnswersEachScenarioByteForByte) {
    Bytes garbled = kLength;
    garbled[3] = 0x00;
    const Bytes tooLong = {0x00, 0xFF, 0x02, 0xFD, 0x00, 0xFF, 0x01, 0xFE};
    const Bytes header(30, 0xA5);
    const Bytes half(500, 0x5A);

    const std::vector<Scenario> scenarios = {
        {"stray bytes, a refused type, a second sync",
         {.strayBeforeType = {0x2A, 0x00}},
         {{{0x00, 0x13, 0xFE}, 0, {}},
          {{'*'}, 0, {0x2A, 0x00, 0x01}},
          {{0xFF}, 0, {}},
          {{'*'}, 0, {0x2A, 0x00, 0x01}}}},
        {"retries, an unexpected answer, a garbled length",
         {.retriesAfterLength = 2, .unexpectedAfterLength = 1},
         {{{'*', 0xFE}, 0, {0x01}},
          {kLength, 0, {'*'}},
          {kLength, 0, {'*'}},
          {kLength, 0, {0x00}},
          {garbled, 0, {'*'}},
          {kLength, 0, {'R', 'R'}}}},
        {"a length beyond the flash", {}, {{{'*', 0xFE}, 0, {0x01}}, {tooLong, 0, {'E'}}, {{'*'}, 0, {0x01}}}},
        {"refused length", {.refuseAt = BoxStage::Length}, {{{'*', 0xFE}, 0, {0x01}}, {kLength, 0, {'E'}}}},
        {"refused erase", {.refuseAt = BoxStage::Erase}, {{{'*', 0xFE}, 0, {0x01}}, {kLength, 0, {'R', 'E'}}}},
        {"refused data",
         {.refuseAt = BoxStage::Data},
         {{{'*', 0xFE}, 0, {0x01}}, {kLength, 0, {'R', 'R'}}, {kImage, 0, {'E'}}, {{'*'}, 0, {0x01}}}},
        {"a slow erase with stray bytes, deaf while busy",
         {.strayDuringErase = {'*', 'N'}, .eraseMs = 3000},
         {{{'*', 0xFE}, 0, {0x01}}, {kLength, 0, {'R', '*', 'N'}}, {{0x52}, 2999, {}}, {{}, 1, {'R'}}}},
        {"the erase across the wrap of the clock",
         {.eraseMs = 100},
         {{{'*', 0xFE}, 0, {0x01}}, {kLength, 99, {'R'}}, {{}, 1, {'R'}}},
         0xFFFFFFC0u},
        {"type 2: the data ends after the idle time",
         {.firmwareType = 2, .dataIdleMs = 200},
         {{{'*', 0xFD}, 0, {0x02}}, {header, 0, {'R', 'R'}}, {half, 150, {}}, {half, 199, {}}, {{}, 1, {'N'}}}},
        {"no read-back asked for",
         {.readBack = false},
         {{{'*', 0xFE}, 0, {0x01}}, {kLength, 0, {'R', 'R'}}, {kImage, 0, {'N'}}}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        Tool tool(scenario.behaviour, scenario.startMs);
        for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
            const Step& step = scenario.steps[i];
            Bytes answer = tool.Send(step.send);
            const Bytes later = tool.Wait(step.waitMs);
            answer.insert(answer.end(), later.begin(), later.end());
            EXPECT_EQ(answer, step.answer) << "step " << i;
        }
    }
}

TEST(BoxModel, AnswersTheSameWhetherBytesComeSinglyOrInOneBlock) {
    Bytes stream = {'*', 0xFE};
    for (int copy = 0; copy < 2; ++copy) {
        stream.insert(stream.end(), kLength.begin(), kLength.end());
    }
    stream.insert(stream.end(), kImage.begin(), kImage.end());
    stream.push_back('S');

    Tool whole({.retriesAfterLength = 1});
    const Bytes together = whole.Send(stream);
    Tool single({.retriesAfterLength = 1});
    Bytes apart;
    for (std::uint8_t byte : stream) {
        const Bytes answer = single.Send({byte});
        apart.insert(apart.end(), answer.begin(), answer.end());
    }
    EXPECT_EQ(apart.size(), 1 + 1 + 2 + 1 + kImage.size() - 6);
    EXPECT_EQ(apart, together);
    EXPECT_EQ(single.box.LastVerdict(), 'S');
}

}  // namespace
}  // namespace kestrel::emulator
