#include "emulator/LineSettings.h"

namespace kestrel::emulator {

namespace {

std::uint32_t BaudOf(speed_t speed) {
    switch (speed) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        default:
            return 0;
    }
}

}  // namespace

std::string LineSettings::Text() const {
    return std::to_string(baudRate) + " baud, " + std::to_string(dataBits) + parity + std::to_string(stopBits);
}

std::uint32_t LineSettings::BytesPerSecond() const {
    const std::uint32_t bits =
        1 + static_cast<std::uint32_t>(dataBits) + (parity == 'N' ? 0 : 1) + static_cast<std::uint32_t>(stopBits);
    return baudRate / bits;
}

LineSettings ReadLineSettings(const termios& settings) {
    LineSettings line;
    line.baudRate = BaudOf(cfgetospeed(&settings));
    switch (settings.c_cflag & CSIZE) {
        case CS5:
            line.dataBits = 5;
            break;
        case CS6:
            line.dataBits = 6;
            break;
        case CS7:
            line.dataBits = 7;
            break;
        default:
            line.dataBits = 8;
            break;
    }
    if ((settings.c_cflag & PARENB) != 0) {
        line.parity = (settings.c_cflag & PARODD) != 0 ? 'O' : 'E';
    }
    line.stopBits = (settings.c_cflag & CSTOPB) != 0 ? 2 : 1;
    return line;
}

std::optional<LineSettings> ReadLineSettings(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return std::nullopt;
    }
    return ReadLineSettings(settings);
}

}  // namespace kestrel::emulator
