#include "session/DownloadWorkflow.h"

#include <memory>
#include <new>

#include "session/PrepareImage.h"

namespace kestrel {

namespace {

void Announce(StatusList& status, const std::string& line) {
    status.AppendStatus(line);
    status.RepaintNow();
}

DownloadOutcome FlashOutcome(int result) {
    switch (result) {
    case -5:
    case DataConverter::kFlashBoxNotAnswering:
        return DownloadOutcome::BoxSilent;
    case DataConverter::kFlashCancelled:
        return DownloadOutcome::Cancelled;
    default:
        return DownloadOutcome::BoxRefused;  // wrong type, refused length, erase or data
    }
}

DownloadOutcome VerifyOutcome(int result) {
    switch (result) {
    case DataConverter::kVerifyBoxNotAnswering:
        return DownloadOutcome::BoxSilent;
    case DataConverter::kVerifyCancelled:
        return DownloadOutcome::Cancelled;
    default:
        return DownloadOutcome::VerifyFailed;
    }
}

// The stages in their order. The session ends, and closes its link, when this returns or throws.
DownloadOutcome RunStages(const std::string& linkName, const std::string& filePath, StatusList& status,
                          const SessionOptions& options) {
    // About 1 MiB of fixed buffers: on the heap, not on the caller's stack.
    auto session = std::make_unique<DataConverter>(status, options);
    status.RepaintNow();
    status.Clear();

    Announce(status, "Opening interface... ");
    if (session->OpenInterface(linkName, 115200) != 0) {
        return DownloadOutcome::LinkFailed;
    }
    const DownloadOutcome prepared = PrepareImage(*session, filePath, status);
    if (prepared != DownloadOutcome::Success) {
        return prepared;
    }

    const int flashed = session->FlashData();
    if (flashed < 0) {
        return FlashOutcome(flashed);
    }
    if (flashed == 0) {
        Announce(status, "Reading data... ");
        const int verified = session->VerifyData();
        if (verified != 0) {
            return VerifyOutcome(verified);
        }
    }
    status.AppendStatus("FLASHING SUCCESSFULL");
    return DownloadOutcome::Success;
}

}  // namespace

DownloadOutcome RunDownload(const std::string& linkName, const std::string& filePath, StatusList& status,
                            const SessionOptions& options) {
    try {
        return RunStages(linkName, filePath, status, options);
    } catch (const std::bad_alloc&) {
        // The session is gone by now, its link closed; telling the user needs little memory.
        status.AppendStatus("Error: out of memory");
        return DownloadOutcome::DataFailed;
    }
}

}  // namespace kestrel
