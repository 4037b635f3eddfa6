#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "emulator/SimulatedUsbDriver.h"
#include "session/DataConverter.h"
#include "session/RecordingStatusList.h"

// What the session reports when a USB link does not open: the driver's reason
// for that very open, even while other sessions open boxes on other threads.
namespace kestrel::testing {
namespace {

class UsbOpenFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        UsbLink::ForgetDeviceListing();
        emulator::SimulatedUsbDevice denying;
        denying.refuseOpen = true;
        denying.openProblem = UsbOpenProblem::AccessDenied;
        denying.serialNumber = "DENY";
        driver.AddDevice(denying);
        driver.Device(driver.AddDevice()).serialNumber = "HELD";
        ASSERT_EQ(driver.Open(1, held, heldProblem), 0);
    }
    void TearDown() override {
        driver.Close(held);
        UsbLink::ForgetDeviceListing();
    }

    std::optional<OpenFailure> Open(const std::string& link) {
        RecordingStatusList status;
        std::optional<OpenFailure> failure;
        SessionOptions options;
        options.usbDriver = &driver;
        options.openFailed = [&failure](const OpenFailure& reported) { failure = reported; };
        DataConverter session(status, options);
        session.OpenInterface(link, 115200);
        return failure;
    }

    emulator::SimulatedUsbDriver driver{SteadyClock()};
    UsbHandle held = kNoUsbHandle;
    UsbOpenProblem heldProblem = UsbOpenProblem::Other;
};

TEST_F(UsbOpenFailureTest, EachOpenOnEachThreadGetsItsOwnReason) {
    const auto openMany = [this](const std::string& link, UsbOpenProblem expected, int& wrong) {
        for (int i = 0; i < 300; ++i) {
            const auto failure = Open(link);
            wrong += !failure || failure->target != OpenFailure::Target::Usb || failure->name != link ||
                     failure->usbProblem != expected;
        }
    };
    int wrongDenied = 0, wrongBusy = 0;
    std::thread denied(openMany, "USB:DENY", UsbOpenProblem::AccessDenied, std::ref(wrongDenied));
    std::thread busy(openMany, "USB:HELD", UsbOpenProblem::Busy, std::ref(wrongBusy));
    denied.join();
    busy.join();
    EXPECT_EQ(wrongDenied, 0);
    EXPECT_EQ(wrongBusy, 0);
}

// A plain "USB" tries the indices in turn: those past the attached boxes must
// not hide why the last box there would not open; with no box at all, there is none.
TEST_F(UsbOpenFailureTest, APlainUsbKeepsTheReasonOfTheBoxThatRefused) {
    EXPECT_EQ(Open("USB")->usbProblem, UsbOpenProblem::Busy);
    driver.SetPresent(1, false);
    EXPECT_EQ(Open("USB")->usbProblem, UsbOpenProblem::AccessDenied);
    driver.SetPresent(1, true);
    EXPECT_EQ(Open("USB:NONE")->usbProblem, UsbOpenProblem::None);  // other boxes are there: no hint
    driver.Close(held);
    driver.SetPresent(0, false);
    driver.SetPresent(1, false);
    EXPECT_EQ(Open("USB")->usbProblem, UsbOpenProblem::NoDevice);
    EXPECT_EQ(Open("USB:HELD")->usbProblem, UsbOpenProblem::NoDevice);
    driver.FailListing(true);
    EXPECT_EQ(Open("USB:0")->usbProblem, UsbOpenProblem::NoDevice);
}

}  // namespace
}  // namespace kestrel::testing
