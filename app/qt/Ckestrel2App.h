#pragma once

#include <optional>

#include <QApplication>

namespace kestrel {

// The tool: prepares the toolkit, runs the dialog modally, and ends with it.
class Ckestrel2App : public QApplication {
    Q_OBJECT
public:
    Ckestrel2App(int& argc, char** argv);

    // Start-up, the dialog, exit; the process's exit status (2: the command
    // line was refused). Nothing is read at start or saved at exit.
    int Run();
};

// What the command line asks that needs no window (--help, --version, a refused
// command line) answered before a window system is needed, with the exit
// status; nothing when the dialog is to run.
std::optional<int> AnswerWithoutWindow(int& argc, char** argv);

}  // namespace kestrel
