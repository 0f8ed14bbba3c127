#include "runtime/posix/ProcessStart.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

namespace ProcessStart {

namespace {

bool isBatch(const QString &path)
{
    return path.endsWith(QLatin1String(".bat"), Qt::CaseInsensitive);
}

bool runnable(const QFileInfo &info)
{
    if (!info.isFile())
        return false;
    return isBatch(info.filePath()) || info.isExecutable();
}

// Absolute path of a program word, or empty.
QString lookUp(const QString &word, const QString &programDir)
{
    if (word.isEmpty())
        return {};
    if (word.contains(QLatin1Char('/'))) {
        const QFileInfo info(word);
        return runnable(info) ? info.absoluteFilePath() : QString();
    }
    QStringList dirs{programDir};
    dirs += QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &dir : std::as_const(dirs)) {
        if (dir.isEmpty())
            continue;
        const QFileInfo info(QDir(dir).filePath(word));
        if (runnable(info))
            return info.absoluteFilePath();
    }
    return {};
}

// Whether the process exists and has not ended (a zombie has ended).
bool alive(pid_t pid)
{
    if (::kill(pid, 0) != 0 && errno != EPERM)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    // The state letter follows the command name, which is in parentheses and may hold blanks.
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() || line.at(close + 2) != 'Z';
}

} // namespace

Resolved resolve(const QString &commandLine, const QString &programDir)
{
    const QStringList words = commandLine.split(QLatin1Char(' '));
    Resolved result;
    result.programDir = programDir;
    QString candidate;
    for (int k = 0; k < words.size(); ++k) {
        candidate = k == 0 ? words.at(0) : candidate + QLatin1Char(' ') + words.at(k);
        if (candidate.trimmed().isEmpty())
            continue;
        const QString found = lookUp(candidate, programDir);
        if (found.isEmpty())
            continue;
        result.program = found;
        result.batch = isBatch(found);
        for (int j = k + 1; j < words.size(); ++j) {
            if (!words.at(j).isEmpty())
                result.arguments << words.at(j);
        }
        return result;
    }
    return result;
}

qint64 start(const Resolved &what)
{
    if (what.program.isEmpty())
        return 0;

    std::vector<QByteArray> args;
    QByteArray workDir;
    QByteArray pathValue;
    if (what.batch) {
        const QString dir = QFileInfo(what.program).absolutePath();
        args.push_back("/bin/sh");
        workDir = QFile::encodeName(dir);
        pathValue = "PATH=" + QFile::encodeName(what.programDir.isEmpty() ? dir : QDir::cleanPath(what.programDir));
        const QByteArray inherited = qgetenv("PATH");
        pathValue += inherited.isEmpty() ? QByteArray(":/usr/local/bin:/usr/bin:/bin") : ":" + inherited;
    }
    args.push_back(QFile::encodeName(what.program));
    for (const QString &a : what.arguments)
        args.push_back(a.toLocal8Bit());

    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStore;
    std::vector<char *> envp;
    for (char **e = environ; e && *e; ++e) {
        if (!pathValue.isEmpty() && qstrncmp(*e, "PATH=", 5) == 0)
            continue;
        envStore.emplace_back(*e);
    }
    if (!pathValue.isEmpty())
        envStore.push_back(pathValue);
    for (QByteArray &e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workDir.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, workDir.constData());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Own process group, so that a whole tree started by a batch file can be stopped together.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv.front(), &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? qint64(pid) : 0;
}

bool wait(qint64 pid)
{
    if (pid <= 0)
        return false;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid_t(pid), &status, 0);
        if (r == pid_t(pid))
            return true;
        if (r < 0 && errno == EINTR)
            continue;
        break;
    }
    // Not our child: follow it by id until it is gone. A process that has ended but
    // that nobody has reaped yet still answers kill(), so its state decides.
    if (!alive(pid_t(pid)))
        return false;
    while (alive(pid_t(pid)))
        QThread::msleep(20);
    return true;
}

} // namespace ProcessStart
