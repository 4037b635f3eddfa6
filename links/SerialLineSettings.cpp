#include "links/SerialLineSettings.h"

#include <array>
#include <utility>

namespace kestrel {

namespace {

constexpr std::array<std::pair<std::uint32_t, speed_t>, 23> kSpeeds{{
    {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {4000000, B4000000},
}};

std::optional<tcflag_t> CharacterSize(std::uint8_t byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        case 8:
            return CS8;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<speed_t> SpeedForBaudRate(std::uint32_t baudRate) {
    for (const auto& [rate, speed] : kSpeeds) {
        if (rate == baudRate) {
            return speed;
        }
    }
    return std::nullopt;
}

std::optional<termios> MakeLineSettings(const termios& found, std::uint32_t baudRate, std::uint8_t parity,
                                        std::uint8_t stopBits, std::uint8_t byteSize) {
    const auto speed = SpeedForBaudRate(baudRate);
    const auto size = CharacterSize(byteSize);
    if (!speed || !size || parity > serial_codes::kEvenParity ||
        (stopBits != serial_codes::kOneStopBit && stopBits != serial_codes::kTwoStopBits)) {
        return std::nullopt;
    }

    termios line = found;
    // Binary: no byte is translated, stripped, dropped or doubled on the way in
    // (PARMRK would double every 0xFF), and a break or a zero byte is plain data.
    line.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC);
    // No XON/XOFF in either direction: 0x11 and 0x13 occur in firmware images.
    line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    line.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    line.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);

    // No hardware flow control; CLOCAL so that the modem status lines of a box
    // that does not drive them neither block the open nor hang the line up.
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    line.c_cflag |= *size | CLOCAL | CREAD;
    if (parity != serial_codes::kNoParity) {
        line.c_cflag |= PARENB;
        if (parity == serial_codes::kOddParity) {
            line.c_cflag |= PARODD;
        }
    }
    if (stopBits == serial_codes::kTwoStopBits) {
        line.c_cflag |= CSTOPB;
    }

    // The link waits with poll and its own deadlines; a read returns what is there.
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;

    cfsetispeed(&line, *speed);
    cfsetospeed(&line, *speed);
    return line;
}

}  // namespace kestrel
