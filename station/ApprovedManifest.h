#pragma once

#include <cstddef>
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

// The SHA-256 of the file at `path` as lower-case hex. 0, or the errno of the failure.
int FileSha256(const std::string& path, std::string& hex);

}  // namespace kestrel
