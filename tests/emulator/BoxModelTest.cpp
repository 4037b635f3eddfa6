#include "emulator/BoxModel.h"

#include <vector>

#include <gtest/gtest.h>

namespace kestrel::emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kLengthBlock = {0x00, 0xFF, 0x02, 0xFD, 0x00, 0xFF, 0x00, 0xFF};  // 0x00020000, each with its complement

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
        if (!box.HasOutput()) {
            return {};
        }
        Bytes out(1 << 18);
        out.resize(box.TakeOutput(out.data(), out.size()));
        return out;
    }

    BoxModel box;
    std::uint32_t now;
};

Bytes TypeOneImage() {
    Bytes image(0x20006, 0xFF);
    const Bytes head = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00};
    std::copy(head.begin(), head.end(), image.begin());
    for (std::size_t i = 6; i < image.size(); i += 7) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    return image;
}

Bytes Header() {
    Bytes header(30);
    for (std::size_t i = 0; i < header.size(); ++i) {
        header[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    return header;
}

TEST(BoxModel, ServesATypeOneDownloadWithReadBackAndThenTheNext) {
    Tool tool;
    const Bytes image = TypeOneImage();
    for (int download = 1; download <= 2; ++download) {
        EXPECT_EQ(tool.Send({'*'}), Bytes{0x01});
        EXPECT_EQ(tool.Send({0xFE}), Bytes{});
        EXPECT_EQ(tool.Send(kLengthBlock), (Bytes{'R', 'R'}));  // length taken, erase done at once
        const Bytes answer = tool.Send(image);
        ASSERT_EQ(answer.size(), 1 + image.size() - 6);
        EXPECT_EQ(answer[0], 'R');
        EXPECT_TRUE(std::equal(answer.begin() + 1, answer.end(), image.begin() + 6));
        EXPECT_EQ(tool.Send({'S'}), Bytes{});

        EXPECT_EQ(tool.box.CompletedDownloads(), download);
        EXPECT_EQ(tool.box.EndedExchanges(), download);
        EXPECT_EQ(tool.box.LastImage(), image);
        EXPECT_EQ(tool.box.LastVerdict(), 'S');
    }
}

TEST(BoxModel, ServesATypeTwoDownloadWhoseDataEndsWhenTheLineFallsIdle) {
    BoxBehaviour behaviour;
    behaviour.firmwareType = 2;
    behaviour.dataIdleMs = 200;
    Tool tool(behaviour);
    EXPECT_EQ(tool.Send({'*'}), Bytes{0x02});
    EXPECT_EQ(tool.Send({0xFD}), Bytes{});
    EXPECT_EQ(tool.Send(Header()), (Bytes{'R', 'R'}));

    const Bytes data(1000, 0x5A);
    EXPECT_EQ(tool.Send(Bytes(data.begin(), data.begin() + 500)), Bytes{});
    EXPECT_EQ(tool.Wait(150), Bytes{});  // a pause shorter than the idle time is part of the block
    EXPECT_EQ(tool.Send(Bytes(data.begin() + 500, data.end())), Bytes{});
    EXPECT_EQ(tool.box.NextDeadline(), tool.now + 200);
    EXPECT_EQ(tool.Wait(199), Bytes{});
    EXPECT_EQ(tool.Wait(1), Bytes{'N'});  // type 2 asks for no read-back by default

    Bytes expected = Header();
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(tool.box.LastImage(), expected);
    EXPECT_EQ(tool.box.CompletedDownloads(), 1);
    EXPECT_FALSE(tool.box.NextDeadline());
}

TEST(BoxModel, AnswersTheSyncRequestOnlyWhenIdleAndIgnoresStrayBytes) {
    BoxBehaviour behaviour;
    behaviour.strayBeforeType = {0x2A, 0x00};
    Tool tool(behaviour);
    EXPECT_EQ(tool.Send({0x00, 0x13, 0xFE}), Bytes{});
    EXPECT_EQ(tool.Send({'*'}), (Bytes{0x2A, 0x00, 0x01}));
    // The tool refuses the type: the exchange is over and the next sync is answered.
    EXPECT_EQ(tool.Send({0xFF}), Bytes{});
    EXPECT_EQ(tool.box.EndedExchanges(), 1);
    EXPECT_EQ(tool.Send({'*'}), (Bytes{0x2A, 0x00, 0x01}));
}

TEST(BoxModel, AsksForTheLengthAgainAsTheScenarioSaysOrWhenItIsGarbled) {
    BoxBehaviour behaviour;
    behaviour.retriesAfterLength = 2;
    behaviour.unexpectedAfterLength = 1;
    Tool tool(behaviour);
    tool.Send({'*', 0xFE});
    EXPECT_EQ(tool.Send(kLengthBlock), Bytes{'*'});
    EXPECT_EQ(tool.Send(kLengthBlock), Bytes{'*'});
    EXPECT_EQ(tool.Send(kLengthBlock), Bytes{0x00});
    Bytes garbled = kLengthBlock;
    garbled[3] = 0x00;
    EXPECT_EQ(tool.Send(garbled), Bytes{'*'});
    EXPECT_EQ(tool.Send(kLengthBlock), (Bytes{'R', 'R'}));
}

TEST(BoxModel, RefusesALengthBeyondItsFlash) {
    Tool tool;
    tool.Send({'*', 0xFE});
    EXPECT_EQ(tool.Send({0x00, 0xFF, 0x02, 0xFD, 0x00, 0xFF, 0x01, 0xFE}), Bytes{'E'});
    EXPECT_EQ(tool.box.EndedExchanges(), 1);
}

TEST(BoxModel, RefusesAtTheStageTheScenarioNames) {
    struct Case {
        BoxStage stage;
        Bytes lastAnswer;
    };
    for (const Case& c : {Case{BoxStage::Length, {'E'}}, Case{BoxStage::Erase, {'R', 'E'}}}) {
        BoxBehaviour behaviour;
        behaviour.refuseAt = c.stage;
        Tool tool(behaviour);
        tool.Send({'*', 0xFE});
        EXPECT_EQ(tool.Send(kLengthBlock), c.lastAnswer);
        EXPECT_EQ(tool.box.EndedExchanges(), 1);
    }

    BoxBehaviour behaviour;
    behaviour.refuseAt = BoxStage::Data;
    Tool tool(behaviour);
    tool.Send({'*', 0xFE});
    tool.Send(kLengthBlock);
    EXPECT_EQ(tool.Send(TypeOneImage()), Bytes{'E'});
    EXPECT_EQ(tool.Send({'*'}), Bytes{0x01});  // and serves the next download
}

TEST(BoxModel, TheEraseTakesItsTimeAndSendsStrayBytesFirst) {
    BoxBehaviour behaviour;
    behaviour.eraseMs = 3000;
    behaviour.strayDuringErase = {'*', 'N'};
    Tool tool(behaviour);
    tool.Send({'*', 0xFE});
    EXPECT_EQ(tool.Send(kLengthBlock), (Bytes{'R', '*', 'N'}));
    EXPECT_EQ(tool.box.NextDeadline(), tool.now + 3000);
    EXPECT_EQ(tool.Send({0x42}), Bytes{});  // lost while busy
    EXPECT_EQ(tool.Wait(2999), Bytes{});
    EXPECT_EQ(tool.Wait(1), Bytes{'R'});
}

TEST(BoxModel, KeepsTimeAcrossTheWrapOfTheMillisecondCount) {
    BoxBehaviour behaviour;
    behaviour.eraseMs = 100;
    Tool tool(behaviour, 0xFFFFFFC0u);
    tool.Send({'*', 0xFE});
    EXPECT_EQ(tool.Send(kLengthBlock), Bytes{'R'});
    EXPECT_EQ(tool.Wait(99), Bytes{});
    EXPECT_EQ(tool.Wait(1), Bytes{'R'});
}

TEST(BoxModel, ReadBackFollowsTheScenario) {
    const Bytes image = TypeOneImage();
    const auto readBackAfter = [&image](BoxBehaviour behaviour) {
        Tool tool(behaviour);
        tool.Send({'*', 0xFE});
        tool.Send(kLengthBlock);
        return tool.Send(image);
    };

    BoxBehaviour corrupt;
    corrupt.corruptReadBack = true;
    const Bytes corrupted = readBackAfter(corrupt);
    ASSERT_EQ(corrupted.size(), 1 + image.size() - 6);
    int differences = 0;
    for (std::size_t i = 1; i < corrupted.size(); ++i) {
        differences += corrupted[i] != image[i + 5];
    }
    EXPECT_EQ(differences, 1);

    BoxBehaviour shortened;
    shortened.shortReadBack = 10;
    EXPECT_EQ(readBackAfter(shortened).size(), 1 + image.size() - 6 - 10);

    BoxBehaviour none;
    none.readBack = false;
    EXPECT_EQ(readBackAfter(none), Bytes{'N'});
}

TEST(BoxModel, ATypeTwoReadBackStartsAtImageByteSix) {
    BoxBehaviour behaviour;
    behaviour.firmwareType = 2;
    behaviour.readBack = true;
    Tool tool(behaviour);
    const Bytes header = Header();
    tool.Send({'*', 0xFD});
    tool.Send(header);
    tool.Send({1, 2, 3});
    const Bytes answer = tool.Wait(behaviour.dataIdleMs);
    Bytes expected = {'R'};
    expected.insert(expected.end(), header.begin() + 6, header.end());
    expected.insert(expected.end(), {1, 2, 3});
    EXPECT_EQ(answer, expected);
    EXPECT_EQ(tool.Send({'E'}), Bytes{});
    EXPECT_EQ(tool.box.LastVerdict(), 'E');
}

TEST(BoxModel, FallsSilentFromTheScenariosStageOn) {
    const Bytes image = TypeOneImage();
    const auto everythingSent = [&image](BoxStage stage) {
        BoxBehaviour behaviour;
        behaviour.silentAt = stage;
        Tool tool(behaviour);
        Bytes all = tool.Send({'*', 0xFE});
        for (const Bytes& step : {kLengthBlock, image, Bytes{'S'}, Bytes{'*'}}) {
            const Bytes answer = tool.Send(step);
            all.insert(all.end(), answer.begin(), answer.end());
        }
        EXPECT_EQ(tool.box.EndedExchanges(), 1);
        return all;
    };
    EXPECT_EQ(everythingSent(BoxStage::Sync), Bytes{});
    EXPECT_EQ(everythingSent(BoxStage::Length), Bytes{0x01});
    EXPECT_EQ(everythingSent(BoxStage::Erase), (Bytes{0x01, 'R'}));
    EXPECT_EQ(everythingSent(BoxStage::Data), (Bytes{0x01, 'R', 'R'}));
    EXPECT_EQ(everythingSent(BoxStage::ReadBack), (Bytes{0x01, 'R', 'R', 'R'}));
}

TEST(BoxModel, HangsUpAtTheScenariosStageAndTakesNothingMore) {
    const Bytes image = TypeOneImage();
    BoxBehaviour behaviour;
    behaviour.hangUpAt = BoxStage::Data;
    Tool tool(behaviour);
    tool.Send({'*', 0xFE});
    tool.Send(kLengthBlock);
    EXPECT_EQ(tool.Send(Bytes(image.begin(), image.begin() + image.size() / 2 - 1)), Bytes{});
    EXPECT_FALSE(tool.box.WantsHangUp());
    EXPECT_EQ(tool.Send(Bytes(image.begin() + image.size() / 2 - 1, image.end())), Bytes{});
    EXPECT_TRUE(tool.box.WantsHangUp());
    EXPECT_EQ(tool.box.CompletedDownloads(), 0);

    // A new line: the box is idle again.
    tool.box.Restart();
    EXPECT_FALSE(tool.box.WantsHangUp());
    EXPECT_EQ(tool.Send({'*'}), Bytes{0x01});

    BoxBehaviour atReadBack;
    atReadBack.hangUpAt = BoxStage::ReadBack;
    Tool reading(atReadBack);
    reading.Send({'*', 0xFE});
    reading.Send(kLengthBlock);
    EXPECT_EQ(reading.Send(image).size(), 1 + (image.size() - 6) / 2);
    EXPECT_TRUE(reading.box.WantsHangUp());
}

TEST(BoxModel, RestartAbandonsAnUnfinishedExchangeAndItsUnsentBytes) {
    Tool tool;
    tool.Send({'*', 0xFE});
    tool.Send(kLengthBlock);
    tool.Send(Bytes(1000, 0x00));
    tool.box.Restart();
    EXPECT_EQ(tool.box.EndedExchanges(), 1);
    EXPECT_EQ(tool.Send({'*'}), Bytes{0x01});

    tool.box.Receive(kLengthBlock.data(), 0, tool.now);
    tool.Send({0xFE});
    const Bytes answered = tool.Send(kLengthBlock);
    EXPECT_EQ(answered, (Bytes{'R', 'R'}));
    tool.box.Receive(TypeOneImage().data(), TypeOneImage().size(), tool.now);
    EXPECT_TRUE(tool.box.HasOutput());
    tool.box.Restart();
    EXPECT_FALSE(tool.box.HasOutput());
}

TEST(BoxModel, AnswersTheSameWhetherBytesComeSinglyOrInOneBlock) {
    BoxBehaviour behaviour;
    behaviour.retriesAfterLength = 1;
    Bytes stream = {'*', 0xFE};
    stream.insert(stream.end(), kLengthBlock.begin(), kLengthBlock.end());
    stream.insert(stream.end(), kLengthBlock.begin(), kLengthBlock.end());
    const Bytes image = TypeOneImage();
    stream.insert(stream.end(), image.begin(), image.end());
    stream.push_back('S');

    Tool whole(behaviour);
    const Bytes together = whole.Send(stream);
    Tool single(behaviour);
    Bytes apart;
    for (std::uint8_t byte : stream) {
        const Bytes answer = single.Send({byte});
        apart.insert(apart.end(), answer.begin(), answer.end());
    }
    EXPECT_EQ(apart, together);
    EXPECT_EQ(single.box.LastVerdict(), 'S');
    EXPECT_EQ(whole.box.LastVerdict(), 'S');
}

}  // namespace
}  // namespace kestrel::emulator
