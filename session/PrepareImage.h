#pragma once

#include <string>

#include "session/DataConverter.h"
#include "session/DownloadOutcome.h"
#include "session/StatusList.h"

namespace kestrel {

// Loads, analyses and builds the firmware file on `session`, announcing each
// stage on `status` as a download does. Success leaves the image in
// session.OutputBuffer, session.outputLength bytes long. Otherwise the failing
// stage has appended its "Error: " line; LinkFailed means that the link, opened
// again for a binary image, did not open.
DownloadOutcome PrepareImage(DataConverter& session, const std::string& filePath, StatusList& status);

}  // namespace kestrel
