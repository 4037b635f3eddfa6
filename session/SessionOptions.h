#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/Clock.h"
#include "links/UsbDriver.h"
#include "readers/ExtractData.h"
#include "session/OpenFailure.h"
#include "session/SourceFile.h"

namespace kestrel {

// What a front end may set for one session beyond the fixed values every session shares.
struct SessionOptions {
    UsbDriver* usbDriver = nullptr;  // null: the system's driver
    Clock* clock = nullptr;          // null: the steady clock
    // Bound of every wait after the synchronisation, since the last byte sent or received.
    std::uint32_t answerTimeoutMs = 30000;
    // Polled in every wait and between blocks of the data; true ends the download.
    std::function<bool()> cancelRequested{};
    // Told of the image once it is built, before the handshake: a front end
    // that reports what went into the box (size, digest, line rate) learns it here.
    std::function<void(const std::uint8_t* image, std::uint32_t length, std::uint8_t sourceKind)> imageReady{};
    // Given the image once it is built, before it is told of or sent: writes
    // what belongs to this box alone (its serial number, its unit data) into it.
    std::function<void(std::uint8_t* image, std::uint32_t length)> personalise{};
    // Told the index of the USB device that opened: a plain "USB" does not say
    // which box it was, and a record of the download should.
    std::function<void(int index)> usbDeviceOpened{};
    // Told what failed to open (the source file, the serial port or USB) and
    // why: the status line says what failed, a user needs to know why.
    std::function<void(const OpenFailure& failure)> openFailed{};
    // Told why the reader refused the file, the record type included: the
    // status line names the line, a user needs to know what to do about it.
    std::function<void(const ExtractFailure& failure)> sourceRefused{};
    // The firmware file as a lot read it once: the session takes these bytes
    // (or that read's failure) instead of reading the file again. Null: the session reads it.
    std::shared_ptr<const SourceBytes> source{};

    // The clock the session waits and is timed on.
    Clock& TimeBase() const { return clock != nullptr ? *clock : SteadyClock(); }
    // The driver the session's USB boxes are reached through.
    UsbDriver& Usb() const { return usbDriver != nullptr ? *usbDriver : SystemUsbDriver(); }
};

}  // namespace kestrel
