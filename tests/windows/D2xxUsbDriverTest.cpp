#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "links/D2xxUsbDriver.h"
#include "links/UsbLink.h"
#include "session/DownloadWorkflow.h"
#include "session/RecordingStatusList.h"

namespace kestrel {
namespace {

// The stand-in FTD2XX.dll beside this test program serves the boxes that
// KESTREL_D2XX_BOXES lists; each driver loads it afresh, so each row has its own boxes.
TEST(D2xxUsbDriver, ListsAndFlashesTheBoxesTheLibraryServes) {
    const struct {
        const char *boxes, *link;
        std::vector<std::string> serials;  // as the driver lists them, by index
        UsbOpenProblem problem;            // the download's open failure reports
        bool flashed;
        const wchar_t* library = L"FTD2XX.dll";
        int held = -1;  // a device opened before the download: as the vendor's library, the stand-in refuses it
    } rows[] = {
        {"A1;B2", "USB", {"A1", "B2"}, UsbOpenProblem::None, true, L"FTD2XX.dll", 0},
        {"A1,refuse-open;B2", "USB:B2", {"A1", "B2"}, UsbOpenProblem::None, true},
        {"A1,silent-sync;B2", "USB:1", {"A1", "B2"}, UsbOpenProblem::None, true},
        {"A1,refuse-open", "USB", {"A1"}, UsbOpenProblem::Busy, false},
        {"A1,refuse-baud", "USB", {"A1"}, UsbOpenProblem::NoDevice, false},
        {"A1,refuse-framing", "USB:A1", {"A1"}, UsbOpenProblem::None, false},
        {"", "USB", {}, UsbOpenProblem::NoDevice, false},
        {"A1", "USB", {}, UsbOpenProblem::NoDriver, false, L"NoSuchD2xx.dll"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.boxes) + " " + row.link);
        _putenv_s("KESTREL_D2XX_BOXES", row.boxes);
        UsbLink::ForgetDeviceListing();
        D2xxUsbDriver driver(row.library);

        std::vector<UsbDeviceInfo> devices;
        EXPECT_EQ(driver.ListDevices(devices) == 0, row.problem != UsbOpenProblem::NoDriver);
        std::vector<std::string> serials;
        for (const auto& device : devices) {
            EXPECT_EQ(device.index, static_cast<int>(serials.size()));
            EXPECT_EQ(device.vendorId, 0x0403);
            EXPECT_EQ(device.productId, 0x6001);
            serials.push_back(device.serialNumber);
        }
        EXPECT_EQ(serials, row.serials);

        UsbHandle held = kNoUsbHandle, again = kNoUsbHandle;
        UsbOpenProblem refused = UsbOpenProblem::None, problem = UsbOpenProblem::None;
        if (row.held >= 0) {
            ASSERT_EQ(driver.Open(row.held, held, refused), 0);
            EXPECT_NE(driver.Open(row.held, again, refused), 0);
            EXPECT_EQ(refused, UsbOpenProblem::Busy);
        }
        RecordingStatusList status;
        const SessionOptions options{
            .usbDriver = &driver, .answerTimeoutMs = 2000, .openFailed = [&problem](const OpenFailure& failure) {
                problem = failure.usbProblem;
            }};
        RunDownload(row.link, KESTREL_SAMPLES_DIR "/kestrel-demo.mot", status, options);
        const auto lines = status.lines();
        EXPECT_EQ(lines.empty() ? "" : lines.back(),
                  row.flashed ? "FLASHING SUCCESSFULL" : "Error: cannot open Ixo Serial Device");
        EXPECT_EQ(problem, row.problem);
        EXPECT_EQ(row.held >= 0 ? driver.Close(held) : 0, 0);
    }
    _putenv_s("KESTREL_D2XX_BOXES", "");
    UsbLink::ForgetDeviceListing();
}

}  // namespace
}  // namespace kestrel
