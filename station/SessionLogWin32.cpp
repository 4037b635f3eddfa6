#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "links/Utf16.h"
#include "station/SessionLogFile.h"

namespace kestrel {

std::tm UtcTime(std::time_t seconds) {
    std::tm utc{};
    gmtime_s(&utc, &seconds);
    return utc;
}

int AppendToFile(const std::string& path, const std::string& text) {
    // Binary: the record's line ends are written as they are, LF, as on every platform.
    const int fd = ::_wopen(WideFromUtf8(path).c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                            _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return errno;
    }
    std::size_t written = 0;
    int error = 0;
    while (written < text.size()) {
        const std::size_t chunk = std::min<std::size_t>(text.size() - written, INT_MAX);
        const int result = ::_write(fd, text.data() + written, static_cast<unsigned>(chunk));
        if (result < 0) {
            error = errno;
            break;
        }
        written += static_cast<std::size_t>(result);
    }
    if (::_close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

}  // namespace kestrel
