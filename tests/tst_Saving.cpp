#include "addressbook/Module.h"
#include "dispatch/Dispatch.h"
#include "fakes/FakeRecipientsBox.h"
#include "fakes/FakeRuntime.h"
#include "fakes/FakeSendWindow.h"
#include "fakes/TestSupport.h"
#include "mainwindow/RecentList.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// Why this process has no private mount namespace of its own; empty when it has one.
QString g_noOwnNamespace;

bool writeTo(const char *path, const QByteArray &text)
{
    QFile f(QString::fromLatin1(path));
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size() && f.flush();
}

// Must run while the process has a single thread: a private mount namespace, where a small
// file system can be filled up without touching anybody else's. Without the right to make
// one, a user namespace of our own (where the kernel allows it) gives it, the user unchanged.
void enterOwnMountNamespace()
{
    auto error = [](const char *what) {
        g_noOwnNamespace
            = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
    };
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return error("unshare");
        if (!writeTo("/proc/self/setgroups", "deny")
            || !writeTo("/proc/self/uid_map", QByteArray::number(uid) + ' ' + QByteArray::number(uid) + " 1")
            || !writeTo("/proc/self/gid_map", QByteArray::number(gid) + ' ' + QByteArray::number(gid) + " 1"))
            return error("user namespace");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        error("mount --make-rprivate /");
}

int puffs(const FakeRuntime &rt)
{
    int n = 0;
    for (const FakeRuntime::Box &b : rt.m_boxes)
        n += b.text == QLatin1String("PUFF") && b.icon == Runtime::Icon::None && b.title == QLatin1String("Velrisa");
    return n;
}

// The process may not write a file beyond this size while it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_before);
        m_oldHandler = ::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
        const struct rlimit lowered
        {
            bytes, m_before.rlim_max
        };
        m_set = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_before);
        ::signal(SIGXFSZ, m_oldHandler);
    }
    bool isSet() const { return m_set; }

private:
    struct rlimit m_before
    {
    };
    sighandler_t m_oldHandler;
    bool m_set = false;
};

} // namespace

// A save that does not fit (a full disk, a file-size limit) fails as the program's own boxes
// say, and leaves the file it should have replaced exactly as it was, with nothing beside it.
class tst_Saving : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void saveThatDoesNotFitChangesNothing_data();
    void saveThatDoesNotFitChangesNothing();

private:
    // Writes filler until the small file system has no room left.
    bool fillUp(const QString &folder);

    QTemporaryDir m_tmp;
    QString m_small; // the mount point of the small file system, empty without one
    QString m_whyNoSmall; // why there is none
};

void tst_Saving::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    QVERIFY(prepareEnvironment(m_tmp.path()));
    m_whyNoSmall = g_noOwnNamespace;
    if (!m_whyNoSmall.isEmpty())
        return;
    const QString mountPoint = m_tmp.filePath(QStringLiteral("pequeno"));
    QVERIFY(QDir().mkpath(mountPoint));
    if (::mount("velrisa-prueba", QFile::encodeName(mountPoint).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
            "size=256k,mode=0755")
        != 0) {
        m_whyNoSmall = QStringLiteral("mount tmpfs: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_small = mountPoint;
}

void tst_Saving::cleanupTestCase()
{
    if (!m_small.isEmpty())
        ::umount2(QFile::encodeName(m_small).constData(), MNT_DETACH);
}

void tst_Saving::cleanup()
{
    // Room again for the next case, whatever this one left.
    if (!m_small.isEmpty()) {
        for (const QString &folder : QDir(m_small).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(m_small + QLatin1Char('/') + folder).removeRecursively();
    }
}

bool tst_Saving::fillUp(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder + QStringLiteral("relleno")).constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const QByteArray block(4096, 'x');
    ssize_t n = 0;
    while ((n = ::write(fd, block.constData(), size_t(block.size()))) > 0) { }
    const bool full = n < 0 && errno == ENOSPC;
    ::close(fd);
    return full;
}

void tst_Saving::saveThatDoesNotFitChangesNothing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("diskFull"); // else a file-size limit
    for (const char *file : { "enviara.ini", "mru.ini", "ejecuta.bat" }) {
        QTest::addRow("%s, full disk", file) << QString::fromLatin1(file) << true;
        QTest::addRow("%s, size limit", file) << QString::fromLatin1(file) << false;
    }
}

