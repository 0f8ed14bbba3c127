// Start-up, each case in a fresh child process of this program.
//
// First, from exec to the main window shown, as main.cpp starts it: a bare Qt window, the program
// on an empty folder, on a full address book (32,767 entries in each list) with a full recent list
// of the usual 5 lines, and on the same book with 32,767 recent lines, in turns, several runs each. Each child reports
// the wall time since the parent started it, its own processor time and its peak resident memory; the figures that
// count are processor time and memory against the bare window of the same run (goals: the full folder adds under 40 ms
// of processor time and under 8 MB to the empty one, and the empty one stays within 15 ms of a bare window that shows
// a line of text, as any window with text loads the font database).
//
// Then hand-grown profile files: a 16 MB enviara.ini of one million sections, and a 1 MB mru.ini
// of 32,767 lines whose modification time lies an hour in the future. The child times
// Startup::start() and takes its peak resident memory above what the process held just
// before it (goals: under 2 s, under 4 times the file).

#include "Measurements.h"
#include "app/Startup.h"
#include "mainwindow/frmPrincipal.h"
#include "runtime/posix/PosixRuntime.h"
#include "widgets/Appearance.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

namespace {

// The production runtime with the program folder of the case and no box ever shown.
class BenchRuntime final : public PosixRuntime
{
public:
    void msgBox(const QString &, Icon, const QString &) override { ++m_boxes; }
    QString appPath() const override { return m_appPath; }
    QString command() const override { return m_command; }

    QString m_appPath;
    QString m_command = QStringLiteral("-MIN");
    int m_boxes = 0;
};

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), -1 when it cannot be read.
long long statusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray hugeBook()
{
    QByteArray b;
    b.reserve(16'100'000);
    for (const char *section : { "Equipos", "Redes" }) {
        b += QByteArray("[") + section + "]\r\n";
        for (int i = 1; i <= 100; ++i)
            b += QByteArray::number(i) + "=EQUIPO" + QByteArray::number(i) + "\r\n";
        b += "Total=100\r\n";
    }
    char section[32];
    for (int i = 0; i < 1'000'000; ++i) {
        std::snprintf(section, sizeof section, "[%07d]\r\nk=v\r\n", i);
        b += section;
    }
    return b;
}

QByteArray hugeRecentList()
{
    QByteArray b = "[Info]\r\nMaximo=32767\r\nActualMRU=32767\r\nTotal=32767\r\n";
    for (int i = 1; i <= 32767; ++i)
        b += QByteArray::number(i) + "=EQUIPO" + QByteArray::number(i) + " OFICINA-2\r\n";
    return b;
}

// Both lists full, of names as long as NetBIOS names get (15 characters).
QByteArray fullBook()
{
    QByteArray b;
    for (const char *section : { "Equipos", "Redes" }) {
        b += QByteArray("[") + section + "]\r\n";
        for (int i = 1; i <= 32767; ++i)
            b += QByteArray::number(i) + '=' + QByteArray(section).left(3) + "-OFICINA-" + QByteArray::number(i)
                + "\r\n";
        b += "Total=32767\r\n";
    }
    return b;
}

// A recent list that is full at its usual capacity.
QByteArray fullRecentList()
{
    QByteArray b = "[Info]\r\nActualMRU=5\r\n";
    for (int i = 1; i <= 5; ++i)
        b += QByteArray::number(i) + "=EQU-OFICINA-" + QByteArray::number(i) + " RED-OFICINA-2\r\n";
    return b;
}

