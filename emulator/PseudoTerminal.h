#pragma once

#include <string>

#include "base/UniqueFd.h"

namespace kestrel::emulator {

// A pseudo-terminal pair in raw mode: the box drives the master side, the tool
// opens the slave side by its path as it would open a serial port. A slave
// descriptor stays open here, so that the tool closing its own does not hang
// the line up between two downloads.
class PseudoTerminal {
public:
    // False with errno in Error(); a pair open before is closed first.
    bool Create();
    // Closing the master hangs the line up for every opener of the slave.
    void Close();

    bool IsOpen() const { return static_cast<bool>(master_); }
    int MasterFd() const { return master_.Get(); }  // non-blocking
    int SlaveFd() const { return slave_.Get(); }
    const std::string& SlavePath() const { return slavePath_; }
    int Error() const { return error_; }

private:
    bool Fail();

    UniqueFd master_;
    UniqueFd slave_;
    std::string slavePath_;
    int error_ = 0;
};

}  // namespace kestrel::emulator
