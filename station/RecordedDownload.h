#pragma once

#include <functional>
#include <string>

#include "session/DownloadWorkflow.h"
#include "station/SessionLog.h"

namespace kestrel {

class UsbDriver;

// RunDownload, or a stand-in with its signature.
using DownloadRunner = std::function<DownloadOutcome(const std::string& linkName, const std::string& filePath,
                                                     StatusList& status, const SessionOptions& options)>;

// Runs one download through `run` and fills `record` with what a session log
// keeps of it: the port and its identity, the image's size and digest, every
// status line with its time, the result. `status` sees every call as without
// the record. The port is looked up in the listing of `usb` (null: the system's).
DownloadOutcome RunRecordedDownload(const DownloadRunner& run, const std::string& linkName, const std::string& filePath,
                                    StatusList& status, SessionOptions options, SessionRecord& record,
                                    UsbDriver* usb = nullptr);

}  // namespace kestrel
