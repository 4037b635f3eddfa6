#include "StationTestSupport.h"

namespace kestrel::testing {
namespace {

// A whole image's digest, many blocks long, is checked against sha256sum by check-trace.py.
TEST(Sha256, KnownVectors) {
    // 55 bytes: the one bit and the length just fit; 56: they no longer do.
    EXPECT_EQ(Sha256Of(std::string(55, 'a')), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(Sha256Of(std::string("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

}  // namespace
}  // namespace kestrel::testing
