#pragma once

namespace kestrel::cli {

// On Windows, where the standard output or error is a console window, the C
// library's bytes for it (UTF-8, as all text of the tool) go through a pipe to
// a thread that writes them to the console as UTF-16, so that every name reads
// right whatever the console's code page; written whole before the program
// ends. To a file or pipe the bytes go as they are, UTF-8.
void WriteConsolesAsUtf16();
// The console that the standard stream `fd` shows on (1 or 2), else the
// system's handle of `fd`: what a question about the window asks.
void* ConsoleHandleOf(int fd);

}  // namespace kestrel::cli
