#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <termios.h>

namespace kestrel::emulator {

// The line settings a tool gave the device, as the box sees them.
struct LineSettings {
    std::uint32_t baudRate = 0;  // 0: a speed without a number
    int dataBits = 8;
    char parity = 'N';  // 'N', 'E' or 'O'
    int stopBits = 1;

    // "115200 baud, 8N2"
    std::string Text() const;
    // Bytes per second on the wire: a start bit, the data, the parity, the stop bits.
    std::uint32_t BytesPerSecond() const;
    bool operator==(const LineSettings&) const = default;
};

LineSettings ReadLineSettings(const termios& settings);
// The settings of the device `fd` belongs to; nothing when it has none.
std::optional<LineSettings> ReadLineSettings(int fd);

}  // namespace kestrel::emulator
