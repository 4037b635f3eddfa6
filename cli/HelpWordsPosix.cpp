#include "cli/HelpWords.h"

namespace kestrel::cli {

const char* PortOptionHelp() {
    return "The link: USB (the first box on USB, through libftdi1), USB:N or USB:SERIAL (that box only), COMn "
           "(/dev/ttyS(n-1)), or a device path, which holds a / (/dev/ttyUSB0, ./A); another word is refused; given "
           "again, the boxes are flashed at once";
}

const char* CancelledByHelp() { return "SIGINT, SIGTERM, SIGHUP"; }

}  // namespace kestrel::cli
