#pragma once

#include <QString>
#include <QStringList>

namespace ProcessStart {

// What a command line resolves to: the program to run and its arguments.
struct Resolved
{
    QString program;      // absolute path of the file to run; empty when nothing resolves
    QStringList arguments;
    bool batch = false;   // a ".bat" file, run through /bin/sh
    QString programDir;   // first on a batch file's search path
};

// Splits an unquoted command line the way the Windows loader does: the shortest run of
// leading blank-separated words that names a program file is the program. A bare name
// is looked up in programDir first, then on PATH.
Resolved resolve(const QString &commandLine, const QString &programDir);

// Starts the resolved program in its own process group and returns its id, 0 on failure.
// A batch file runs as "/bin/sh FILE" in the file's directory, with the program directory
// first on PATH, so that the commands beside the program win over the system's (our `net`
// over Samba's), wherever the batch file itself lies.
qint64 start(const Resolved &what);

// Waits for the end of a process with no time-out; false at once when it cannot be found.
bool wait(qint64 pid);

} // namespace ProcessStart
