#include "station/ApprovedManifest.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/FileOpen.h"
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

ManifestError ReadApprovedManifest(const std::string& path, ApprovedManifest& manifest) {
    ManifestError result;
    const UniqueFile file(OpenFile(path, "rb"));
    if (!file) {
        result.error = errno != 0 ? errno : EIO;
        return result;
    }
    std::string text;
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, count);
    }
    if (std::ferror(file.get())) {
        result.error = EIO;
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
    const UniqueFile file(OpenFile(path, "rb"));
    if (!file) {
        return errno != 0 ? errno : EIO;
    }
    Sha256 digest;
    std::vector<std::uint8_t> buffer(65536);
    std::size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        digest.Update(buffer.data(), count);
    }
    if (std::ferror(file.get())) {
        return EIO;
    }
    hex = Sha256::ToHex(digest.Finish());
    return 0;
}

}  // namespace kestrel
