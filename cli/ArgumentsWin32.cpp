#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include "base/Utf16.h"
#include "cli/Arguments.h"

namespace kestrel::cli {

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide != nullptr) {
        for (int i = 0; i < count; ++i) {
            arguments_.push_back(Utf8FromWide(wide[i]));
        }
        ::LocalFree(wide);
    } else {
        arguments_.assign(argv, argv + argc);
    }
    for (auto& argument : arguments_) {
        if (&argument != &arguments_.front() && argument == "/?") {
            argument = "--help";  // Windows' own way to ask a program for its help
        }
        pointers_.push_back(argument.data());
    }
    pointers_.push_back(nullptr);
}

}  // namespace kestrel::cli
