#include "session/DownloadWorkflow.h"

#include <algorithm>
#include <memory>
#include <new>

#include "session/PrepareImage.h"

namespace kestrel {

namespace {

void Announce(StatusList& status, const std::string& line) {
    status.AppendStatus(line);
    status.RepaintNow();
}

void AnnounceOpening(StatusList& status) {
    status.AppendStatus("Opening interface... ");
    status.StageStarted(SessionStage::OpeningLink);
    status.RepaintNow();
}

DownloadOutcome FlashOutcome(int result) {
    switch (result) {
        case DataConverter::kFlashSyncTimeout:
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

// The handshake and the read-back on a session whose link is open and image built.
DownloadOutcome FlashAndVerify(DataConverter& session, StatusList& status) {
    const int flashed = session.FlashData();
    if (flashed < 0) {
        return FlashOutcome(flashed);
    }
    if (flashed == 0) {
        Announce(status, "Reading data... ");
        const int verified = session.VerifyData();
        if (verified != 0) {
            return VerifyOutcome(verified);
        }
    }
    status.AppendStatus("FLASHING SUCCESSFULL");
    return DownloadOutcome::Success;
}

// The stages in their order. The session ends, and closes its link, when this returns or throws.
DownloadOutcome RunStages(const std::string& linkName, const std::string& filePath, StatusList& status,
                          const SessionOptions& options) {
    // About 1 MiB of fixed buffers: on the heap, not on the caller's stack.
    auto session = std::make_unique<DataConverter>(status, options);
    status.RepaintNow();
    status.Clear();

    AnnounceOpening(status);
    // The file's kind is not known yet: the link opens at the S-record rate,
    // and loading a binary image opens it again at its own.
    if (session->OpenInterface(linkName, BaudRateForSource(kSourceKindMot)) != 0) {
        return DownloadOutcome::LinkFailed;
    }
    const DownloadOutcome prepared = PrepareImage(*session, filePath, status);
    if (prepared != DownloadOutcome::Success) {
        return prepared;
    }
    if (options.personalise) {
        options.personalise(session->OutputBuffer.data(), session->outputLength);
    }
    if (options.imageReady) {
        options.imageReady(session->OutputBuffer.data(), session->outputLength, session->sourceKind);
    }
    return FlashAndVerify(*session, status);
}

DownloadOutcome RunPreparedStages(const std::string& linkName, const std::uint8_t* image, std::uint32_t length,
                                  std::uint8_t sourceKind, StatusList& status, const SessionOptions& options) {
    auto session = std::make_unique<DataConverter>(status, options);
    status.RepaintNow();
    status.Clear();

    AnnounceOpening(status);
    if (session->OpenInterface(linkName, BaudRateForSource(sourceKind)) != 0) {
        return DownloadOutcome::LinkFailed;
    }
    if (length > session->OutputBuffer.size()) {
        status.AppendStatus("Error: sourcefile too large");
        return DownloadOutcome::DataFailed;
    }
    std::copy(image, image + length, session->OutputBuffer.begin());
    session->outputLength = length;
    session->sourceKind = sourceKind;
    return FlashAndVerify(*session, status);
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

DownloadOutcome FlashPreparedImage(const std::string& linkName, const std::uint8_t* image, std::uint32_t length,
                                   std::uint8_t sourceKind, StatusList& status, const SessionOptions& options) {
    try {
        return RunPreparedStages(linkName, image, length, sourceKind, status, options);
    } catch (const std::bad_alloc&) {
        status.AppendStatus("Error: out of memory");
        return DownloadOutcome::DataFailed;
    }
}

}  // namespace kestrel
