// Receiving: the repair of smbclient's garbled text in-process, on the largest it sends;
// velrisa-recibe's own run time (start to exit, what smbd and the sender wait
// for), in a fresh mailbox and in a full one where every delivery prunes; and, with root
// and Samba, the time from `net send` returning to the "Mensaje recibido" window drawn,
// with the desktop side in this process (on X when DISPLAY is set, else offscreen).
// Medians of 200 and 20 runs. Then what the desktop side writes for its history for each
// message, with a full history; and, with root and Samba, a flood of 2,000 messages from 8
// senders at once: the memory it costs and the windows it leaves open.
// Usage: bench_receiving [history]
#include "Measurements.h"
#include "net/SambaHost.h"
#include "receive/History.h"
#include "receive/ReceivedModel.h"
#include "receive/Receiving.h"
#include "receive/frmReceived.h"
#include "receiver/Delivery.h"
#include "receiver/Record.h"
#include "receiver/TextRepair.h"
#include "runtime/IconoBarra.h"
#include "runtime/posix/PosixRuntime.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int64_t kJanuary = 1767225600; // 2026-01-01 00:00:00 UTC

// One run of velrisa-recibe for a fresh message file; ms from spawn to exit.
double receiveOne(const QString &mailbox, const QString &folder, int n, bool *ok, const QByteArray &usersFile = {},
    const char *to = "oficina1", const QByteArray &text = "Hola, \xC2\xBFqu\xC3\xA9 tal? A\xC3\xB1o 2026")
{
    const QString messageFile = folder + QStringLiteral("/msg.%1").arg(n);
    QFile f(messageFile);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    f.close();
    const QByteArray program(RECEIVER_BINARY);
    const QByteArray mailboxOption = "--buzon=" + QFile::encodeName(mailbox);
    const QByteArray path = QFile::encodeName(messageFile);
    const QByteArray usersOption = "--usuarios=" + usersFile;
    std::vector<char *> argv { const_cast<char *>(program.constData()), const_cast<char *>(mailboxOption.constData()) };
    if (!usersFile.isEmpty())
        argv.push_back(const_cast<char *>(usersOption.constData()));
    for (const char *a : { "ana", to, path.constData() })
        argv.push_back(const_cast<char *>(a));
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    int status = -1;
    *ok = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 && ::waitpid(pid, &status, 0) == pid
        && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return double(clock.nsecsElapsed()) / 1e6;
}

void receiverRunTime(const QString &root)
{
    const QString mailbox = root + QStringLiteral("/buzon-receptor");
    QDir().mkpath(mailbox);
    bool ok = true;
    std::vector<double> emptyMs, fullMs;
    for (int i = 0; i < 200; ++i) {
        bool good = false;
        emptyMs.push_back(receiveOne(mailbox, root, i, &good));
        ok = ok && good;
    }
    // Past 1,000 records every delivery looks at each one and removes the oldest.
    for (int i = 200; i < 1000; ++i) {
        bool good = false;
        receiveOne(mailbox, root, i, &good);
    }
    for (int i = 1000; i < 1200; ++i) {
        bool good = false;
        fullMs.push_back(receiveOne(mailbox, root, i, &good));
        ok = ok && good;
    }
    // A person's name: the name->user list read at each message, the record in the user's folder.
    std::vector<double> personMs;
    bool personOk = true;
    const passwd *pw = ::getpwuid(::geteuid());
    const QString usersList = root + QStringLiteral("/velrisa-usuarios");
    if (::geteuid() == 0 && pw) {
        QFile f(usersList);
        f.open(QIODevice::WriteOnly);
        f.write("# names that are one person's\njuan " + QByteArray(pw->pw_name) + '\n');
        f.close();
        const QString ownFolder = mailbox + QLatin1Char('/') + QString::fromLocal8Bit(pw->pw_name);
        QDir().mkpath(ownFolder);
        ::chmod(QFile::encodeName(ownFolder).constData(), 02770);
        for (int i = 1200; i < 1400; ++i) {
            bool good = false;
            personMs.push_back(receiveOne(mailbox, root, i, &good, QFile::encodeName(usersList), "juan"));
            personOk = personOk && good;
        }
    }
    const qsizetype records = QDir(mailbox).entryList(QDir::Files).size();
    const Delivery::Limits limits;
    std::printf("bench_recepcion: velrisa-recibe, spawn to exit, 200 runs each\n");
    std::printf("  fewer than 1,000 records : median %6.2f ms, 90th percentile %6.2f ms\n", Measurements::median(emptyMs),
        Measurements::percentile90(emptyMs));
    std::printf("  full mailbox (pruning)   : median %6.2f ms, 90th percentile %6.2f ms (goal: under 5 ms)\n",
        Measurements::median(fullMs), Measurements::percentile90(fullMs));
    std::printf("  records kept             : %lld (%zu to %zu expected); all runs ok: %s\n", qlonglong(records),
        limits.maxRecords - limits.slack, limits.maxRecords, ok ? "yes" : "NO");
    if (personMs.empty())
        std::printf("  to a person's name       : skipped, needs root (the name->user list must be root's)\n");
    else
        std::printf("  to a person's name       : median %6.2f ms, 90th percentile %6.2f ms; all runs ok: %s\n",
            Measurements::median(personMs), Measurements::percentile90(personMs), personOk ? "yes" : "NO");
}

