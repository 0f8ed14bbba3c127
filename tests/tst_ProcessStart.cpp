#include "fakes/TestSupport.h"
#include "runtime/posix/ProcessStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace TestSupport;

// Starting programs by command line and waiting for them by id.
class tst_ProcessStart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void resolve_data();
    void resolve();
    void batchRunsInItsFolderWithTheProgramFirstOnPath();
    void waitLastsUntilTheEnd();
    void waitWithoutAProcessReturnsAtOnce_data();
    void waitWithoutAProcessReturnsAtOnce();
    void waitFollowsAProcessNotOurs();
    void waitOnAZombieNotOursEnds();

private:
    QString writeTempFile(const QString &relative, const QByteArray &contents, bool executable = true);
    qint64 writtenPid(const QString &relative);
    QByteArray makeFifo(const QString &relative);
    QTemporaryDir m_dir;
};

namespace {

// ProcessStart::wait on a thread of its own, so that the test can act while it waits.
class ThreadedWait
{
public:
    // seen is asked on that thread as soon as the wait comes back.
    ThreadedWait(qint64 pid, std::function<bool()> seen)
        : m_thread([this, pid, seen] {
            m_tid = ::gettid();
            m_result = ProcessStart::wait(pid);
            m_seen = seen();
            m_returned = true;
        })
    { }
    ~ThreadedWait() { finish(); }
    bool returned() const { return m_returned; }
    // Whether the thread has gone to sleep inside the wait: it has found the process and
    // waits for its end.
    bool asleep() const
    {
        const QByteArray line = readTask("stat");
        const qsizetype closing = line.lastIndexOf(')');
        return !m_returned && closing > 0 && closing + 2 < line.size() && line.at(closing + 2) == 'S';
    }
    // How many times the thread has gone to sleep so far.
    qint64 sleeps() const
    {
        for (const QByteArray &line : readTask("status").split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                return line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
        return -1;
    }
    bool result()
    {
        finish();
        return m_result;
    }
    bool seen()
    {
        finish();
        return m_seen;
    }

private:
    QByteArray readTask(const char *file) const
    {
        if (m_tid == 0)
            return {};
        QFile f(QStringLiteral("/proc/self/task/%1/%2").arg(m_tid.load()).arg(QLatin1String(file)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void finish()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    std::atomic<pid_t> m_tid { 0 };
    std::atomic<bool> m_returned { false };
    bool m_result = false;
    bool m_seen = false;
    std::thread m_thread;
};

// Once the wait is under way and the process reading the named pipe has opened it, checks
// that the wait has not come back while the process is held there, and lets it go on. A wait
// on a process that is not our child looks at it, sleeps and looks again: it has shown that it
// follows the process once it has gone back to sleep `rounds` more times.
bool release(const QByteArray &fifo, const ThreadedWait &waiter, int rounds = 0)
{
    bool ready = QTest::qWaitFor([&] { return waiter.asleep() || waiter.returned(); });
    const qint64 firstSleeps = waiter.sleeps();
    ready = ready && QTest::qWaitFor([&] {
        return waiter.returned() || (waiter.sleeps() >= firstSleeps + rounds && waiter.asleep());
    });
    const bool waiting = ready && !waiter.returned();
    // Let go in any case, so that no process is left behind.
    int fd = -1;
    const bool opened
        = QTest::qWaitFor([&] { return (fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; });
    const bool written = opened && ::write(fd, "\n", 1) == 1;
    if (fd >= 0)
        ::close(fd);
    return waiting && written;
}

} // namespace

// A named pipe below the temporary folder, as the shell will quote it; empty on failure.
QByteArray tst_ProcessStart::makeFifo(const QString &relative)
{
    const QByteArray path = QFile::encodeName(m_dir.filePath(relative));
    return ::mkfifo(path.constData(), 0600) == 0 ? path : QByteArray();
}

// Writes a file below the temporary folder and gives its absolute path; empty on failure.
QString tst_ProcessStart::writeTempFile(const QString &relative, const QByteArray &contents, bool executable)
{
    const QString path = m_dir.filePath(relative);
    return writeFile(path, contents, executable ? kExecutable : QFileDevice::Permissions {}) ? path : QString();
}

// The process id that a script wrote to that file, once it is there.
qint64 tst_ProcessStart::writtenPid(const QString &relative)
{
    const QString path = m_dir.filePath(relative);
    if (!QTest::qWaitFor([&] { return QFileInfo(path).size() > 0; }))
        return 0;
    return readFile(path).trimmed().toLongLong();
}

void tst_ProcessStart::initTestCase()
{
    QVERIFY(prepareEnvironment(m_dir.path()));
    QVERIFY(!writeTempFile(QStringLiteral("prog/herramienta"), "#!/bin/sh\nexit 0\n").isEmpty());
    QVERIFY(!writeTempFile(QStringLiteral("prog/datos.txt"), "x\n", false).isEmpty());
    QVERIFY(!writeTempFile(QStringLiteral("con blanco/ejecuta.bat"), "exit 0\n", false).isEmpty());
    QVERIFY(!writeTempFile(QStringLiteral("prog/ls"), "#!/bin/sh\nexit 0\n").isEmpty());
}

void tst_ProcessStart::resolve_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("program"); // relative to the temporary folder, or absolute
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("batch");

    const auto row = [](const char *name, const QString &line, const QString &program, const QStringList &arguments,
                         bool batch) { QTest::newRow(name) << line << program << arguments << batch; };
    row("name in the program's folder", "herramienta a b", "prog/herramienta", QStringList { "a", "b" }, false);
    row("program's folder before PATH", "ls -l", "prog/ls", QStringList { "-l" }, false);
    row("name on PATH", "sh -c", "PATH", QStringList { "-c" }, false);
    row("path with blanks", "%1/con blanco/ejecuta.bat", "con blanco/ejecuta.bat", QStringList {}, true);
    row("double blanks between arguments", "herramienta  a", "prog/herramienta", QStringList { "a" }, false);
    row("file not executable", "datos.txt", "", QStringList {}, false);
    row("does not exist", "noexiste x", "", QStringList {}, false);
    row("empty", "", "", QStringList {}, false);
}

void tst_ProcessStart::resolve()
{
    QFETCH(QString, line);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, batch);

    const auto r = ProcessStart::resolve(
        line.contains(QLatin1String("%1")) ? line.arg(m_dir.path()) : line, m_dir.path() + QStringLiteral("/prog"));
    const QString expected = program == QLatin1String("PATH")
        ? QStandardPaths::findExecutable(QFileInfo(line.section(QLatin1Char(' '), 0, 0)).fileName())
        : program.isEmpty() ? program
                            : QFileInfo(m_dir.path() + QLatin1Char('/') + program).absoluteFilePath();
    QCOMPARE(r.program, expected);
    if (!program.isEmpty()) {
        QCOMPARE(r.arguments, arguments);
        QCOMPARE(r.batch, batch);
    }
}

void tst_ProcessStart::batchRunsInItsFolderWithTheProgramFirstOnPath()
{
    // The batch file lies among the user's data files, apart from the program; a `net` in
    // that folder or earlier on PATH (Samba's own) must never be the one that runs.
    const QString programDir = QStringLiteral("programa $a 'b'");
    const QString dataDir = QStringLiteral("datos del usuario");
    const QString systemDir = QStringLiteral("sistema");
    QVERIFY(
        !writeTempFile(programDir + QStringLiteral("/net"), "#!/bin/sh\necho \"propio $*\" > salida.txt\n").isEmpty());
    QVERIFY(!writeTempFile(dataDir + QStringLiteral("/net"), "#!/bin/sh\necho datos > salida.txt\n").isEmpty());
    QVERIFY(!writeTempFile(systemDir + QStringLiteral("/net"), "#!/bin/sh\necho sistema > salida.txt\n").isEmpty());
    const QString batch = writeTempFile(dataDir + QStringLiteral("/ejecuta.bat"), "net send X\n", false);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_dir.filePath(systemDir)) + ':' + path);
    const qint64 pid = ProcessStart::start(ProcessStart::resolve(batch, m_dir.filePath(programDir)));
    qputenv("PATH", path);
    QVERIFY(pid > 0);
    QVERIFY(ProcessStart::wait(pid));
    QCOMPARE(readFile(m_dir.filePath(dataDir + QStringLiteral("/salida.txt"))), QByteArray("propio send X\n"));
}

void tst_ProcessStart::waitLastsUntilTheEnd()
{
    // The child holds on until the test lets it go, so the wait has surely begun before the end.
    const QString marker = m_dir.path() + QStringLiteral("/fin.txt");
    const QByteArray goAhead = makeFifo(QStringLiteral("fin.senal"));
    QVERIFY(!goAhead.isEmpty());
    const QString script = writeTempFile(QStringLiteral("lento.sh"),
        "#!/bin/sh\nread x < '" + goAhead + "'\ntouch '" + QFile::encodeName(marker) + "'\n");
    const qint64 pid = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(pid > 0);
    ThreadedWait waiter(pid, [&] { return QFile::exists(marker); });
    QVERIFY(release(goAhead, waiter));
    QVERIFY(waiter.result());
    QVERIFY(waiter.seen()); // the child had done its work when the wait came back
    // Reaped: no zombie is left behind.
    QCOMPARE(::kill(pid_t(pid), 0), -1);
}

void tst_ProcessStart::waitWithoutAProcessReturnsAtOnce_data()
{
    QTest::addColumn<qint64>("pid");
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    QTest::newRow("already reaped") << qint64(child);
    QTest::newRow("zero") << qint64(0);
    QTest::newRow("negative") << qint64(-1);
}

void tst_ProcessStart::waitWithoutAProcessReturnsAtOnce()
{
    QFETCH(qint64, pid);
    QVERIFY(!ProcessStart::wait(pid));
}

void tst_ProcessStart::waitFollowsAProcessNotOurs()
{
    // A grandchild is not ours to reap: the wait follows it by id until it has ended, even
    // where nobody reaps it and it lingers as a zombie.
    const QByteArray goAhead = makeFifo(QStringLiteral("nieto.senal"));
    QVERIFY(!goAhead.isEmpty());
    const QString script = writeTempFile(QStringLiteral("padre.sh"),
        "#!/bin/sh\nread x < '" + goAhead + "' &\necho $! > '"
            + QFile::encodeName(m_dir.filePath(QStringLiteral("nieto.pid"))) + "'\n");
    const qint64 parent = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(parent > 0);
    QVERIFY(ProcessStart::wait(parent));
    const qint64 grandchild = writtenPid(QStringLiteral("nieto.pid"));
    QVERIFY(grandchild > 0);
    ThreadedWait waiter(grandchild, [] { return true; });
    QVERIFY(release(goAhead, waiter, 2));
    QVERIFY(waiter.result());
    QVERIFY(!ProcessStart::wait(grandchild));
}

void tst_ProcessStart::waitOnAZombieNotOursEnds()
{
    // The parent never reaps its child (it has become a long sleep), so the ended child stays
    // a zombie: the wait must see it as ended, not wait for the parent to go.
    const QByteArray goAhead = makeFifo(QStringLiteral("zombi.senal"));
    QVERIFY(!goAhead.isEmpty());
    const QString script = writeTempFile(QStringLiteral("padre_dormido.sh"),
        "#!/bin/sh\nread x < '" + goAhead + "' &\necho $! > '"
            + QFile::encodeName(m_dir.filePath(QStringLiteral("zombi.pid"))) + "'\nexec sleep 30\n");
    const qint64 parent = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(parent > 0);
    const qint64 zombie = writtenPid(QStringLiteral("zombi.pid"));
    QVERIFY(zombie > 0);
    ThreadedWait waiter(zombie, [] { return true; });
    QVERIFY(release(goAhead, waiter, 2));
    QVERIFY(waiter.result());
    // Still running, not merely unreaped: a zombie would answer kill(0) too.
    const bool parentAlive = ::waitpid(pid_t(parent), nullptr, WNOHANG) == 0;
    ::kill(pid_t(parent), SIGKILL);
    ProcessStart::wait(parent);
    QVERIFY(parentAlive);
}

QTEST_GUILESS_MAIN(tst_ProcessStart)
#include "tst_ProcessStart.moc"
