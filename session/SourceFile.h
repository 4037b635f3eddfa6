#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

enum class SourceFileRead { Read, CannotOpen, TooLarge };

// Reads the whole file at `path` into `buffer`, at most `capacity` bytes, and
// sets `length`. Anything but a regular file (or a link to one) is refused at
// once, without blocking: a FIFO or a device would hold the download, and with
// it the open port, for as long as nobody writes to it. On CannotOpen `error`
// holds the system's reason (EISDIR for a directory, EINVAL for another thing
// that is no regular file).
SourceFileRead ReadSourceFile(const std::string& path, std::uint8_t* buffer, std::uint32_t capacity,
                              std::uint32_t& length, int& error);

// A firmware file read once, so that every session of a lot builds from the
// same bytes, whatever becomes of the file on disk meanwhile.
struct SourceBytes {
    SourceFileRead result = SourceFileRead::CannotOpen;
    int error = 0;  // the system's reason when it could not be read
    std::vector<std::uint8_t> bytes;
};

// The file at `path` as ReadSourceFile reads it, at most `capacity` bytes.
SourceBytes ReadSourceBytes(const std::string& path, std::uint32_t capacity);

// For a reader of any file (a manifest, a log, the firmware's digest), before it
// opens one: EISDIR for a directory, EINVAL for anything else that is no regular
// file (opening a FIFO would block), else 0, leaving a missing file to the open.
int NotRegularFileError(const std::string& path);

// The reason to show for an error of a file reader: EINVAL, as these readers
// set it, is "not a regular file", which the system's own text would not say.
std::string FileErrorText(int error);

}  // namespace kestrel
