#include "runtime/posix/ProcessStart.h"

#include "runtime/posix/Spawn.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
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
    std::vector<std::string> dirs { QFile::encodeName(programDir).toStdString() };
    const std::vector<std::string> path = Spawn::pathDirectories(false);
    dirs.insert(dirs.end(), path.begin(), path.end());
    const std::string found = Spawn::findProgram(QFile::encodeName(word).toStdString(), dirs,
        [](const std::string &file) { return isBatch(QFile::decodeName(file.c_str())) || Spawn::executable(file); });
    return QFile::decodeName(found.c_str());
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

    std::vector<std::string> args;
    Spawn::Options options;
    QByteArray pathValue;
    if (what.batch) {
        const QString dir = QFileInfo(what.program).absolutePath();
        args.push_back("/bin/sh");
        options.workDir = QFile::encodeName(dir).toStdString();
        pathValue = "PATH=" + QFile::encodeName(what.programDir.isEmpty() ? dir : QDir::cleanPath(what.programDir));
        const QByteArray inherited = qgetenv("PATH");
        pathValue += inherited.isEmpty() ? QByteArray(":/usr/local/bin:/usr/bin:/bin") : ":" + inherited;
    }
    args.push_back(QFile::encodeName(what.program).toStdString());
    for (const QString &a : what.arguments)
        args.push_back(a.toLocal8Bit().toStdString());

    std::vector<QByteArray> envStore;
    std::vector<char *> envp;
    if (!pathValue.isEmpty()) {
        for (char **e = environ; e && *e; ++e) {
            if (qstrncmp(*e, "PATH=", 5) != 0)
                envStore.emplace_back(*e);
        }
        envStore.push_back(pathValue);
        for (QByteArray &e : envStore)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        options.environment = envp.data();
    }

    const pid_t pid = Spawn::start(args, options);
    return pid > 0 ? qint64(pid) : 0;
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
