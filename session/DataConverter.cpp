#include "session/DataConverter.h"

#include <algorithm>
#include <memory>

#include "builders/OutputDataBin.h"
#include "builders/OutputDataSelfProg.h"
#include "readers/ExtractDataBin.h"
#include "readers/ExtractDataMOT.h"
#include "session/SourceFile.h"

namespace kestrel {

DataConverter::DataConverter(StatusList& status, SessionOptions options)
    : statusList(status), options_(std::move(options)), clock_(options_.TimeBase()) {
    std::fill_n(OutputBuffer.begin(), kBinHeaderLength, 0);
}

DataConverter::~DataConverter() {
    if (serialLink) {
        serialLink->Close();
    }
    if (usbLink) {
        usbLink->Close();
    }
}

SourceFileRead DataConverter::ReadSource(const std::string& path) {
    if (!options_.source) {
        return ReadSourceFile(path, SourceBuffer.data(), kSourceBufferSize, sourceLength, sourceOpenError);
    }
    const SourceBytes& source = *options_.source;
    sourceOpenError = source.error;
    if (source.result == SourceFileRead::Read) {
        if (source.bytes.size() > kSourceBufferSize) {
            return SourceFileRead::TooLarge;
        }
        sourceLength = static_cast<std::uint32_t>(source.bytes.size());
        std::copy(source.bytes.begin(), source.bytes.end(), SourceBuffer.begin());
    }
    return source.result;
}

int DataConverter::LoadSourceFile(const std::string& path) {
    switch (ReadSource(path)) {
        case SourceFileRead::Read:
            break;
        case SourceFileRead::CannotOpen:
            statusList.AppendStatus("Error: cannot open sourcefile");
            ReportOpenFailed({.target = OpenFailure::Target::SourceFile, .name = path, .error = sourceOpenError});
            return kSourceCannotOpen;
        case SourceFileRead::TooLarge:
            sourceSizeLimit = kSourceBufferSize;
            statusList.AppendStatus("Error: sourcefile too large");
            return kSourceSizeRefused;
    }

    const std::uint8_t kind = SourceKindOf(path);
    if (kind == kSourceMot) {
        sourceKind = kSourceMot;
        reader = std::make_unique<ExtractDataMOT>();
        builder = std::make_unique<OutputDataSelfProg>();
        return 0;
    }
    if (kind != kSourceBin) {
        statusList.AppendStatus("Error: unknown sourcefile");
        return kSourceUnknownKind;
    }
    // A binary image is read back whole into the upper half of the output
    // buffer, and the box takes its first 30 bytes as the header.
    if (sourceLength > kVerifyBufferOffset) {
        sourceSizeLimit = kVerifyBufferOffset;
        statusList.AppendStatus("Error: sourcefile too large");
        return kSourceSizeRefused;
    }
    if (sourceLength < kBinHeaderLength) {
        statusList.AppendStatus("Error: sourcefile too short");
        return kSourceSizeRefused;
    }
    sourceKind = kSourceBin;
    reader = std::make_unique<ExtractDataBin>();
    builder = std::make_unique<OutputDataBin>();

    // Binary images go at their own line rate: the link opened before is opened again.
    // Without a link (an image built for a file only) there is nothing to reopen.
    if (!serialLink && !usbLink) {
        return 0;
    }
    if (serialLink) {
        serialLink->Close();
    }
    if (usbLink) {
        usbLink->Close();
    }
    const std::string name = interfaceName;
    // The handshake must not run on a link that failed to reopen: its line is appended.
    return OpenInterface(name, BaudRateForSource(kSourceBin)) == 0 ? 0 : kSourceReopenFailed;
}

int DataConverter::AnalyseSourceFile() {
    if (!reader) {
        return 0;
    }
    ExtractFailure failure;
    const int result = reader->extract(SourceBuffer.data(), records, sourceLength, &failure);
    if (result < 0) {
        const char* what = failure.kind == ExtractFailure::Kind::UnsupportedRecordType
                               ? "Error: unsupported record type in line "
                               : "Error: malformed record in line ";
        statusList.AppendStatus(what + std::to_string(failure.line));
        if (options_.sourceRefused) {
            options_.sourceRefused(failure);
        }
    }
    return result;
}

int DataConverter::BuildOutputData() {
    if (!builder) {
        statusList.AppendStatus("Error: unknown sourcefile");
        return kSourceUnknownKind;
    }
    // An image of nothing but 0xFF would erase the box and call it a success.
    const auto carriesData = [this] {
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (records.at(i).length > 0) {
                return true;
            }
        }
        return false;
    };
    if (sourceKind == kSourceMot && !carriesData()) {
        statusList.AppendStatus("Error: no data in sourcefile");
        return kBuildNoData;
    }
    const int result = builder->BuildOutput(records, OutputBuffer.data(), outputLength, kOutputBufferSize);
    switch (result) {
        case 0:
            break;
        case OutputData::kAddressOutsideWindow:
            statusList.AppendStatus("Error: address outside 0xE0000..0xFFFFF");
            break;
        case OutputData::kImageTooLarge:
            statusList.AppendStatus("Error: sourcefile too large");
            break;
        default:
            statusList.AppendStatus("Error: startaddress is not 0xE0000");
            break;
    }
    return result;
}

}  // namespace kestrel
