#pragma once

#include <QString>
#include <QStringList>

namespace kestrel {

// What `kestrel-loader [--port NAME] [FILE]` asks for.
struct CommandLine {
    QString port;  // empty: the dialog's own choice
    QString file;  // absolute; empty: none
    bool showHelp = false;
    bool showVersion = false;
    QString error;     // not empty: the arguments were refused
    QString helpText;  // the usage, for --help and with an error
};

// Parses `arguments` (the program name first). Does not look at the file system.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace kestrel
