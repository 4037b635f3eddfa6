#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/DataConverter.h"
#include "session/DownloadWorkflow.h"
#include "session/StatusList.h"

namespace kestrel {

// An image read and built once, for any number of boxes.
struct GangImage {
    std::vector<std::uint8_t> bytes;
    std::uint8_t sourceKind = 0;  // DataConverter::kSourceMot or kSourceBin
    std::string sha256;
    int records = -1;  // the S-records read; -1 for a binary image
};

// Reads and builds `filePath` as a download does, without a link, announcing
// the stages on `status`. On success `image` holds the image.
// `options` reach the session that reads the file (its openFailed hook, say).
DownloadOutcome PrepareGangImage(const std::string& filePath, StatusList& status, GangImage& image,
                                 const SessionOptions& options = {});

// One box of the gang. `status` receives that box's lines only, from the box's
// own thread; it must outlive the gang run.
struct GangBox {
    std::string linkName;
    StatusList* status = nullptr;
    SessionOptions options;
    // This box's own image (the gang's with its serial number written in); empty: the gang's.
    std::vector<std::uint8_t> ownImage{};
};

struct GangBoxResult {
    std::string linkName;
    DownloadOutcome outcome = DownloadOutcome::Cancelled;
    double seconds = 0;
    std::string lastError;  // the box's last "Error: " line, empty after a success
};

// Flashes `image` into every box at once, one session and one link per box, on
// a thread of its own; returns when all have ended, one result per box in
// their order. A box that fails, hangs up or falls silent ends only its own
// download; so does memory running out once the boxes have begun (that box
// ends with "Error: out of memory"). Throws std::bad_alloc only before any box is touched.
std::vector<GangBoxResult> RunGangDownload(const GangImage& image, const std::vector<GangBox>& boxes);

}  // namespace kestrel
