#include "cli/Arguments.h"

namespace kestrel::cli {

Utf8Arguments::Utf8Arguments(int argc, char** argv) : arguments_(argv, argv + argc) {
    for (auto& argument : arguments_) {
        pointers_.push_back(argument.data());
    }
    pointers_.push_back(nullptr);
}

}  // namespace kestrel::cli
