#pragma once

#include <string>

namespace kestrel::emulator {

// A pseudo-terminal pair in raw mode: the box drives the master side, the tool
// opens the slave side by its path as it would open a serial port. A slave
// descriptor stays open here, so that the tool closing its own does not hang
// the line up between two downloads.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // False with errno in Error(); a pair open before is closed first.
    bool Create();
    // Closing the master hangs the line up for every opener of the slave.
    void Close();

    bool IsOpen() const { return masterFd_ >= 0; }
    int MasterFd() const { return masterFd_; }  // non-blocking
    int SlaveFd() const { return slaveFd_; }
    const std::string& SlavePath() const { return slavePath_; }
    int Error() const { return error_; }

private:
    bool Fail();

    int masterFd_ = -1;
    int slaveFd_ = -1;
    std::string slavePath_;
    int error_ = 0;
};

}  // namespace kestrel::emulator
