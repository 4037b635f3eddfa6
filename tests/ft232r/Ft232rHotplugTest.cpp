// The station's hot-plug thread and a gang's downloads on one driver, in one
// process: ctest preloads the FT232R model in front of libusb.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <set>

#include "links/FtdiUsbDriver.h"
#include "session/RecordingStatusList.h"
#include "station/GangDownload.h"
#include "support/SentHotplugEvents.h"
#include "support/TempDir.h"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

// The station's hot-plug thread lists the bus through the driver its downloads use, while they run.
TEST(Ft232rHotplug, ListingTheBusWhileAGangDownloadsDisturbsNeither) {
    const TempDir dir;
    ::setenv("KESTREL_FT232R_BOXES", "KST-A,KST-B,KST-C", 1);
    ::setenv("KESTREL_FT232R_SAVE_IMAGE", (dir.Path() / "%s.img").c_str(), 1);
    FtdiUsbDriver driver(dir.Path().string());
    std::mutex mutex;
    std::set<std::string> seen;
    {
        // A bus that changes 200 times at once, then stays as it is.
        auto bus = std::make_unique<SentHotplugEvents>();
        bus->Send(200);
        stationapp::UsbHotplug hotplug(std::move(bus), driver, [&](const std::string& link, bool present) {
            std::lock_guard lock(mutex);
            present ? (void)seen.insert(link) : (void)seen.erase(link);
        });
        RecordingStatusList status;
        GangImage image;
        ASSERT_EQ(PrepareGangImage(KESTREL_SAMPLES_DIR "/kestrel-demo.mot", status, image), DownloadOutcome::Success);
        std::vector<RecordingStatusList> lists(3);
        std::vector<GangBox> boxes;
        for (std::size_t i = 0; i < lists.size(); ++i)
            boxes.push_back(
                {.linkName = "USB:" + std::to_string(i), .status = &lists[i], .options = {.usbDriver = &driver}});
        for (const auto& result : RunGangDownload(image, boxes))
            EXPECT_EQ(result.outcome, DownloadOutcome::Success) << result.linkName << ": " << result.lastError;
    }
    EXPECT_EQ(seen, (std::set<std::string>{"USB:KST-A", "USB:KST-B", "USB:KST-C"}));
    for (const char* box : {"KST-A", "KST-B", "KST-C"})
        EXPECT_TRUE(fs::exists(dir.Path() / (std::string(box) + ".img"))) << box;
}

}  // namespace
}  // namespace kestrel::testing
