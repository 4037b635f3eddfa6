#include "station/ApprovedManifest.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/FileOpen.h"
#include "session/SourceFile.h"
#include "station/Sha256.h"

namespace kestrel {

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The digest of one manifest line, lower-cased; empty when the line is not "HEX  NAME" or "HEX *NAME". sha256sum
// starts a line with a backslash when it escaped its name.
std::string DigestOfLine(std::string line) {
    if (line.ends_with('\r')) {
        line.pop_back();
    }
    const std::size_t at = line.starts_with('\\') ? 1 : 0;
    if (line.size() < at + 64 + 3 || line[at + 64] != ' ' || (line[at + 65] != ' ' && line[at + 65] != '*')) {
        return {};
    }
    std::string digest = line.substr(at, 64);
    for (char& c : digest) {
        if (!IsHexDigit(c)) {
            return {};
        }
        c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    return digest;
}

}  // namespace

int ReadFileInParts(const std::string& path, const std::function<void(const char*, std::size_t)>& part) {
    // Refused before the open: a FIFO would block it, and a directory opens and then fails its first read.
    if (const int error = NotRegularFileError(path); error != 0) {
        return error;
    }
    const UniqueFile file(OpenFile(path, "rb"));
    if (!file) {
        return errno != 0 ? errno : EIO;
    }
    std::vector<char> buffer(65536);
    std::size_t count = 0;
    errno = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        part(buffer.data(), count);
    }
    return std::ferror(file.get()) ? (errno != 0 ? errno : EIO) : 0;
}

int ReadWholeFile(const std::string& path, std::string& text) {
    return ReadFileInParts(path, [&text](const char* bytes, std::size_t count) { text.append(bytes, count); });
}

ManifestError ReadApprovedManifest(const std::string& path, ApprovedManifest& manifest) {
    ManifestError result;
    std::string text;
    if ((result.error = ReadWholeFile(path, text)) != 0) {
        return result;
    }
    std::size_t number = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (line.empty() || line == "\r") {
            continue;  // a blank line names nothing, as sha256sum lets it
        }
        const std::string digest = DigestOfLine(line);
        if (digest.empty()) {
            result.badLine = number;
            return result;
        }
        manifest.digests.insert(digest);
    }
    result.empty = manifest.digests.empty();
    return result;
}

int FileSha256(const std::string& path, std::string& hex) {
    Sha256 digest;
    const int error = ReadFileInParts(path, [&digest](const char* bytes, std::size_t count) {
        digest.Update(reinterpret_cast<const std::uint8_t*>(bytes), count);
    });
    if (error != 0) {
        return error;
    }
    hex = Sha256::ToHex(digest.Finish());
    return 0;
}

}  // namespace kestrel
