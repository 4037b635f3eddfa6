#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kestrel::emulator {

// The stages of one download as the box sees them; a scenario picks one to misbehave at.
enum class BoxStage { Sync, Length, Erase, Data, ReadBack };

// How the emulated box answers. The defaults answer every download correctly.
struct BoxBehaviour {
    std::uint8_t firmwareType = 1;                 // announced in answer to '*'
    std::vector<std::uint8_t> strayBeforeType{};   // sent before the type byte
    int retriesAfterLength = 0;                    // '*' answers to the length or header before 'R'
    int unexpectedAfterLength = 0;                 // 0x00 answers to the length or header before 'R'
    std::optional<BoxStage> refuseAt{};            // 'E' at Length (or header), Erase or Data
    std::vector<std::uint8_t> strayDuringErase{};  // sent before the erase answer
    std::optional<bool> readBack{};      // 'R' (read-back) or 'N' after the data; unset: type 1 yes, type 2 no
    bool corruptReadBack = false;        // one byte of the read-back differs
    std::uint32_t shortReadBack = 0;     // bytes left off the end of the read-back
    std::optional<BoxStage> silentAt{};  // stops answering from that stage on
    std::optional<BoxStage> hangUpAt{};  // closes the line at that stage (Data: half-way; type 2: first byte)
    std::uint32_t eraseMs = 0;           // how long the erase takes
    std::uint32_t dataIdleMs = 200;      // type 2: the data block ends after this idle time
};

// A pure, byte-driven model of the box: bytes in, bytes out, time passed in.
// It serves one download after another; a '*' while idle starts the next.
class BoxModel {
public:
    explicit BoxModel(BoxBehaviour behaviour = {});

    // Bytes that arrived from the tool at `nowMs`.
    void Receive(const std::uint8_t* data, std::size_t count, std::uint32_t nowMs);
    // Lets time pass: an erase may finish, a type 2 data block may end.
    void Advance(std::uint32_t nowMs);
    // The earliest time at which Advance may change something, if any.
    std::optional<std::uint32_t> NextDeadline() const;

    // Takes out up to `max` bytes that the box has to send.
    std::size_t TakeOutput(std::uint8_t* buffer, std::size_t max);
    bool HasOutput() const;

    // The scenario asks for the line to be closed now.
    bool WantsHangUp() const;
    // Exchanges begun by a sync request that have ended since: answered to
    // the end, refused, fallen silent, hung up or abandoned by a Restart.
    int EndedExchanges() const;
    // The line was opened anew: an unfinished exchange and unsent bytes are
    // dropped, a hang-up is over; the counts and the last image stay.
    void Restart();

    // Downloads whose data block was received completely, and the last such image
    // (for type 1 the whole image with its six-byte head; for type 2 header and data).
    int CompletedDownloads() const;
    const std::vector<std::uint8_t>& LastImage() const;
    // The answer the tool gave to the last read-back: 'S', 'E', or 0 when none came.
    std::uint8_t LastVerdict() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace kestrel::emulator
