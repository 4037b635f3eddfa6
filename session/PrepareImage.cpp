#include "session/PrepareImage.h"

#include <cstdio>

namespace kestrel {

namespace {

void Announce(StatusList& status, const std::string& line) {
    status.AppendStatus(line);
    status.RepaintNow();
}

}  // namespace

DownloadOutcome PrepareImage(DataConverter& session, const std::string& filePath, StatusList& status) {
    Announce(status, "Loading sourcefile... ");
    const int loaded = session.LoadSourceFile(filePath);
    if (loaded != 0) {
        return loaded == DataConverter::kSourceReopenFailed ? DownloadOutcome::LinkFailed : DownloadOutcome::FileFailed;
    }

    Announce(status, "Analysing sourcefile... ");
    const int lines = session.AnalyseSourceFile();
    if (lines < 0) {
        return DownloadOutcome::DataFailed;
    }
    char countLine[32];
    std::snprintf(countLine, sizeof countLine, "%i lines interpreted", lines);
    Announce(status, countLine);

    Announce(status, "Building output data... ");
    if (session.BuildOutputData() != 0) {
        return DownloadOutcome::DataFailed;
    }
    status.ApplyScrollRule();
    status.RepaintNow();
    return DownloadOutcome::Success;
}

}  // namespace kestrel
