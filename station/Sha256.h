#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// SHA-256 of a byte stream, fed in pieces of any size. Identifies an image in
// logs and reports, so that a line can prove which firmware went into a box.
class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    void Update(const std::uint8_t* data, std::size_t count);
    // Pads, ends the stream and returns the digest; the object then starts afresh.
    Digest Finish();

    static std::string ToHex(const Digest& digest);

private:
    void Compress(const std::uint8_t* block);
    void Reset();

    std::array<std::uint32_t, 8> state_{};
    std::array<std::uint8_t, 64> block_{};
    std::size_t blockUsed_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// The digest of `count` bytes as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const std::uint8_t* data, std::size_t count);

}  // namespace kestrel
