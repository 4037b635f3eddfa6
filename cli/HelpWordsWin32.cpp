#include "cli/HelpWords.h"

namespace kestrel::cli {

const char* PortOptionHelp() {
    return "The link: USB (the first box on USB, through FTDI's D2XX driver FTD2XX.dll), USB:N or USB:SERIAL "
           "(that box only), or a COM port: COMn for any n (COM3, COM12) or its device name \\\\.\\COMn; "
           "given again, the boxes are flashed at once";
}

const char* CancelledByHelp() { return "Ctrl-C, Ctrl-Break, the console window closed"; }

}  // namespace kestrel::cli