qint64 monotonicNs()
{
    struct timespec t
    {
    };
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The folder argument that asks for a bare window with a line of text.
const QString kBareWithText = QStringLiteral(":texto");

// In the child: start as main.cpp does (or a bare window), wait until the window is shown and
// exposed, and print "wall-ms cpu-ms peak-kB items".
int startUpChild(int argc, char **argv, const QString &folder, qint64 startNs)
{
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QWidget *window = nullptr;
    QMainWindow bare;
    BenchRuntime rt;
    std::unique_ptr<Startup> program;
    if (folder.isEmpty() || folder == kBareWithText) {
        bare.resize(584, 303);
        // Text on the screen loads the font database, whatever the window.
        if (folder == kBareWithText)
            bare.setCentralWidget(new QLabel(QStringLiteral("Destinatarios (separar con espacios):")));
        bare.show();
        window = &bare;
    } else {
        QApplication::setApplicationName(QStringLiteral("Velrisa"));
        Appearance::apply();
        QApplication::setQuitOnLastWindowClosed(false);
        rt.m_appPath = folder;
        rt.m_command.clear();
        program = std::make_unique<Startup>(rt);
        program->start();
        window = &program->mainWindow();
    }
    QElapsedTimer waited;
    waited.start();
    while (!(window->windowHandle() && window->windowHandle()->isExposed()) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    const qint64 endNs = monotonicNs();
    struct timespec cpu
    {
    };
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    const auto *recipientBox = window->findChild<QComboBox *>(QStringLiteral("txtDestino"));
    std::printf("%.2f %.2f %lld %d\n", double(endNs - startNs) / 1e6,
        double(cpu.tv_sec) * 1e3 + double(cpu.tv_nsec) / 1e6, statusKb("VmHWM"),
        recipientBox ? recipientBox->count() : 0);
    return window->isVisible() ? 0 : 3;
}

// In the child: start the main window on the folder and print "ms kB boxes items".
int bigFileChild(int argc, char **argv, const QString &folder)
{
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    BenchRuntime rt;
    rt.m_appPath = folder;
    Startup startup(rt);
    frmPrincipal &window = startup.mainWindow();
    // From here on the peak counts only what the start-up itself takes.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        return 2;
    clearRefs.close();
    const long long base = statusKb("VmRSS");
    QElapsedTimer t;
    t.start();
    startup.start();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const long long peak = statusKb("VmHWM");
    const auto *recipientBox = window.findChild<QComboBox *>(QStringLiteral("txtDestino"));
    std::printf("%.1f %lld %d %d\n", ms, peak - base, rt.m_boxes, recipientBox ? recipientBox->count() : -1);
    return 0;
}

// One child of the start-up comparison; false when it failed.
struct StartUpFigures
{
    double wall = 0, cpu = 0, mb = 0;
    int items = 0;
};

bool runStartUpChild(const QString &folder, const QString &runDir, StartUpFigures &a)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runDir);
    p.setProcessEnvironment(env);
    p.start(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")),
        { QStringLiteral("--arranque"), folder, QString::number(monotonicNs()) });
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
    a = { f.value(0).toDouble(), f.value(1).toDouble(), f.value(2).toDouble() * 1024 / 1e6, f.value(3).toInt() };
    return f.size() == 4;
}

// The bare window, the empty folder and the full one, in turns, `runs` runs each.
bool compareStartUps(const QString &base, int runs)
{
    QTemporaryDir runtimeFolder(QStringLiteral("/dev/shm/velrisa-bench-XXXXXX"));
    const QString emptyDir = base + QStringLiteral("/vacia");
    const QString fullDir = base + QStringLiteral("/llena");
    const QString hugeDir = base + QStringLiteral("/enorme");
    // The session's runtime folder (the single-instance lock) is a tmpfs, as /run/user is: a
    // folder on disk would add the lock's flush to every start.
    const QString run = QDir(QStringLiteral("/dev/shm")).exists() ? runtimeFolder.path() : base + QStringLiteral("/run-arranque");
    for (const QString &d : { emptyDir, fullDir, hugeDir, run })
        QDir().mkpath(d);
    QFile::setPermissions(run, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!writeBytes(fullDir + QStringLiteral("/enviara.ini"), fullBook())
        || !writeBytes(fullDir + QStringLiteral("/mru.ini"), fullRecentList())
        || !writeBytes(hugeDir + QStringLiteral("/enviara.ini"), fullBook())
        || !writeBytes(hugeDir + QStringLiteral("/mru.ini"), hugeRecentList()))
        return false;
    const struct
    {
        const char *name;
        QString folder;
    } cases[] = { { "bare Qt window", QString() }, { "bare Qt window, one label", kBareWithText },
        { "empty folder", emptyDir },
        { "full book, 5 recent lines", fullDir }, { "full book, 32,767 recent", hugeDir } };
    constexpr int kCases = int(std::size(cases));
    std::vector<StartUpFigures> figures[kCases];
    for (int turn = 0; turn < runs; ++turn) {
        for (int c = 0; c < kCases; ++c) {
            StartUpFigures a;
            if (!runStartUpChild(cases[c].folder, run, a)) {
                std::fprintf(stderr, "%s: the child failed\n", cases[c].name);
                return false;
            }
            figures[c].push_back(a);
        }
    }
    // Processor time on a shared machine only ever gains from the noise: the fastest run is
    // the steadiest figure of what the start-up itself costs, the median what a person meets.
    double cpu[kCases], fastest[kCases], mb[kCases];
    std::printf("start-up, exec to the main window shown: median (90th percentile) of %d runs each\n", runs);
    std::printf("%-28s %16s %16s %8s %16s %7s\n", "case", "wall ms", "cpu ms", "fastest", "peak MB", "items");
    for (int c = 0; c < kCases; ++c) {
        std::vector<double> wall, proc, memory;
        for (const StartUpFigures &a : figures[c]) {
            wall.push_back(a.wall);
            proc.push_back(a.cpu);
            memory.push_back(a.mb);
        }
        cpu[c] = Measurements::median(proc);
        fastest[c] = *std::min_element(proc.cbegin(), proc.cend());
        mb[c] = Measurements::median(memory);
        std::printf("%-28s %7.1f (%6.1f) %7.1f (%6.1f) %8.1f %7.1f (%6.1f) %7d\n", cases[c].name,
            Measurements::median(wall), Measurements::percentile90(wall), cpu[c], Measurements::percentile90(proc),
            fastest[c], mb[c], Measurements::percentile90(memory), figures[c].back().items);
    }
    std::printf("full book adds to empty: %.1f ms cpu, fastest %.1f (goal < 40), %.1f MB (goal < 8)\n",
        cpu[3] - cpu[2], fastest[3] - fastest[2], mb[3] - mb[2]);
    std::printf("and 32,767 recent lines: %.1f ms cpu, fastest %.1f, %.1f MB\n", cpu[4] - cpu[2],
        fastest[4] - fastest[2], mb[4] - mb[2]);
    std::printf("empty adds to bare: %.1f ms cpu, fastest %.1f, %.1f MB\n", cpu[2] - cpu[0], fastest[2] - fastest[0],
        mb[2] - mb[0]);
    std::printf("of which the font database, which one label loads: %.1f ms cpu, fastest %.1f, %.1f MB\n",
        cpu[1] - cpu[0], fastest[1] - fastest[0], mb[1] - mb[0]);
    std::printf("so the program itself, against a bare window that shows text: %.1f ms cpu, fastest %.1f (goal < 15), "
                "%.1f MB\n\n",
        cpu[2] - cpu[1], fastest[2] - fastest[1], mb[2] - mb[1]);
    return true;
}