// A field of /proc/self/io: "wchar" (bytes handed to write(), the X server's share included)
// or "write_bytes" (bytes this process sent to the file system, in whole pages). The children
// this process has waited for count too: see deliverDetached.
qint64 bytesWritten(const char *field)
{
    QFile f(QStringLiteral("/proc/self/io"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return -1;
}

// A field of /proc/self/status in KB ("VmRSS", "VmHWM").
qint64 memoryKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(line.indexOf(':') + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// One delivery by velrisa-recibe in a process this one never waits for (a shell in the
// background, reaped by somebody else), so that what it writes does not count as ours.
bool deliverDetached(const QString &mailbox, const QString &folder, int n, const QString &text)
{
    const QByteArray program(RECEIVER_BINARY);
    const QByteArray mailboxOption = "--buzon=" + QFile::encodeName(mailbox);
    const QByteArray messageFile = QFile::encodeName(folder + QStringLiteral("/msg.%1").arg(n));
    const QByteArray bytes = text.toUtf8();
    const char *argv[] = { "/bin/sh", "-c",
        "(printf %s \"$1\" > \"$2\" && exec \"$0\" \"$3\" ana oficina1 \"$2\") "
        "</dev/null >/dev/null 2>&1 &",
        program.constData(), bytes.constData(), messageFile.constData(), mailboxOption.constData(), nullptr };
    pid_t pid = 0;
    int status = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char **>(argv), environ) == 0
        && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Each message arriving on its own (the pop-up closed, past the history's batching delay),
// with a full history of 1,000 messages of 1,500 characters.
void historyWrites(const QString &root)
{
    const QString mailbox = root + QStringLiteral("/buzon-historial");
    const QString dataDir = root + QStringLiteral("/datos-historial");
    QDir().mkpath(mailbox);
    const QString longText(1500, QLatin1Char('x'));
    {
        History fullHistory(dataDir);
        for (int i = 0; i < History::kMaxMessages; ++i)
            fullHistory.add({ QString::fromStdString(Record::fileName(kJanuary + i, 0, 1)),
                QStringLiteral("ana"), QStringLiteral("oficina1"), QDateTime::fromSecsSinceEpoch(kJanuary + i, Qt::UTC),
                false, longText, {}, {} });
        fullHistory.save();
    }
    PosixRuntime rt;
    IconoBarra tray;
    Receiving receiving(rt, tray, mailbox, dataDir);
    receiving.start();
    QTest::qWait(300);
    constexpr int kMessages = 100;
    bool ok = true;
    const qint64 before = bytesWritten("write_bytes");
    const qint64 beforeWchar = bytesWritten("wchar");
    for (int i = 0; i < kMessages; ++i) {
        bool good = false;
        good = deliverDetached(mailbox, root, 5000 + i, longText);
        QElapsedTimer deadline;
        deadline.start();
        while (receiving.openWindows().isEmpty() && deadline.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        ok = ok && good && !receiving.openWindows().isEmpty();
        for (frmReceived *w : receiving.openWindows())
            w->close();
        QTest::qWait(250);
    }
    std::printf("bench_recepcion: history written per message, full history (1,000 of 1,500 characters)\n");
    std::printf("  one at a time, %d        : %8.0f bytes to the file system, %8.0f to write() (goal: under 10,240)\n",
        kMessages, double(bytesWritten("write_bytes") - before) / kMessages,
        double(bytesWritten("wchar") - beforeWchar) / kMessages);

    // A flood straight into the mailbox, nobody closing a window.
    constexpr int kFlood = 10000;
    const qint64 rssBefore = memoryKb("VmRSS");
    const qint64 beforeFlood = bytesWritten("write_bytes");
    int maxWindows = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kFlood; ++i) {
        ok = deliverDetached(mailbox, root, 10000 + i, longText) && ok;
        QCoreApplication::processEvents();
        if (i % 100 == 0) {
            int visibleWindows = 0;
            for (const QWidget *w : QApplication::topLevelWidgets())
                visibleWindows += w->isVisible() ? 1 : 0;
            maxWindows = std::max(maxWindows, visibleWindows);
        }
    }
    // Until the last deliveries are in.
    const auto lastId = [&receiving] { return receiving.history().model().rows().last().id; };
    for (QString lastSeen; lastSeen != lastId();) {
        lastSeen = lastId();
        QTest::qWait(1000);
    }
    std::printf("  flood of %d, in %.1f s : %8.0f bytes to the file system per message\n", kFlood,
        double(clock.elapsed()) / 1000, double(bytesWritten("write_bytes") - beforeFlood) / kFlood);
    std::printf("  memory over the flood    : %lld KB resident before, %lld KB after (+%lld KB); windows open at most: "
                "%d\n",
        qlonglong(rssBefore), qlonglong(memoryKb("VmRSS")), qlonglong(memoryKb("VmRSS") - rssBefore), maxWindows);
    std::printf("  in the history at the end: %d; all delivered and shown: %s\n",
        int(receiving.history().model().rowCount()), ok ? "yes" : "NO");
}

// Times the first paint of every pop-up.
class FirstPaints final : public QObject
{
public:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && qobject_cast<frmReceived *>(o) && !m_seen.contains(o)) {
            m_seen.insert(o);
            m_last = m_clock.nsecsElapsed();
        }
        return false;
    }
    QElapsedTimer m_clock;
    QSet<QObject *> m_seen;
    qint64 m_last = -1;
};

bool latencyToTheWindow(const QString &root)
{
    if (::geteuid() != 0
        || QStandardPaths::findExecutable(QStringLiteral("smbd"), { QStringLiteral("/usr/sbin") }).isEmpty()) {
        std::printf("bench_recepcion: net send to window skipped, needs root and Samba\n");
        return true;
    }
    QFile::setPermissions(root, QFileDevice::Permissions(0x7755));
    const QString mailbox = root + QStringLiteral("/buzon");
    QDir().mkpath(mailbox);
    if (::chown(QFile::encodeName(mailbox).constData(), 65534, 65534) != 0) {
        std::printf("bench_recepcion: the mailbox cannot be given to the guest user\n");
        return false;
    }
    QDir().mkpath(root + QStringLiteral("/samba"));
    SambaHost host(root + QStringLiteral("/samba"),
        SambaHost::receiving(QStringLiteral("BANCO"), QStringLiteral("PRUEBAS"), QStringLiteral("127.0.0.51"),
            QStringLiteral(RECEIVER_BINARY), mailbox));
    if (!host.start()) {
        std::printf("bench_recepcion: smbd did not start: %s\n", qPrintable(host.error()));
        return false;
    }
    const QString conf = SambaHost::writeClientConfig(root, QStringLiteral("lo"), QStringLiteral("PRUEBAS"));
    const QString program = root + QStringLiteral("/programa");
    QDir().mkpath(program);
    QFile::copy(QStringLiteral(NET_BINARY), program + QStringLiteral("/net"));
    QFile ini(program + QStringLiteral("/net.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Equipos]\nBANCO=127.0.0.51\n[Opciones]\nConfiguracion=" + conf.toUtf8() + "\n");
    ini.close();

    PosixRuntime rt;
    IconoBarra tray;
    Receiving receiving(rt, tray, mailbox, root + QStringLiteral("/datos"));
    receiving.start();
    FirstPaints paints;
    qApp->installEventFilter(&paints);
    paints.m_clock.start();

    std::vector<double> sinceReturn, sinceStart;
    bool ok = true;
    for (int i = 0; i < 21; ++i) {
        QProcess net;
        qint64 returnedAt = -1;
        QObject::connect(&net, &QProcess::finished, [&] { returnedAt = paints.m_clock.nsecsElapsed(); });
        paints.m_last = -1;
        paints.m_seen.clear(); // the last round's windows are gone, and their addresses free
        const qint64 startedAt = paints.m_clock.nsecsElapsed();
        net.start(program + QStringLiteral("/net"),
            { QStringLiteral("send"), QStringLiteral("BANCO"), QStringLiteral("mensaje %1").arg(i) });
        QElapsedTimer deadline;
        deadline.start();
        while ((returnedAt < 0 || paints.m_last < 0) && deadline.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        ok = ok && returnedAt >= 0 && paints.m_last >= 0 && net.exitCode() == 0;
        if (i > 0 && returnedAt >= 0 && paints.m_last >= 0) { // the first round warms the caches
            sinceReturn.push_back(double(paints.m_last - returnedAt) / 1e6);
            sinceStart.push_back(double(paints.m_last - startedAt) / 1e6);
        }
        for (frmReceived *w : receiving.openWindows())
            w->close();
        QTest::qWait(20);
    }
    std::printf("bench_recepcion: net send to the pop-up drawn (%s), median of %zu\n",
        qPrintable(QGuiApplication::platformName()), sinceReturn.size());
    std::printf("  from net send returning  : %8.2f ms (goal: under 150 ms; negative: drawn before net returned)\n",
        Measurements::median(sinceReturn));
    std::printf("  from net send starting   : %8.2f ms\n", Measurements::median(sinceStart));
    std::printf("  all delivered and shown  : %s\n", ok ? "yes" : "NO");

    // The flood: 8 senders at once, 250 messages of 1,500 characters each, nobody closing a window.
    constexpr int kSenders = 8;
    constexpr int kPerSender = 250;
    const qint64 rssBefore = memoryKb("VmRSS");
    const int rowsBefore = int(receiving.history().model().rowCount());
    std::vector<std::unique_ptr<QProcess>> senders;
    QElapsedTimer clock;
    clock.start();
    for (int e = 0; e < kSenders; ++e) {
        auto p = std::make_unique<QProcess>();
        p->start(QStringLiteral("/bin/sh"),
            { QStringLiteral("-c"),
                QStringLiteral("for i in $(seq 1 %1); do \"$0\" send BANCO \"f%2-$i $1\" | head -n 1; done")
                    .arg(kPerSender)
                    .arg(e),
                program + QStringLiteral("/net"), QString(1500, QLatin1Char('y')) });
        senders.push_back(std::move(p));
    }
    int maxWindows = 0;
    qint64 rssMax = 0;
    const auto visibleWindows = [] {
        int n = 0;
        for (const QWidget *w : QApplication::topLevelWidgets())
            n += w->isVisible() ? 1 : 0;
        return n;
    };
    while (std::any_of(senders.cbegin(), senders.cend(),
        [](const std::unique_ptr<QProcess> &p) { return p->state() != QProcess::NotRunning; })) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        maxWindows = std::max(maxWindows, visibleWindows());
        rssMax = std::max(rssMax, memoryKb("VmRSS"));
    }
    const double seconds = double(clock.elapsed()) / 1000;
    int sent = 0;
    for (auto &p : senders)
        sent += int(p->readAllStandardOutput().count("Mensaje enviado"));
    QTest::qWait(2000);
    maxWindows = std::max(maxWindows, visibleWindows());
    const qint64 rssAfter = memoryKb("VmRSS");
    std::printf("bench_recepcion: flood of %d messages of 1,500 characters from %d senders at once\n",
        kSenders * kPerSender, kSenders);
    std::printf("  sent                     : %d in %.1f s\n", sent, seconds);
    std::printf("  resident memory          : %lld KB before, %lld KB at most, %lld KB after (+%lld KB)\n",
        qlonglong(rssBefore), qlonglong(rssMax), qlonglong(rssAfter), qlonglong(rssAfter - rssBefore));
    std::printf("  windows open             : %d at most, %d at the end\n", maxWindows, visibleWindows());
    std::printf("  history rows             : %d before, %d after (at most %d kept)\n", rowsBefore,
        int(receiving.history().model().rowCount()), History::kMaxMessages);
    ok = ok && sent == kSenders * kPerSender;
    return ok;
}

// The largest text smbclient sends, every piece of it raw (4,243 bytes as smbd hands it over).
void repairTime()
{
    QFile f(QStringLiteral(CAPTURED_MESSAGES "/euro_acentos.recibido"));
    const std::string received = f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    std::vector<double> timesUs;
    size_t repairedSize = 0;
    for (int i = 0; i < 1000; ++i) {
        QElapsedTimer clock;
        clock.start();
        repairedSize = TextRepair::repair(received).size();
        timesUs.push_back(double(clock.nsecsElapsed()) / 1e3);
    }
    std::printf("bench_recepcion: ReparaTexto::reparar, %zu bytes to %zu, 1000 runs\n", received.size(), repairedSize);
    std::printf("  median %6.1f us, 90th percentile %6.1f us (a small part of one run below)\n",
        Measurements::median(timesUs), Measurements::percentile90(timesUs));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir root;
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath(QStringLiteral("datos-xdg"))));
    // "historial": the history's figures alone.
    const bool historyOnly = argc > 1 && qstrcmp(argv[1], "historial") == 0;
    if (!historyOnly) {
        repairTime();
        receiverRunTime(root.path());
    }
    historyWrites(root.path());
    if (historyOnly)
        return 0;
    return latencyToTheWindow(root.path()) ? 0 : 1;
}