void tst_Saving::saveThatDoesNotFitChangesNothing()
{
    QFETCH(QString, file);
    QFETCH(bool, diskFull);
    if (diskFull && m_small.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no small file system of our own to fill (%1): the full-disk case is not run")
                             .arg(m_whyNoSmall)));
    const QString prog = newFolder(diskFull ? m_small : m_tmp.path());
    QVERIFY(!prog.isEmpty());
    QVERIFY(prepareProgram(prog));
    const QString path = prog + file;

    FakeRuntime rt;
    rt.m_appPath = prog.chopped(1);
    Module module(rt, prog);
    FakeRecipientsBox recipientBox;
    FakeSendWindow window;
    window.m_path = prog;

    // What is there before, written while there is room.
    if (file == QLatin1String("enviara.ini")) {
        QVERIFY(writeBook(module, { QStringLiteral("ana"), QStringLiteral("luis") }, { QStringLiteral("casa") }));
    } else if (file == QLatin1String("mru.ini")) {
        recipientBox.setText(QStringLiteral("ana luis"));
        RecentList::GuardarMRU(module, recipientBox);
    } else {
        QVERIFY(writeFile(path, "net send ANTES hola > \"mensaje.txt\"\n"));
    }
    const QByteArray before = readFile(path);
    QVERIFY(before.size() > 10);
    QVERIFY(rt.m_boxes.isEmpty());
    const QStringList filesBefore = QDir(prog).entryList(QDir::Files | QDir::Hidden | QDir::System);

    {
        std::unique_ptr<FileSizeLimit> limit;
        if (diskFull)
            QVERIFY(fillUp(prog));
        else
            QVERIFY((limit = std::make_unique<FileSizeLimit>(8))->isSet());
        if (file == QLatin1String("enviara.ini")) {
            module.add(0, QStringLiteral("eva"));
            module.GuardarListas();
        } else if (file == QLatin1String("mru.ini")) {
            recipientBox.setText(QStringLiteral("eva"));
            RecentList::GuardarMRU(module, recipientBox);
        } else {
            QCOMPARE(int(Dispatch(rt, window).EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("hola"))), 0);
        }
    }

    if (file == QLatin1String("enviara.ini")) {
        QCOMPARE(puffs(rt), 3 + 1 + 2); // one per entry and one per "Total"
    } else if (file == QLatin1String("mru.ini")) {
        QCOMPARE(puffs(rt), 2); // "ActualMRU" and the new line
    } else {
        QCOMPARE(rt.m_boxes.size(), 1);
        QCOMPARE(rt.m_boxes.at(0).title, QStringLiteral("Error: 57"));
        QCOMPARE(rt.m_boxes.at(0).icon, Runtime::Icon::Critical);
        QVERIFY2(rt.m_boxes.at(0).text.contains(path), qPrintable(rt.m_boxes.at(0).text));
        QVERIFY(rt.m_shellCalls.isEmpty());
        QCOMPARE(window.messages().rows(), 1);
    }
    QCOMPARE(rt.m_boxes.size(), file == QLatin1String("ejecuta.bat") ? 1 : puffs(rt));
    QCOMPARE(readFile(path), before);
    QFile::remove(prog + QStringLiteral("relleno"));
    QCOMPARE(QDir(prog).entryList(QDir::Files | QDir::Hidden | QDir::System), filesBefore);
}

int main(int argc, char *argv[])
{
    enterOwnMountNamespace();
    QCoreApplication app(argc, argv);
    tst_Saving test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Saving.moc"
