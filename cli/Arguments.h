#pragma once

#include <string>
#include <vector>

namespace kestrel::cli {

// The program's arguments in UTF-8, as the rest of the tool takes text. On
// Windows main's own arguments are in the local code page, so they are taken
// from the system's UTF-16 command line instead, and "/?" asks for the help as
// Windows programs take it.
class Utf8Arguments {
public:
    Utf8Arguments(int argc, char** argv);
    int Count() const { return static_cast<int>(pointers_.size()) - 1; }
    char** Values() { return pointers_.data(); }

private:
    std::vector<std::string> arguments_;
    std::vector<char*> pointers_;  // into arguments_, then a null pointer as argv has
};

}  // namespace kestrel::cli