struct BigFileCase
{
    const char *name;
    const char *file;
    QByteArray bytes;
    bool future;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    if (argc == 3 && qstrcmp(argv[1], "--hijo") == 0)
        return bigFileChild(argc, argv, QString::fromLocal8Bit(argv[2]));
    if (argc == 4 && qstrcmp(argv[1], "--arranque") == 0)
        return startUpChild(argc, argv, QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong());

    // Settings, data and the session directory go to folders of this run, never to the user's own.
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/datos")));
    qputenv("VELRISA_BUZON", QFile::encodeName(dir.path() + QStringLiteral("/sin-buzon")));

    if (!compareStartUps(dir.path(), argc > 1 ? QByteArray(argv[1]).toInt() : 11))
        return 1;
    const BigFileCase cases[] = {
        { "enviara.ini, 1,000,000 sections", "enviara.ini", hugeBook(), false },
        { "mru.ini, 32,767 lines, time in the future", "mru.ini", hugeRecentList(), true },
    };
    std::printf(
        "%-45s %10s %10s %12s %8s %6s %6s\n", "case", "file MB", "load ms", "peak MB", "x file", "items", "boxes");
    int n = 0;
    for (const BigFileCase &bigCase : cases) {
        const QString folder = dir.path() + QStringLiteral("/caso%1").arg(++n);
        QDir().mkpath(folder + QStringLiteral("/run"));
        QFile::setPermissions(
            folder + QStringLiteral("/run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString path = folder + QLatin1Char('/') + QLatin1String(bigCase.file);
        if (!writeBytes(path, bigCase.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        if (bigCase.future) {
            struct timespec t[2] {};
            ::clock_gettime(CLOCK_REALTIME, &t[0]);
            t[0].tv_sec += 3600;
            t[1] = t[0];
            ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), t, 0);
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder + QStringLiteral("/run"));
        p.setProcessEnvironment(env);
        p.start(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), { QStringLiteral("--hijo"), folder });
        if (!p.waitForFinished(-1) || p.exitCode() != 0) {
            std::fprintf(stderr, "%s: the child failed (%d)\n", bigCase.name, p.exitCode());
            return 1;
        }
        const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
        const double mb = double(bigCase.bytes.size()) / 1e6;
        const double peakMb = f.value(1).toDouble() * 1024 / 1e6;
        std::printf("%-45s %10.1f %10.1f %12.1f %8.2f %6d %6d\n", bigCase.name, mb, f.value(0).toDouble(), peakMb,
            peakMb / mb, f.value(3).toInt(), f.value(2).toInt());
    }
    std::printf("goals: load under 2000 ms, peak under 4 x file; no boxes\n");
    return 0;
}
