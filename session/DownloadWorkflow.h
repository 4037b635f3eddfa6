#pragma once

#include <cstdint>
#include <string>

#include "session/DownloadOutcome.h"
#include "session/SessionOptions.h"
#include "session/SourceKind.h"
#include "session/StatusList.h"

namespace kestrel {

// One whole download: opens the link, reads and builds the file, runs the
// handshake and the read-back, and reports every stage on `status`. The session
// is ended and its link closed on every path, also when an exception escapes a stage.
DownloadOutcome RunDownload(const std::string& linkName, const std::string& filePath, StatusList& status,
                            const SessionOptions& options = {});

// The download of an image built before, which several boxes may share at the
// same time (it is only read): opens the link at the line rate of the image's
// kind (115200 baud, or 38400 for a binary image), then runs the handshake and
// the read-back as RunDownload does. `sourceKind` is DataConverter::kSourceMot
// or kSourceBin.
DownloadOutcome FlashPreparedImage(const std::string& linkName, const std::uint8_t* image, std::uint32_t length,
                                   std::uint8_t sourceKind, StatusList& status, const SessionOptions& options = {});

}  // namespace kestrel
