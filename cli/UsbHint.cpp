#include "cli/UsbHint.h"

#include "session/LinkNames.h"
#include "station/LinkOpenHint.h"

namespace kestrel::cli {

void PrintUsbHint(const std::string& linkName, std::FILE* out) {
    if (ChooseLink(linkName).kind != LinkChoice::Kind::Usb) {
        return;
    }
    if (const std::string hint = UsbOpenHint(); !hint.empty()) {
        std::fprintf(out, "kestrel-flash: %s\n", hint.c_str());
    }
}

}  // namespace kestrel::cli
