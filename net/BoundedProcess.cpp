#include "net/BoundedProcess.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <unistd.h>

BoundedProcess::Result BoundedProcess::run(
    const QString &program, const QStringList &arguments, const QByteArray &input, int timeoutMs)
{
    Result result;
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return result;
    result.found = true;

    QProcess process;
    // Its own process group, so that a time-out takes down anything it started too.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start(path, arguments);
    if (!process.waitForStarted(timeoutMs))
        return result;
    result.started = true;
    process.write(input);
    process.closeWriteChannel();

    QDeadlineTimer deadline(timeoutMs);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        process.waitForFinished(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    if (process.state() != QProcess::NotRunning) {
        result.timedOut = true;
        ::kill(-pid_t(process.processId()), SIGKILL);
        process.kill();
        process.waitForFinished(2000);
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    if (!result.timedOut && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}
