#include "cli/SourceHints.h"

#include "readers/RecordTypeAdvice.h"

namespace kestrel::cli {

std::function<void(const ExtractFailure&)> RecordTypeHint(const std::string& file, std::FILE* out) {
    return [file, out](const ExtractFailure& failure) {
        if (failure.kind != ExtractFailure::Kind::UnsupportedRecordType) {
            return;
        }
        std::fprintf(out, "kestrel-flash: %s:%u: record type S%c is not supported: %s\n", file.c_str(),
                     static_cast<unsigned>(failure.line), failure.recordType,
                     RecordTypeAdvice(failure.recordType).c_str());
    };
}

void PrintSizeLimit(const std::string& file, std::uint32_t limit, std::FILE* out) {
    std::fprintf(out, "kestrel-flash: %s: more than %u bytes, the most a file of its kind may have\n", file.c_str(),
                 static_cast<unsigned>(limit));
}

}  // namespace kestrel::cli
