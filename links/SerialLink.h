#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

// Byte transport to the box over a serial device (a COM port, a USB serial
// adapter, a pseudo-terminal). Opens exclusively with the box's line settings;
// reads and writes block in the device within bounded times, never spinning.
class SerialLink {
public:
    SerialLink();
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // "COMn" is port n: /dev/ttyS(n-1) on POSIX systems, \\.\COMn on Windows.
    static std::string DeviceForPort(int port);

    bool Open(int port, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits, std::uint8_t byteSize);
    bool Open(const std::string& device, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
              std::uint8_t byteSize);
    // Restores the device's settings as found, releases it. Harmless when closed.
    void Close();

    // Writes all `count` bytes within 5 x count + 10 ms. False when the device
    // failed, hung up or took longer.
    bool Write(const std::uint8_t* data, std::uint32_t count);
    // Returns when `count` bytes arrived, or 500 ms passed after a byte with no
    // new one, or 5 x count + 10 ms passed since the call, with the number of
    // bytes read. 0 at once when the link is closed or broken.
    std::int32_t Read(std::uint8_t* buffer, std::uint32_t count);
    // The same, but returning after `maxWaitMs` at the latest: a caller that
    // polls for a cancel or its own bound need not sit out a silent line's
    // whole allowance of a large read.
    std::int32_t Read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t maxWaitMs);
    // Blocks until what was written has left the device (the line has no flow
    // control, so this always ends). Harmless when closed.
    void WaitUntilSent();

    bool IsOpen() const { return port_ != nullptr; }
    // The device hung up or failed since it was opened: nothing more will arrive.
    bool IsBroken() const { return broken_; }
    // errno of the last failed Open (on Windows the nearest errno of the system's
    // error: ENOENT no such port, EBUSY in use), 0 after a successful one.
    int OpenError() const { return openError_; }

private:
    // The open device and what Close must restore, in the platform's own types.
    struct Port;
    // Defined beside Port, so that this file and the shared part never need its size.
    struct PortDeleter {
        void operator()(Port* port) const;
    };

    // The platform's part, called by the shared one only past its guards.
    // Opens and sets up the device: 0 with port_ held, or the errno with what
    // was opened so far left in port_ for ReleasePort.
    int OpenPort(const std::string& device, std::uint32_t baudRate, std::uint8_t parity, std::uint8_t stopBits,
                 std::uint8_t byteSize);
    // The bytes written that the device still holds; 0 when it cannot tell.
    std::uint32_t QueuedOutputBytes() const;
    // Puts the device's settings back if asked and the device was reached, and drops port_.
    void ReleasePort(bool restoreSettings);
    // Waits, bounded, for output the device still holds to leave it.
    void AwaitQueuedOutput() const;
    bool WritePort(const std::uint8_t* data, std::uint32_t count);
    std::int32_t ReadPort(std::uint8_t* buffer, std::uint32_t count, std::uint32_t maxWaitMs);
    void DrainPort();

    std::unique_ptr<Port, PortDeleter> port_;
    bool broken_ = false;
    int openError_ = 0;
    std::uint32_t baudRate_ = 0;  // of the open device
};

}  // namespace kestrel
