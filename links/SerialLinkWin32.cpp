#include "links/SerialLink.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <windows.h>

#include "base/Utf16.h"

namespace kestrel {

namespace {

// The port's own bounds of a read: a read of `count` bytes ends when they are
// there, or 500 ms after a byte with no new one, or 5 x count + 10 ms after the
// call. A write of `count` bytes is allowed 5 x count + 10 ms.
constexpr DWORD kByteIntervalMs = 500;
constexpr DWORD kMsPerByte = 5;
constexpr DWORD kExtraMs = 10;
constexpr DWORD kQueueSize = 2048;

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_UNIT:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_INVALID_PARAMETER:
        case ERROR_NOT_SUPPORTED:
            return EINVAL;
        default:
            return EIO;
    }
}

bool ValidCodes(std::uint8_t parity, std::uint8_t stopBits, std::uint8_t byteSize) {
    return parity <= SPACEPARITY && stopBits <= TWOSTOPBITS && byteSize >= 5 && byteSize <= 8;
}

// The port's settings as found, changed to the box's raw binary line: the
// given rate and framing, no flow control of either kind, DTR held off and RTS
// held on. Everything else keeps its value.
DCB LineSettings(const DCB& found, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
                 std::uint8_t byteSize) {
    DCB line = found;
    line.DCBlength = sizeof line;
    line.BaudRate = baudRate;
    line.ByteSize = byteSize;
    line.Parity = parity;
    line.StopBits = stopBits;
    line.fBinary = TRUE;
    line.fOutxCtsFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_DISABLE;
    line.fDsrSensitivity = FALSE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fNull = FALSE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fAbortOnError = FALSE;
    return line;
}

}  // namespace

struct SerialLink::Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool haveSavedSettings = false;
    DCB savedSettings{};  // the port's settings as found, restored at Close
    // The read bound last given to the port, so that an unchanged one is not set again.
    DWORD readConstant = 0;
    DWORD readMultiplier = 0;

    bool SetReadBound(DWORD totalConstant, DWORD multiplier) {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = kByteIntervalMs;
        timeouts.ReadTotalTimeoutMultiplier = multiplier;
        timeouts.ReadTotalTimeoutConstant = totalConstant;
        timeouts.WriteTotalTimeoutMultiplier = kMsPerByte;
        timeouts.WriteTotalTimeoutConstant = kExtraMs;
        if (!::SetCommTimeouts(handle, &timeouts)) {
            return false;
        }
        readConstant = totalConstant;
        readMultiplier = multiplier;
        return true;
    }
};

void SerialLink::PortDeleter::operator()(Port* port) const { delete port; }

std::string SerialLink::DeviceForPort(int port) {
    if (port < 1) {
        return {};
    }
    // The device namespace reaches every port; a plain "COM10" and above would not open.
    return "\\\\.\\COM" + std::to_string(port);
}

int SerialLink::OpenPort(const std::string& device, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
                         std::uint8_t byteSize) {
    if (!ValidCodes(parity, stopBits, byteSize) || baudRate == 0) {
        return EINVAL;
    }

    // Share mode 0: no other opener while this link holds the port. Synchronous
    // I/O: every wait happens in the driver, against the port's time-outs.
    port_.reset(new Port);
    Port& port = *port_;
    port.handle = ::CreateFileW(WideFromUtf8(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (port.handle == INVALID_HANDLE_VALUE) {
        return ErrnoOf(::GetLastError());
    }
    port.savedSettings.DCBlength = sizeof port.savedSettings;
    if (!::GetCommState(port.handle, &port.savedSettings)) {
        return ErrnoOf(::GetLastError());
    }
    port.haveSavedSettings = true;
    DCB line = LineSettings(port.savedSettings, baudRate, parity, stopBits, byteSize);
    if (!::SetCommState(port.handle, &line) || !::SetupComm(port.handle, kQueueSize, kQueueSize) ||
        !port.SetReadBound(kExtraMs, kMsPerByte)) {
        return ErrnoOf(::GetLastError());
    }
    // The settings already hold DTR off and RTS on; said once more directly for
    // drivers that apply the lines only on request. A port without modem lines
    // refuses these, which is no failure.
    ::EscapeCommFunction(port.handle, CLRDTR);
    ::EscapeCommFunction(port.handle, SETRTS);
    // What arrived while nobody listened is not part of this exchange.
    ::PurgeComm(port.handle, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);

    return 0;
}

std::uint32_t SerialLink::QueuedOutputBytes() const {
    COMSTAT status{};
    DWORD errors = 0;
    return ::ClearCommError(port_->handle, &errors, &status) ? status.cbOutQue : 0;
}

void SerialLink::ReleasePort(bool restoreSettings) {
    if (!port_) {
        return;
    }
    if (port_->haveSavedSettings && restoreSettings) {
        ::SetCommState(port_->handle, &port_->savedSettings);
    }
    if (port_->handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(port_->handle);
    }
    port_.reset();
}

void SerialLink::DrainPort() { ::FlushFileBuffers(port_->handle); }

bool SerialLink::WritePort(const std::uint8_t* data, std::uint32_t count) {
    DWORD written = 0;
    if (!::WriteFile(port_->handle, data, count, &written, nullptr)) {
        // The port failed or went away: nothing more will pass.
        broken_ = true;
        return false;
    }
    return written == count;
}

std::int32_t SerialLink::ReadPort(std::uint8_t* buffer, std::uint32_t count, std::uint32_t maxWaitMs) {
    // The port's total bound is 5 x count + 10 ms; a shorter wait asked for
    // replaces it by a plain constant.
    const std::uint64_t allowance = std::uint64_t{kMsPerByte} * count + kExtraMs;
    const bool capped = maxWaitMs < allowance;
    const DWORD constant = capped ? std::max<DWORD>(maxWaitMs, 1) : kExtraMs;
    const DWORD multiplier = capped ? 0 : kMsPerByte;
    const bool unchanged = constant == port_->readConstant && multiplier == port_->readMultiplier;
    if (!unchanged && !port_->SetReadBound(constant, multiplier)) {
        broken_ = true;
        return 0;
    }
    DWORD got = 0;
    if (!::ReadFile(port_->handle, buffer, count, &got, nullptr)) {
        broken_ = true;
    }
    return static_cast<std::int32_t>(std::min<DWORD>(got, count));
}

}  // namespace kestrel
