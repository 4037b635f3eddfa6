#pragma once

namespace kestrel::cli {

// The words of --help that name things of this system: its serial ports, its
// USB driver, and how a running download is interrupted.
const char* PortOptionHelp();
const char* CancelledByHelp();

}  // namespace kestrel::cli
