#pragma once

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "RunProcess.h"
#include "links/SerialLink.h"
#include "support/TempDir.h"

namespace kestrel::testing {

// kestrel-box as a separate process, reached through a link in a fresh directory.
struct BoxProcess {
    explicit BoxProcess(std::vector<std::string> scenario = {})
        : linkPath((dir.Path() / "box").string()), process([&] {
              std::vector<std::string> argv = {KESTREL_BOX, "--link", linkPath, "--save-image",
                                               (dir.Path() / "received-%d.bin").string()};
              argv.insert(argv.end(), scenario.begin(), scenario.end());
              return argv;
          }()) {}

    std::string SavedImage(int download) const { return (dir.Path() / ("received-" + std::to_string(download) + ".bin")).string(); }

    TempDir dir;
    std::string linkPath;
    BackgroundProcess process;
};

// The port is free: another program opens it at once. After a hang-up the box
// makes a new line and points its link there, which takes it a moment:
// `newLineMs` allows for that.
inline bool PortOpensAgain(const std::string& path, int newLineMs = 0) {
    for (int waited = 0;; waited += 20) {
        SerialLink link;
        const bool opened = link.Open(path, 115200, 0, 2, 8);
        link.Close();
        if (opened || waited >= newLineMs) {
            return opened;
        }
        ::usleep(20000);
    }
}

// The terminal settings of the device as any program finds them.
inline std::optional<termios> TerminalSettings(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    termios settings{};
    const bool read = ::tcgetattr(fd, &settings) == 0;
    ::close(fd);
    return read ? std::optional<termios>(settings) : std::nullopt;
}

}  // namespace kestrel::testing
