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
struct D2xxRow {
    const char* name;
    const char* boxes;
    const char* library;
    const char* link;
    std::vector<std::string> serials;  // as the driver lists them, by index
    UsbOpenProblem problem;            // after the download
    const char* lastLine;
};

class D2xxUsbDriverTest : public ::testing::TestWithParam<D2xxRow> {
protected:
    void SetUp() override { UsbLink::ForgetDeviceListing(); }
    void TearDown() override {
        _putenv_s("KESTREL_D2XX_BOXES", "");
        UsbLink::ForgetDeviceListing();
    }
};

TEST_P(D2xxUsbDriverTest, ListsAndFlashesTheBoxesTheLibraryServes) {
    const D2xxRow& row = GetParam();
    _putenv_s("KESTREL_D2XX_BOXES", row.boxes);
    std::wstring library(row.library, row.library + std::char_traits<char>::length(row.library));
    D2xxUsbDriver driver(library);

    std::vector<UsbDeviceInfo> devices;
    const UsbStatus listed = driver.ListDevices(devices);
    std::vector<std::string> serials;
    for (const auto& device : devices) {
        serials.push_back(device.serialNumber);
        EXPECT_EQ(device.index, static_cast<int>(serials.size() - 1));
        EXPECT_EQ(device.vendorId, 0x0403);
        EXPECT_EQ(device.productId, 0x6001);
        EXPECT_EQ(device.description, "Kestrel box");
    }
    EXPECT_EQ(serials, row.serials);
    EXPECT_EQ(listed == 0, row.problem != UsbOpenProblem::NoDriver);

    RecordingStatusList status;
    SessionOptions options;
    options.usbDriver = &driver;
    options.answerTimeoutMs = 2000;
    RunDownload(row.link, KESTREL_SAMPLES_DIR "/kestrel-demo.mot", status, options);
    const auto lines = status.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), row.lastLine);
    EXPECT_EQ(driver.LastOpenProblem(), row.problem);
}

const D2xxRow kRows[] = {
    {"FirstBox", "A1;B2", "FTD2XX.dll", "USB", {"A1", "B2"}, UsbOpenProblem::None, "FLASHING SUCCESSFULL"},
    {"BoxBySerial",
     "A1,refuse-open;B2",
     "FTD2XX.dll",
     "USB:B2",
     {"A1", "B2"},
     UsbOpenProblem::None,
     "FLASHING SUCCESSFULL"},
    {"BoxByIndex",
     "A1,silent-sync;B2",
     "FTD2XX.dll",
     "USB:1",
     {"A1", "B2"},
     UsbOpenProblem::None,
     "FLASHING SUCCESSFULL"},
    {"RefusedOpen",
     "A1,refuse-open",
     "FTD2XX.dll",
     "USB",
     {"A1"},
     UsbOpenProblem::NoDevice,
     "Error: cannot open Ixo Serial Device"},
    {"RefusedBaudRate",
     "A1,refuse-baud",
     "FTD2XX.dll",
     "USB",
     {"A1"},
     UsbOpenProblem::NoDevice,
     "Error: cannot open Ixo Serial Device"},
    {"RefusedSettings",
     "A1,refuse-framing",
     "FTD2XX.dll",
     "USB:A1",
     {"A1"},
     UsbOpenProblem::None,
     "Error: cannot open Ixo Serial Device"},
    {"NoBox", "", "FTD2XX.dll", "USB", {}, UsbOpenProblem::NoDevice, "Error: cannot open Ixo Serial Device"},
    {"NoLibrary", "A1", "NoSuchD2xx.dll", "USB", {}, UsbOpenProblem::NoDriver, "Error: cannot open Ixo Serial Device"},
};

INSTANTIATE_TEST_SUITE_P(Rows, D2xxUsbDriverTest, ::testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace kestrel
