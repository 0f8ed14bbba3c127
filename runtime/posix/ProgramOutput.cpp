#include "runtime/ProgramOutput.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace ProgramOutput {

Result run(
    const QString &program, const QStringList &arguments, const QString &workDir, int timeoutMs, qsizetype maxBytes)
{
    QProcess child;
    child.setProgram(program);
    child.setArguments(arguments);
    child.setWorkingDirectory(workDir);
    child.setStandardInputFile(QProcess::nullDevice());

    Result result;
    bool tooMuch = false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&child, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    QObject::connect(&child, &QProcess::readyReadStandardOutput, &loop, [&] {
        result.out += child.readAllStandardOutput();
        if (result.out.size() > maxBytes) {
            tooMuch = true;
            loop.quit();
        }
    });
    child.start();
    deadline.start(timeoutMs);
    // Windows repaint meanwhile; keys and clicks wait until the answer is in.
    if (child.state() != QProcess::NotRunning || child.error() != QProcess::FailedToStart)
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (child.state() != QProcess::NotRunning) {
        // Asked to stop first, so that it can take its own children down; killed only if it does not.
        child.terminate();
        if (!child.waitForFinished(1000)) {
            child.kill();
            child.waitForFinished(1000);
        }
        result.end = tooMuch ? Result::End::TooMuchOutput : Result::End::TimedOut;
        return result;
    }
    if (child.error() == QProcess::FailedToStart) {
        result.end = Result::End::FailedToStart;
        return result;
    }
    result.out += child.readAllStandardOutput();
    if (result.out.size() > maxBytes) {
        result.end = Result::End::TooMuchOutput;
        return result;
    }
    result.end = child.exitStatus() == QProcess::NormalExit ? Result::End::Finished : Result::End::Crashed;
    result.exitCode = child.exitCode();
    result.err = child.readAllStandardError().left(maxBytes);
    return result;
}

} // namespace ProgramOutput
