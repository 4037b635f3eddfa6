#include "session/DataConverter.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "session/LinkNames.h"

namespace kestrel {

namespace {

constexpr int kUsbDeviceAttempts = 10;
// How long one receive attempt blocks in the device when nothing arrives.
constexpr std::uint32_t kAttemptWaitMs = 15;

}  // namespace

int DataConverter::OpenInterface(const std::string& name, std::uint32_t baudRate) {
    interfaceName = name;
    const LinkChoice choice = ChooseLink(name);

    if (choice.kind == LinkChoice::Kind::Serial) {
        if (serialLink) {
            serialLink->Close();
        } else {
            serialLink = std::make_unique<SerialLink>();
        }
        LinkKind = kLinkCom;
        if (choice.refusal != 0) {
            statusList.AppendStatus("Error: unknown interface");
            return choice.refusal;
        }
        const bool opened = choice.device.empty()
                                ? serialLink->Open(choice.port, baudRate, kParityNone, kTwoStopBits, kByteSize)
                                : serialLink->Open(choice.device, baudRate, kParityNone, kTwoStopBits, kByteSize);
        if (opened) {
            return 0;
        }
        ReportOpenFailed({.target = OpenFailure::Target::SerialPort,
                          .name = choice.device.empty() ? SerialLink::DeviceForPort(choice.port) : choice.device,
                          .error = serialLink->OpenError()});
        statusList.AppendStatus("Error: cannot open comport");
        return kInterfaceOpenFailed;
    }
    if (choice.kind == LinkChoice::Kind::None) {
        statusList.AppendStatus("Error: unknown interface");
        return choice.refusal;
    }

    if (usbLink) {
        usbLink->Close();
    } else {
        usbLink = std::make_unique<UsbLink>(options_.Usb());
    }
    LinkKind = kLinkUsb;
    OpenFailure failure{.target = OpenFailure::Target::Usb, .name = name};
    UsbOpenProblem& problem = failure.usbProblem;
    if (!choice.usbSelector.empty()) {
        // One named box only: a line with several boxes must never write into the wrong one.
        if (const int index = OpenSelectedUsbDevice(choice.usbSelector, baudRate, failure); index >= 0) {
            ReportUsbDeviceOpened(index);
            return 0;
        }
    } else {
        for (int index = 0; index < kUsbDeviceAttempts; ++index) {
            if (usbLink->Open(index, baudRate, kParityNone, kTwoStopBits, kByteSize)) {
                ReportUsbDeviceOpened(index);
                return 0;
            }
            // The indices past the attached devices must not hide why an
            // attached one would not open (permission, in use).
            const UsbOpenProblem why = usbLink->OpenProblem();
            const bool telling = problem != UsbOpenProblem::None && problem != UsbOpenProblem::NoDevice;
            problem = why == UsbOpenProblem::NoDevice && telling ? problem : why;
        }
    }
    ReportOpenFailed(failure);
    statusList.AppendStatus("Error: cannot open Ixo Serial Device");
    return kInterfaceOpenFailed;
}

void DataConverter::ReportOpenFailed(const OpenFailure& failure) {
    if (options_.openFailed) {
        options_.openFailed(failure);
    }
}

void DataConverter::ReportUsbDeviceOpened(int index) {
    if (options_.usbDeviceOpened) {
        options_.usbDeviceOpened(index);
    }
}

int DataConverter::OpenSelectedUsbDevice(const std::string& selector, std::uint32_t baudRate, OpenFailure& failure) {
    UsbDriver& driver = options_.Usb();
    std::vector<UsbDeviceInfo> devices;
    const UsbStatus listed = driver.ListDevices(devices);
    if (listed != 0) {
        devices.clear();  // a bare index still names its device
    }
    const auto shared = std::ranges::count(devices, selector, &UsbDeviceInfo::serialNumber);
    const int index = FindUsbDevice(selector, devices);
    if (index >= 0 && shared < 2) {
        const bool opened = usbLink->Open(index, baudRate, kParityNone, kTwoStopBits, kByteSize);
        failure.usbProblem = usbLink->OpenProblem();
        return opened ? index : -1;
    }
    // Not found: a box whose strings could not be read may be the one, and why
    // they could not be read is the reason; other boxes there need no hint.
    failure.usbProblem = listed != 0       ? ProblemOfListing(listed)
                         : devices.empty() ? UsbOpenProblem::NoDevice
                                           : UsbOpenProblem::None;
    for (const UsbDeviceInfo& device : devices) {
        if (device.openProblem == UsbOpenProblem::AccessDenied || device.openProblem == UsbOpenProblem::Busy) {
            failure.usbProblem = device.openProblem;
        }
    }
    // Two boxes of one serial number: opening either could flash the box the user did not mean. Else, when no
    // reason above applies, the names of the boxes that are there.
    failure.usbSerialShared = shared > 1;
    for (const UsbDeviceInfo& device : devices) {
        if (failure.usbSerialShared ? device.serialNumber == selector : failure.usbProblem == UsbOpenProblem::None) {
            failure.usbAttached.push_back(UsbLinkName(device, devices));
        }
    }
    return -1;
}

bool DataConverter::SendBlock(const std::uint8_t* data, std::uint32_t count) {
    if (count == 0) {
        return true;
    }
    bool sent = false;
    if (LinkKind == kLinkCom) {
        sent = serialLink && serialLink->Write(data, count);
    } else {
        sent = usbLink && usbLink->Write(data, count);
    }
    if (sent) {
        NoteActivity();
    }
    return sent;
}

bool DataConverter::SendByte(std::uint8_t value) { return SendBlock(&value, 1); }

std::int32_t DataConverter::ReadAttempt(std::uint8_t* buffer, std::uint32_t count, std::uint32_t waitMs) {
    if (LinkKind == kLinkCom) {
        // The serial link's own bounds (5 ms a byte and 10 ms more, or 500 ms
        // idle), cut to the attempt's wait as over USB.
        return serialLink ? serialLink->Read(buffer, count, waitMs) : 0;
    }
    return usbLink ? usbLink->WaitRead(buffer, count, waitMs) : 0;
}

int DataConverter::ReceiveByte() {
    for (;;) {
        if (CancelRequested()) {
            return kCancelled;
        }
        // A closed or failed link delivers nothing at once: waiting on it would spin.
        if (LinkBroken()) {
            return kLinkLost;
        }
        if (AnswerBoundPassed()) {
            return kNoAnswer;
        }
        std::uint8_t value = 0;
        if (ReadAttempt(&value, 1, kAttemptWaitMs) == 1) {
            NoteActivity();
            return value;
        }
    }
}

std::uint8_t DataConverter::ReceiveByteNoWait() {
    std::uint8_t value = 0;
    return ReadAttempt(&value, 1, kAttemptWaitMs) == 1 ? value : 0;
}

bool DataConverter::LinkBroken() const {
    if (LinkKind == kLinkCom) {
        return !serialLink || !serialLink->IsOpen() || serialLink->IsBroken();
    }
    return !usbLink || !usbLink->IsOpen() || usbLink->IsBroken();
}

bool DataConverter::CancelRequested() const { return options_.cancelRequested && options_.cancelRequested(); }

void DataConverter::NoteActivity() { lastActivityMs_ = clock_.TickMs(); }

bool DataConverter::AnswerBoundPassed() {
    return static_cast<std::uint32_t>(clock_.TickMs() - lastActivityMs_) > options_.answerTimeoutMs;
}

}  // namespace kestrel
