#pragma once

namespace kestrel {

// How a download ended, as a front end needs to tell it apart.
enum class DownloadOutcome {
    Success,
    LinkFailed,    // the link could not be opened or selected
    FileFailed,    // the firmware file could not be read or has the wrong kind or size
    DataFailed,    // the file's content cannot be turned into an image
    BoxRefused,    // the box announced another firmware type or refused a step
    BoxSilent,     // the box stopped answering or went away
    VerifyFailed,  // the read-back differed from the image
    Cancelled,
};

}  // namespace kestrel
