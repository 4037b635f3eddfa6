#include <windows.h>

#include "base/Environment.h"
#include "base/Utf16.h"

namespace kestrel {

std::optional<std::string> EnvironmentValue(const std::string& name) {
    const std::wstring wideName = WideFromUtf8(name);
    ::SetLastError(ERROR_SUCCESS);
    DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        // Unset, or set empty: only the error tells them apart.
        return ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt : std::optional<std::string>("");
    }
    std::wstring value(size, L'\0');
    size = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    value.resize(size);
    return Utf8FromWide(value);
}

}  // namespace kestrel
