#include "station/ApprovedManifest.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/FileOpen.h"
#include "session/SourceFile.h"
#include "station/Sha256.h"

namespace kestrel {

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Hex digits in lower case; empty when any is none.
std::string LowerHex(std::string digest) {
    for (char& c : digest) {
        if (!IsHexDigit(c)) {
            return {};
        }
        c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    return digest;
}

// The digest of one manifest line, lower-cased; empty when the line is not "HEX  NAME" or "HEX *NAME". sha256sum
// starts a line with a backslash when it escaped its name.
std::string DigestOfLine(const std::string& line) {
    const std::size_t at = line.starts_with('\\') ? 1 : 0;
    if (line.size() < at + 64 + 3 || line[at + 64] != ' ' || (line[at + 65] != ' ' && line[at + 65] != '*')) {
        return {};
    }
    return LowerHex(line.substr(at, 64));
}

// certutil -hashfile prints the digest alone on a line, its bytes apart by single blanks in older Windows.
std::string CertutilDigest(const std::string& line) {
    if (line.size() == 64) {
        return LowerHex(line);
    }
    if (line.size() != 32 * 3 - 1) {
        return {};
    }
    std::string digest;
    for (std::size_t at = 0; at < line.size(); at += 3) {
        if (at + 2 < line.size() && line[at + 2] != ' ') {
            return {};
        }
        digest += line.substr(at, 2);
    }
    return LowerHex(digest);
}

// The lines around certutil's digest: "SHA256 hash of FILE:" (or "of file FILE:") and "CertUtil: ...".
bool IsCertutilFrame(const std::string& line) {
    return (line.starts_with("SHA256 hash of ") && line.ends_with(":")) || line.starts_with("CertUtil: ");
}

// UTF-16 text of either order (after its byte order mark) as UTF-8.
std::string Utf8FromUtf16(const std::string& bytes, bool bigEndian) {
    std::string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = [&](std::size_t at) {
            const auto high = static_cast<unsigned char>(bytes[at + (bigEndian ? 0 : 1)]);
            const auto low = static_cast<unsigned char>(bytes[at + (bigEndian ? 1 : 0)]);
            return static_cast<std::uint32_t>(high << 8 | low);
        };
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        }
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | code >> 6);
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | code >> 12);
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | code >> 18);
            text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}

// The manifest's text as UTF-8, as Windows' tools may have written it: with a
// byte order mark (Notepad), or in UTF-16 (PowerShell's redirection); false
// for what is no text (a NUL byte left). `encoding` names what was taken.
bool DecodeManifestText(std::string& text, std::string& encoding) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.erase(0, 3);
        encoding = "UTF-8 with a byte order mark";
    } else if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        const bool bigEndian = text[0] == '\xFE';
        if (text.size() % 2 != 0) {
            encoding = bigEndian ? "UTF-16BE" : "UTF-16LE";
            return false;
        }
        text = Utf8FromUtf16(text.substr(2), bigEndian);
        encoding = bigEndian ? "UTF-16BE" : "UTF-16LE";
    }
    return text.find('\0') == std::string::npos;
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
    if (!DecodeManifestText(text, result.encoding)) {
        result.undecodable = true;
        return result;
    }
    std::size_t number = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        if (line.empty() || IsCertutilFrame(line)) {
            continue;  // a blank line names nothing, as sha256sum lets it; certutil's own lines name no digest
        }
        std::string digest = DigestOfLine(line);
        if (digest.empty()) {
            digest = CertutilDigest(line);
        }
        if (digest.empty()) {
            result.badLine = number;
            result.badText = line.size() > 60 ? line.substr(0, 57) + "..." : line;
            return result;
        }
        manifest.digests.insert(digest);
    }
    result.empty = manifest.digests.empty();
    return result;
}

std::string DescribeManifestError(const std::string& path, const ManifestError& error) {
    if (error.undecodable) {
        return "the approved manifest " + path + " is not text (UTF-8, or UTF-16 with its byte order mark)";
    }
    if (error.badLine != 0) {
        return path + ":" + std::to_string(error.badLine) + ": \"" + error.badText +
               "\" is not a line of a SHA-256 manifest (64 hex digits, two blanks or a blank and '*', the file's "
               "name; or certutil -hashfile's output)" +
               (error.encoding.empty() ? "" : "; the file was read as " + error.encoding);
    }
    return "the approved manifest " + path + " lists no firmware";
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
