#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "links/UsbDriver.h"
#include "session/Clock.h"

namespace kestrel::fuzz {

// A USB driver whose one device answers from a script of bytes, with the
// timing the script asks for, on a manual clock: a read that has to wait moves
// the clock on instead of sleeping. The script is taken one event at a time,
// whenever the tool reads and nothing is waiting; once it is used up the device
// stays silent. Each event starts with one byte: its low three bits give the
// kind, the upper five an argument `a` (0 to 31).
//
//   0  the next a % 8 + 1 script bytes, as they stand
//   1  a pause of a x 1000 ms before whatever comes next
//   2  the next (a + 1) x 2048 bytes of a faithful read-back (a = 31: all the rest)
//   3  one common answer, {01 02 'R' 'E' '*' 'N' 'S' 00}[a % 8], after a pause
//      of {0, 10, 1000, 25000}[a / 8] ms
//   4  the rest of the read-back with one byte changed; the next script byte picks which
//   5  the device is unplugged
//   6  the next write fails (a even) or takes one byte less than it was given (a odd)
//   7  a + 1 bytes of a faithful read-back
class ScriptedUsbDriver final : public UsbDriver {
public:
    static constexpr UsbStatus kDeviceGone = 5;
    static constexpr UsbStatus kWriteRefused = 6;
    // Single-byte writes allowed before the device gives up: bounds the length and
    // header retries, whose paced header bytes take real time.
    static constexpr std::size_t kSingleByteWriteBudget = 160;

    ScriptedUsbDriver(ManualClock& clock, const std::uint8_t* script, std::size_t size);

    // What a faithful box sends back: the image bytes that follow its head.
    void SetReadBack(const std::uint8_t* bytes, std::uint32_t count);
    // From now on the tool is reading back: bytes taken count towards the read-back.
    void StartReadBack();

    struct ReadBackTaken {
        std::uint32_t faithful = 0;  // faithful read-back bytes, in order
        std::uint32_t other = 0;     // any other byte
        bool changed = false;        // the changed byte of event 4
    };
    ReadBackTaken TakenSinceReadBack() const { return sinceReadBack_; }
    // Faithful read-back bytes the tool took before the read-back began.
    std::uint32_t FaithfulTakenEarly() const { return faithfulEarly_; }
    bool ChangedTakenEarly() const { return changedEarly_; }
    bool WriteFaultInjected() const { return writeFaultInjected_; }
    bool Unplugged() const { return gone_; }
    const std::vector<std::uint8_t>& Written() const { return written_; }

    UsbStatus CountDevices(std::uint32_t& count) override;
    UsbStatus ListDevices(std::vector<UsbDeviceInfo>& devices) override;
    UsbStatus Open(int index, UsbHandle& handle) override;
    UsbStatus Close(UsbHandle handle) override;
    UsbStatus SetBaudRate(UsbHandle handle, std::uint32_t baudRate) override;
    UsbStatus SetDataCharacteristics(UsbHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                     std::uint8_t parity) override;
    UsbStatus Write(UsbHandle handle, const std::uint8_t* data, std::uint32_t count,
                    std::uint32_t& written) override;
    UsbStatus Read(UsbHandle handle, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                   std::uint32_t timeoutMs) override;
    UsbStatus QueueStatus(UsbHandle handle, std::uint32_t& waiting) override;
    UsbStatus PrepareForSync(UsbHandle handle) override;
    Clock& TimeBase() override { return clock_; }

private:
    enum class Origin : std::uint8_t { Other, Faithful, Changed };
    struct Pending {
        std::uint8_t value;
        Origin origin;
    };

    // Takes script events while nothing is waiting and no pause runs.
    void Pump();
    void ApplyEvent();
    std::uint8_t NextScriptByte();
    void QueueReadBack(std::uint32_t count, bool changeOne, std::uint32_t changeAt);
    bool Readable() const { return !received_.empty() && clock_.TickMs() - pauseFromMs_ >= pauseMs_; }
    void Take(std::uint8_t* buffer, std::uint32_t count);

    ManualClock& clock_;
    const std::uint8_t* script_;
    std::size_t scriptSize_;
    std::size_t scriptAt_ = 0;

    std::deque<Pending> received_;
    std::uint32_t pauseFromMs_ = 0;
    std::uint32_t pauseMs_ = 0;

    const std::uint8_t* readBack_ = nullptr;
    std::uint32_t readBackCount_ = 0;
    std::uint32_t readBackAt_ = 0;

    bool open_ = false;
    bool gone_ = false;
    bool failNextWrite_ = false;
    bool shortNextWrite_ = false;
    bool writeFaultInjected_ = false;
    std::size_t singleByteWrites_ = 0;
    std::vector<std::uint8_t> written_;

    bool readingBack_ = false;
    ReadBackTaken sinceReadBack_;
    std::uint32_t faithfulEarly_ = 0;
    bool changedEarly_ = false;
};

}  // namespace kestrel::fuzz
