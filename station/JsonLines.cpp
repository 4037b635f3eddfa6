#include "station/JsonLines.h"

#include <charconv>
#include <cmath>

namespace kestrel {

namespace {

// Length of the valid UTF-8 sequence at `at`, or 0 when there is none.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    std::uint32_t code = lead & (0x3F >> (length - 1));
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < lowest || code > 0x10FFFF || surrogate ? 0 : length;
}

void AppendUnicodeEscape(std::string& out, unsigned code) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\u00";
    out += kDigits[(code >> 4) & 0x0F];
    out += kDigits[code & 0x0F];
}

const char* StageName(ProgressStage stage) { return stage == ProgressStage::WritingData ? "writing" : "reading-back"; }

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            if (const std::size_t length = Utf8SequenceLength(text, i); length > 0) {
                out.append(text, i, length);
                i += length;
            } else {
                AppendUnicodeEscape(out, byte);
                ++i;
            }
            continue;
        }
        switch (byte) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    AppendUnicodeEscape(out, byte);
                } else {
                    out += static_cast<char>(byte);
                }
                break;
        }
        ++i;
    }
    return out + "\"";
}

void JsonObject::Key(const char* key) {
    if (text_.size() > 1) {
        text_ += ',';
    }
    text_ += JsonString(key);
    text_ += ':';
}

JsonObject& JsonObject::Add(const char* key, const std::string& value) {
    Key(key);
    text_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::Add(const char* key, const char* value) { return Add(key, std::string(value)); }

JsonObject& JsonObject::Add(const char* key, std::int64_t value) {
    Key(key);
    text_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(const char* key, double value) {
    if (!std::isfinite(value)) {
        return AddNull(key);
    }
    Key(key);
    char buffer[64];
    // Independent of the locale: a decimal point, whatever the user's language.
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    text_.append(buffer, error == std::errc{} ? end : buffer);
    return *this;
}

JsonObject& JsonObject::AddNull(const char* key) {
    Key(key);
    text_ += "null";
    return *this;
}

JsonObject& JsonObject::AddBool(const char* key, bool value) {
    Key(key);
    text_ += value ? "true" : "false";
    return *this;
}

void JsonLineWriter::WriteLine(const std::string& line) {
    std::lock_guard lock(mutex_);
    out_ << line << '\n';
    out_.flush();
}

const char* OutcomeName(DownloadOutcome outcome) {
    switch (outcome) {
        case DownloadOutcome::Success:
            return "success";
        case DownloadOutcome::LinkFailed:
            return "link-failed";
        case DownloadOutcome::FileFailed:
            return "file-failed";
        case DownloadOutcome::DataFailed:
            return "data-failed";
        case DownloadOutcome::BoxRefused:
            return "box-refused";
        case DownloadOutcome::BoxSilent:
            return "box-silent";
        case DownloadOutcome::VerifyFailed:
            return "verify-failed";
        case DownloadOutcome::Cancelled:
            return "cancelled";
    }
    return "unknown";
}

JsonLinesStatusList::JsonLinesStatusList(JsonLineWriter& writer, StatusList* inner, std::string port, Clock& clock)
    : ForwardingStatusList(inner), writer_(writer), port_(std::move(port)), clock_(clock), startMs_(clock.TickMs()) {}

JsonObject JsonLinesStatusList::Event(const char* name) {
    JsonObject object;
    object.Add("event", name).Add("schema", std::int64_t{kRecordSchema});
    if (!port_.empty()) {
        object.Add("port", port_);
    }
    object.Add("t", static_cast<std::uint32_t>(clock_.TickMs() - startMs_) / 1000.0);
    object.Add("operator", trace_.operatorName).Add("station", trace_.station).Add("lot", trace_.lot);
    if (trace_.attempt > 0) {
        object.Add("attempt", std::int64_t{trace_.attempt});
    } else {
        object.AddNull("attempt");  // the file's preparation for a gang: no one box's try
    }
    return object;
}

JsonObject& JsonLinesStatusList::AddApproval(JsonObject& object) const {
    if (trace_.manifest.empty()) {
        object.AddNull("manifest").AddNull("approved_sha256");
    } else {
        object.Add("manifest", trace_.manifest).Add("approved_sha256", trace_.approvedSha256);
    }
    // What this box received of its own, beside what every box of the lot shares.
    const auto addOrNull = [&object](const char* key, const std::string& value) {
        value.empty() ? object.AddNull(key) : object.Add(key, value);
    };
    addOrNull("firmware_sha256", trace_.firmwareSha256);
    addOrNull("serial", trace_.serial);
    addOrNull("unit", trace_.unit);
    addOrNull("label", trace_.label);
    return object.AddBool("rework", trace_.rework);
}

void JsonLinesStatusList::Started(const std::string& filePath) {
    JsonObject object = Event("started");
    object.Add("file", filePath);
    writer_.WriteLine(AddApproval(object).Text());
}

void JsonLinesStatusList::AppendStatus(const std::string& line) {
    writer_.WriteLine(Event("status").Add("line", line).Text());
    ForwardingStatusList::AppendStatus(line);
}

void JsonLinesStatusList::Progress(ProgressStage stage, std::uint32_t done, std::uint32_t total) {
    const std::uint32_t nowMs = clock_.TickMs();
    if (stage_ != stage || done == 0) {
        stage_ = stage;
        stageStartMs_ = nowMs;
    }
    JsonObject object = Event("progress");
    object.Add("stage", StageName(stage)).Add("done", std::int64_t{done}).Add("total", std::int64_t{total});
    const std::uint32_t elapsedMs = nowMs - stageStartMs_;
    // No rate before time has passed: a guess from one piece would mislead.
    if (elapsedMs > 0 && done > 0) {
        const double rate = done * 1000.0 / elapsedMs;
        object.Add("rate", rate).Add("left", total > done ? (total - done) / rate : 0.0);
    } else {
        object.AddNull("rate").AddNull("left");
    }
    writer_.WriteLine(object.Text());
    ForwardingStatusList::Progress(stage, done, total);
}

void JsonLinesStatusList::Result(DownloadOutcome outcome, int exitStatus, const std::string& imageSha256,
                                 double seconds) {
    Result(std::string(OutcomeName(outcome)), exitStatus, imageSha256, seconds);
}

void JsonLinesStatusList::Result(const std::string& outcome, int exitStatus, const std::string& imageSha256,
                                 double seconds) {
    JsonObject object = Event("result");
    object.Add("outcome", outcome).Add("exit", std::int64_t{exitStatus});
    if (imageSha256.empty()) {
        object.AddNull("sha256");
    } else {
        object.Add("sha256", imageSha256);
    }
    object.Add("seconds", seconds);
    writer_.WriteLine(AddApproval(object).Text());
}

}  // namespace kestrel
