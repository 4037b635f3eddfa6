#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>

namespace kestrel {

// The firmware a line may flash: the SHA-256 digests of a manifest in
// sha256sum's format, one "HEX  NAME" (or "HEX *NAME") a line, or as Windows'
// `certutil -hashfile FILE SHA256` prints it (a line of the digest, its bytes
// apart by blanks or not, between "SHA256 hash of FILE:" and "CertUtil: ...").
// UTF-8 (with or without a byte order mark) or UTF-16 with its byte order
// mark, as Windows' tools write text. The names are not compared: a released
// file is known by its content wherever it lies.
struct ApprovedManifest {
    std::set<std::string> digests;  // lower-case hex

    bool Lists(const std::string& sha256) const { return digests.count(sha256) != 0; }
};

struct ManifestError {
    int error = 0;             // errno when the file could not be read
    std::size_t badLine = 0;   // from 1: a line that is not a digest and a name
    std::string badText;       // that line, as read (cut short)
    std::string encoding;      // what the file was read as, when not plain UTF-8: "UTF-16LE", ...
    bool undecodable = false;  // not text in any encoding taken
    bool empty = false;        // no digest at all: nothing could be flashed
    explicit operator bool() const { return error != 0 || badLine != 0 || undecodable || empty; }
};
// Why a manifest at `path` cannot be read, for the line that refuses it.
std::string DescribeManifestError(const std::string& path, const ManifestError& error);

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
