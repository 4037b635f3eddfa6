#pragma once

#include <cstdio>
#include <string>

namespace kestrel::cli {

// After a failed open of a USB link: what the driver knows of the reason, in
// words a user can act on (plug in, permissions, another program, a missing
// driver). Nothing for other links or when the driver knows no more than the
// status line said.
void PrintUsbHint(const std::string& linkName, std::FILE* out);

// After a serial link refused with `openError`: for EACCES, the device's group
// and how to join it. Nothing for other errors or links.
void PrintSerialPermissionHint(const std::string& linkName, int openError, std::FILE* out);

}  // namespace kestrel::cli
