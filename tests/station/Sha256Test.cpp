#include "StationTestSupport.h"

namespace kestrel::testing {
namespace {

// A whole image's digest, many blocks long, is checked against sha256sum by check-trace.py.
TEST(Sha256, KnownVectors) {
    for (const auto& [text, digest] : std::vector<std::pair<std::string, std::string>>{
             // 55 bytes: the one bit and the length just fit; 56: they no longer do.
             {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
             {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"}}) {
        EXPECT_EQ(Sha256Of(text), digest);
    }
}

}  // namespace
}  // namespace kestrel::testing
