#include "station/GangDownload.h"

#include <memory>
#include <new>
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
        if (IsErrorLine(line)) {
            lastError_ = line;
        }
        ForwardingStatusList::AppendStatus(line);
    }

    const std::string& LastError() const { return lastError_; }

private:
    std::string lastError_;
};

// The box's download ends on `line` instead of its own result.
void EndOn(const char* line, LastErrorTap& status, GangBoxResult& result) noexcept {
    result.outcome = DownloadOutcome::DataFailed;
    try {
        status.AppendStatus(line);
        result.lastError = line;
    } catch (...) {
        // Not even the line could be had: the outcome alone tells of the failure.
    }
}

// The whole body inside its try: nothing may leave a box's thread, or the
// process would go down with every other box's download.
void FlashOneBox(const GangImage& image, const GangBox& box, GangBoxResult& result) noexcept {
    Clock& clock = box.options.TimeBase();
    const std::uint32_t startMs = clock.TickMs();
    LastErrorTap status(box.status);
    try {
        result.linkName = box.linkName;
        const std::vector<std::uint8_t>& bytes = box.ownImage.empty() ? image.bytes : box.ownImage;
        result.outcome = FlashPreparedImage(box.linkName, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                            image.sourceKind, status, box.options);
        result.lastError = result.outcome == DownloadOutcome::Success ? std::string() : status.LastError();
    } catch (const std::bad_alloc&) {
        EndOn("Error: out of memory", status, result);
    } catch (...) {
        EndOn("Error: internal failure", status, result);
    }
    result.seconds = (clock.TickMs() - startMs) / 1000.0;
}

}  // namespace

DownloadOutcome PrepareGangImage(const std::string& filePath, StatusList& status, GangImage& image,
                                 const SessionOptions& options) {
    // About 1 MiB of buffers: on the heap. No link: nothing is reopened for a binary image.
    auto session = std::make_unique<DataConverter>(status, options);
    const DownloadOutcome prepared = PrepareImage(*session, filePath, status);
    if (prepared != DownloadOutcome::Success) {
        return prepared;
    }
    const std::uint8_t* begin = session->OutputBuffer.data();
    image.bytes.assign(begin, begin + session->outputLength);
    image.sourceKind = session->sourceKind;
    image.records = session->sourceKind == DataConverter::kSourceMot ? static_cast<int>(session->records.size()) : -1;
    image.sha256 = Sha256Hex(image.bytes.data(), image.bytes.size());
    return DownloadOutcome::Success;
}

std::vector<GangBoxResult> RunGangDownload(const GangImage& image, const std::vector<GangBox>& boxes) {
    // Both taken before any box is touched: without them nothing has begun.
    std::vector<GangBoxResult> results(boxes.size());
    std::vector<std::jthread> threads;
    threads.reserve(boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        try {
            threads.emplace_back(FlashOneBox, std::cref(image), std::cref(boxes[i]), std::ref(results[i]));
        } catch (...) {
            // No thread to be had (none left, or no memory for one): this box
            // waits its turn here, the others run on. Those already running
            // are joined below whatever happens.
            FlashOneBox(image, boxes[i], results[i]);
        }
    }
    threads.clear();  // joins every box's thread before the results go out
    return results;
}

}  // namespace kestrel
