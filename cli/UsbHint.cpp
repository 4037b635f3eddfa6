#include "cli/UsbHint.h"

#include "session/LinkNames.h"

namespace kestrel::cli {

void PrintUsbHint(const std::string& linkName, std::FILE* out) {
    if (ChooseLink(linkName).kind != LinkChoice::Kind::Usb) {
        return;
    }
    if (const char* hint = UsbProblemHint(SystemUsbDriver().LastOpenProblem())) {
        std::fputs(hint, out);
    }
}

}  // namespace kestrel::cli
