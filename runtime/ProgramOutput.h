#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs a program and gathers what it writes, for a caller that needs its answer before going
// on: the windows keep repainting meanwhile while keys and clicks wait, and both the time
// and the output are bounded.
namespace ProgramOutput {

struct Result
{
    enum class End {
        Finished, // ended by itself; exitCode says how
        Crashed,
        FailedToStart,
        TimedOut, // still running at the deadline: asked to stop, then killed
        TooMuchOutput, // wrote more than the bound to its standard output
    };
    End end = End::FailedToStart;
    int exitCode = -1;
    QByteArray out; // standard output
    QByteArray err; // standard error, at most the bound; only once it has ended by itself
};

// Starts program with arguments in workDir, standard input empty, and waits for it no longer
// than timeoutMs.
Result run(
    const QString &program, const QStringList &arguments, const QString &workDir, int timeoutMs, qsizetype maxBytes);

} // namespace ProgramOutput
