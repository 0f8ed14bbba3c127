#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs one program from PATH with an argument list (never through a shell), feeds it
// standard input and waits for it no longer than a bound. A program that overstays is
// killed together with everything it started.
class BoundedProcess final
{
public:
    struct Result
    {
        bool found = false; // the program is on PATH
        bool started = false;
        bool timedOut = false;
        int exitCode = -1; // -1 when it did not end normally
        QByteArray out;
        QByteArray err;
    };

    static Result run(const QString &program, const QStringList &arguments, const QByteArray &input, int timeoutMs);
};
