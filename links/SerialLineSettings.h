#pragma once

#include <cstdint>
#include <optional>

#include <termios.h>

namespace kestrel {

// The box's line settings arrive as the codes the tool has always used for
// serial ports: parity 0 none, 1 odd, 2 even; stop bits 0 one, 2 two (1 is one
// and a half, which a POSIX line cannot do); byte size 5 to 8.
namespace serial_codes {
constexpr std::uint8_t kNoParity = 0;
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kTwoStopBits = 2;
}  // namespace serial_codes

// The termios speed for `baudRate` bits per second, or nothing for a rate the
// line cannot be set to.
std::optional<speed_t> SpeedForBaudRate(std::uint32_t baudRate);

// The settings `found` changed to a raw binary line with the given rate and
// framing, no flow control of either kind, modem status ignored, reads returning
// as soon as one byte is there. Everything else keeps its value as found.
// Nothing when a code or the rate cannot be expressed.
std::optional<termios> MakeLineSettings(const termios& found, std::uint32_t baudRate, std::uint8_t parity,
                                        std::uint8_t stopBits, std::uint8_t byteSize);

}  // namespace kestrel
