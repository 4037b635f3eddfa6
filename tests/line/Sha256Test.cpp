#include "session/Sha256.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kestrel {
namespace {

std::string HexOf(const std::string& text) {
    return Sha256Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(Sha256, KnownVectorsIncludingMessagesThatSpillIntoAPaddingBlock) {
    EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits behind the message in its block.
    EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(HexOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
                    "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
}

TEST(Sha256, PiecesOfAnySizeGiveTheDigestOfTheWholeAndFinishStartsAfresh) {
    // One million 'a', fed in pieces that end inside, at and across block edges.
    const std::vector<std::uint8_t> million(1000000, 'a');
    Sha256 hash;
    std::size_t at = 0;
    const std::size_t pieces[] = {1, 63, 64, 65, 127, 0, 1000, 4096};
    for (std::size_t i = 0; at < million.size(); ++i) {
        const std::size_t piece = std::min(pieces[i % std::size(pieces)], million.size() - at);
        hash.Update(million.data() + at, piece);
        at += piece;
    }
    EXPECT_EQ(Sha256::ToHex(hash.Finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    const std::string abc = "abc";
    hash.Update(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size());
    EXPECT_EQ(Sha256::ToHex(hash.Finish()), HexOf("abc"));
}

}  // namespace
}  // namespace kestrel
