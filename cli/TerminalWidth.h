#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kestrel::cli {

// The width of the terminal a stream is shown on, followed as the user
// resizes the window: a line redrawn in place must never wrap, or each redraw
// leaves its first part behind and the lines above scroll away.
class TerminalWidth {
public:
    explicit TerminalWidth(std::FILE* stream);
    // The terminal's columns now; 0 when the stream is no terminal or its width is unknown.
    int Columns();

private:
    int fd_;
    int columns_ = 0;
    unsigned seenResizes_ = 0;  // the resizes counted when columns_ was read
};

// Whether `stream` is shown on a terminal (a console window), where a line may be redrawn in place.
bool IsTerminal(std::FILE* stream);

// The first of `choices` (the fullest first) that fits a line redrawn on a
// terminal `columns` wide, else the last one cut to fit. The last column stays
// free: some terminals move to the next line as soon as it is written. With
// `columns` 0 (no terminal) the first choice, whole.
std::string FitColumns(const std::vector<std::string>& choices, int columns);

}  // namespace kestrel::cli
