#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>

namespace kestrel {

// The firmware a line may flash: the SHA-256 digests of a manifest in
// sha256sum's format, one "HEX  NAME" (or "HEX *NAME") a line. The names are
// not compared: a released file is known by its content wherever it lies.
struct ApprovedManifest {
    std::set<std::string> digests;  // lower-case hex

    bool Lists(const std::string& sha256) const { return digests.count(sha256) != 0; }
};

struct ManifestError {
    int error = 0;            // errno when the file could not be read
    std::size_t badLine = 0;  // from 1: a line that is not a digest and a name
    bool empty = false;       // no digest at all: nothing could be flashed
    explicit operator bool() const { return error != 0 || badLine != 0 || empty; }
};

ManifestError ReadApprovedManifest(const std::string& path, ApprovedManifest& manifest);

// Reads the regular file at `path` and hands each part of it to `part`; 0, or
// the errno of the failure (EISDIR, EINVAL for what is no regular file, see
// NotRegularFileError).
int ReadFileInParts(const std::string& path, const std::function<void(const char*, std::size_t)>& part);
// The whole of the regular file at `path` into `text`; 0 or the errno, as above.
int ReadWholeFile(const std::string& path, std::string& text);

// The SHA-256 of the file at `path` as lower-case hex. 0, or the errno of the failure.
int FileSha256(const std::string& path, std::string& hex);

}  // namespace kestrel
