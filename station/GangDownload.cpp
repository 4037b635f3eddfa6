#include "station/GangDownload.h"

#include <chrono>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "session/ForwardingStatusList.h"
#include "session/PrepareImage.h"
#include "station/Sha256.h"

namespace kestrel {

namespace {

// Passes every call on and remembers the last error line, for the box's result.
class LastErrorTap : public ForwardingStatusList {
public:
    explicit LastErrorTap(StatusList* inner) : ForwardingStatusList(inner) {}

    void AppendStatus(const std::string& line) override {
        if (line.rfind("Error: ", 0) == 0) {
            lastError_ = line;
        }
        ForwardingStatusList::AppendStatus(line);
    }

    const std::string& LastError() const { return lastError_; }

private:
    std::string lastError_;
};

void FlashOneBox(const GangImage& image, const GangBox& box, GangBoxResult& result) {
    const auto start = std::chrono::steady_clock::now();
    LastErrorTap status(box.status);
    result.linkName = box.linkName;
    try {
        result.outcome =
            FlashPreparedImage(box.linkName, image.bytes.data(), static_cast<std::uint32_t>(image.bytes.size()),
                               image.sourceKind, status, box.options);
    } catch (const std::exception&) {
        // Nothing may leave the box's thread: the others would go down with it.
        status.AppendStatus("Error: internal failure");
        result.outcome = DownloadOutcome::DataFailed;
    }
    result.lastError = result.outcome == DownloadOutcome::Success ? std::string() : status.LastError();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

DownloadOutcome PrepareGangImage(const std::string& filePath, StatusList& status, GangImage& image) {
    // About 1 MiB of buffers: on the heap. No link: nothing is reopened for a binary image.
    auto session = std::make_unique<DataConverter>(status);
    const DownloadOutcome prepared = PrepareImage(*session, filePath, status);
    if (prepared != DownloadOutcome::Success) {
        return prepared;
    }
    const std::uint8_t* begin = session->OutputBuffer.data();
    image.bytes.assign(begin, begin + session->outputLength);
    image.sourceKind = session->sourceKind;
    image.sha256 = Sha256Hex(image.bytes.data(), image.bytes.size());
    return DownloadOutcome::Success;
}

std::vector<GangBoxResult> RunGangDownload(const GangImage& image, const std::vector<GangBox>& boxes) {
    std::vector<GangBoxResult> results(boxes.size());
    std::vector<std::thread> threads;
    threads.reserve(boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        try {
            threads.emplace_back(FlashOneBox, std::cref(image), std::cref(boxes[i]), std::ref(results[i]));
        } catch (const std::system_error&) {
            // No thread to be had: this box waits its turn here, the others run on.
            FlashOneBox(image, boxes[i], results[i]);
        }
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return results;
}

}  // namespace kestrel
