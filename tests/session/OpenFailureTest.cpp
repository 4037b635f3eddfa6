#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "emulator/SimulatedUsbDriver.h"
#include "session/DataConverter.h"
#include "session/RecordingStatusList.h"

namespace kestrel::testing {
namespace {

// Each session's USB open gets the driver's reason for that very open, while
// another session opens a box on another thread; a plain "USB" keeps the reason
// of the box that refused past the indices where there is none.
TEST(UsbOpenFailure, EachOpenOnEachThreadGetsItsOwnReason) {
    UsbLink::ForgetDeviceListing();
    emulator::SimulatedUsbDriver driver{SteadyClock()};
    auto& denying = driver.Device(driver.AddDevice());
    denying.refuseOpen = true;
    denying.openProblem = UsbOpenProblem::AccessDenied;
    driver.Device(driver.AddDevice()).serialNumber = "HELD";
    UsbHandle held = kNoUsbHandle;
    UsbOpenProblem problem = UsbOpenProblem::Other;
    ASSERT_EQ(driver.Open(1, held, problem), 0);
    const auto openMany = [&driver](const std::string& link, UsbOpenProblem expected, int& wrong) {
        for (int i = 0; i < 300; ++i) {
            RecordingStatusList status;
            std::optional<OpenFailure> failure;
            SessionOptions options;
            options.usbDriver = &driver;
            options.openFailed = [&failure](const OpenFailure& reported) { failure = reported; };
            DataConverter(status, options).OpenInterface(link, 115200);
            wrong += !failure || failure->name != link || failure->usbProblem != expected;
        }
    };
    int wrongDenied = 0, wrongBusy = 0;
    std::thread denied(openMany, "USB:0", UsbOpenProblem::AccessDenied, std::ref(wrongDenied));
    openMany("USB:HELD", UsbOpenProblem::Busy, wrongBusy);
    denied.join();
    EXPECT_EQ(wrongDenied, 0);
    EXPECT_EQ(wrongBusy, 0);
    driver.SetPresent(1, false);
    openMany("USB", UsbOpenProblem::AccessDenied, wrongDenied);
    EXPECT_EQ(wrongDenied, 0);
    UsbLink::ForgetDeviceListing();
}

}  // namespace
}  // namespace kestrel::testing
