// Start-up, each case in a fresh child process of this program.
//
// First, from exec to the main window shown, as main.cpp starts it: a bare Qt window, the program
// on an empty folder, on a full address book (32,767 entries in each list) with a full recent list
// of the usual 5 lines, and on the same book with 32,767 recent lines, in turns, several runs each. Each child reports
// the wall time since the parent started it, its own processor time and its peak resident memory; the figures that
// count are processor time and memory against the bare window of the same run (goals: the full folder adds under 40 ms
// of processor time and under 8 MB to the empty one, and the empty one stays within 15 ms of the bare window).
//
// Then hand-grown profile files: a 16 MB enviara.ini of one million sections, and a 1 MB mru.ini
// of 32,767 lines whose modification time lies an hour in the future. The child times
// Startup::start() and takes its peak resident memory above what the process held just
// before it (goals: under 2 s, under 4 times the file).

#include "Medidas.h"
#include "app/Startup.h"
#include "mainwindow/frmPrincipal.h"
#include "runtime/posix/PosixRuntime.h"
#include "widgets/Apariencia.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>

#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

namespace {

// The production runtime with the program folder of the case and no box ever shown.
class RuntimeBanco final : public PosixRuntime
{
public:
    void msgBox(const QString &, Icon, const QString &) override { ++m_cajas; }
    QString appPath() const override { return m_appPath; }
    QString command() const override { return m_command; }

    QString m_appPath;
    QString m_command = QStringLiteral("-MIN");
    int m_cajas = 0;
};

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), -1 when it cannot be read.
long long estadoKb(const char *campo)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefijo = QByteArray(campo) + ':';
    for (const QByteArray &linea : f.readAll().split('\n')) {
        if (linea.startsWith(prefijo))
            return linea.mid(prefijo.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool escribir(const QString &ruta, const QByteArray &bytes)
{
    QFile f(ruta);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray libretaGrande()
{
    QByteArray b;
    b.reserve(16'100'000);
    for (const char *seccion : { "Equipos", "Redes" }) {
        b += QByteArray("[") + seccion + "]\r\n";
        for (int i = 1; i <= 100; ++i)
            b += QByteArray::number(i) + "=EQUIPO" + QByteArray::number(i) + "\r\n";
        b += "Total=100\r\n";
    }
    char seccion[32];
    for (int i = 0; i < 1'000'000; ++i) {
        std::snprintf(seccion, sizeof seccion, "[%07d]\r\nk=v\r\n", i);
        b += seccion;
    }
    return b;
}

QByteArray recientesGrande()
{
    QByteArray b = "[Info]\r\nMaximo=32767\r\nActualMRU=32767\r\nTotal=32767\r\n";
    for (int i = 1; i <= 32767; ++i)
        b += QByteArray::number(i) + "=EQUIPO" + QByteArray::number(i) + " OFICINA-2\r\n";
    return b;
}

// Both lists full, of names as long as NetBIOS names get (15 characters).
QByteArray libretaLlena()
{
    QByteArray b;
    for (const char *seccion : { "Equipos", "Redes" }) {
        b += QByteArray("[") + seccion + "]\r\n";
        for (int i = 1; i <= 32767; ++i)
            b += QByteArray::number(i) + '=' + QByteArray(seccion).left(3) + "-OFICINA-" + QByteArray::number(i)
                + "\r\n";
        b += "Total=32767\r\n";
    }
    return b;
}

// A recent list that is full at its usual capacity.
QByteArray recientesLlenos()
{
    QByteArray b = "[Info]\r\nActualMRU=5\r\n";
    for (int i = 1; i <= 5; ++i)
        b += QByteArray::number(i) + "=EQU-OFICINA-" + QByteArray::number(i) + " RED-OFICINA-2\r\n";
    return b;
}

qint64 monotonoNs()
{
    struct timespec t
    {
    };
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// In the child: start as main.cpp does (or a bare window), wait until the window is shown and
// exposed, and print "wall-ms cpu-ms peak-kB items".
int arranque(int argc, char **argv, const QString &carpeta, qint64 inicio)
{
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QWidget *ventana = nullptr;
    QMainWindow desnuda;
    RuntimeBanco rt;
    std::unique_ptr<Startup> programa;
    if (carpeta.isEmpty()) {
        desnuda.resize(584, 303);
        desnuda.show();
        ventana = &desnuda;
    } else {
        QApplication::setApplicationName(QStringLiteral("Velrisa"));
        Apariencia::aplicar();
        QApplication::setQuitOnLastWindowClosed(false);
        rt.m_appPath = carpeta;
        rt.m_command.clear();
        programa = std::make_unique<Startup>(rt);
        programa->start();
        ventana = &programa->mainWindow();
    }
    QElapsedTimer espera;
    espera.start();
    while (!(ventana->windowHandle() && ventana->windowHandle()->isExposed()) && espera.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    const qint64 fin = monotonoNs();
    struct timespec cpu
    {
    };
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    const auto *destino = ventana->findChild<QComboBox *>(QStringLiteral("txtDestino"));
    std::printf("%.2f %.2f %lld %d\n", double(fin - inicio) / 1e6, double(cpu.tv_sec) * 1e3 + double(cpu.tv_nsec) / 1e6,
        estadoKb("VmHWM"), destino ? destino->count() : 0);
    return ventana->isVisible() ? 0 : 3;
}

// In the child: start the main window on the folder and print "ms kB boxes items".
int hijo(int argc, char **argv, const QString &carpeta)
{
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    RuntimeBanco rt;
    rt.m_appPath = carpeta;
    Startup inicio(rt);
    frmPrincipal &ventana = inicio.mainWindow();
    // From here on the peak counts only what the start-up itself takes.
    QFile borrar(QStringLiteral("/proc/self/clear_refs"));
    if (!borrar.open(QIODevice::WriteOnly) || borrar.write("5") != 1)
        return 2;
    borrar.close();
    const long long base = estadoKb("VmRSS");
    QElapsedTimer t;
    t.start();
    inicio.start();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const long long pico = estadoKb("VmHWM");
    const auto *destino = ventana.findChild<QComboBox *>(QStringLiteral("txtDestino"));
    std::printf("%.1f %lld %d %d\n", ms, pico - base, rt.m_cajas, destino ? destino->count() : -1);
    return 0;
}

// One child of the start-up comparison; false when it failed.
struct MedidaArranque
{
    double pared = 0, cpu = 0, mb = 0;
    int elementos = 0;
};

bool arrancar(const QString &carpeta, const QString &runDir, MedidaArranque &a)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runDir);
    p.setProcessEnvironment(env);
    p.start(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")),
        { QStringLiteral("--arranque"), carpeta, QString::number(monotonoNs()) });
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
    a = { f.value(0).toDouble(), f.value(1).toDouble(), f.value(2).toDouble() * 1024 / 1e6, f.value(3).toInt() };
    return f.size() == 4;
}

// The bare window, the empty folder and the full one, in turns, `veces` runs each.
bool arranques(const QString &base, int veces)
{
    const QString vacia = base + QStringLiteral("/vacia");
    const QString llena = base + QStringLiteral("/llena");
    const QString enorme = base + QStringLiteral("/enorme");
    const QString run = base + QStringLiteral("/run-arranque");
    for (const QString &d : { vacia, llena, enorme, run })
        QDir().mkpath(d);
    QFile::setPermissions(run, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!escribir(llena + QStringLiteral("/enviara.ini"), libretaLlena())
        || !escribir(llena + QStringLiteral("/mru.ini"), recientesLlenos())
        || !escribir(enorme + QStringLiteral("/enviara.ini"), libretaLlena())
        || !escribir(enorme + QStringLiteral("/mru.ini"), recientesGrande()))
        return false;
    const struct
    {
        const char *nombre;
        QString carpeta;
    } casos[] = { { "bare Qt window", QString() }, { "empty folder", vacia }, { "full book, 5 recent lines", llena },
        { "full book, 32,767 recent", enorme } };
    constexpr int kCasos = int(std::size(casos));
    std::vector<MedidaArranque> medidas[kCasos];
    for (int vez = 0; vez < veces; ++vez) {
        for (int c = 0; c < kCasos; ++c) {
            MedidaArranque a;
            if (!arrancar(casos[c].carpeta, run, a)) {
                std::fprintf(stderr, "%s: the child failed\n", casos[c].nombre);
                return false;
            }
            medidas[c].push_back(a);
        }
    }
    double cpu[kCasos], mb[kCasos];
    std::printf("start-up, exec to the main window shown: median (90th percentile) of %d runs each\n", veces);
    std::printf("%-28s %16s %16s %16s %7s\n", "case", "wall ms", "cpu ms", "peak MB", "items");
    for (int c = 0; c < kCasos; ++c) {
        std::vector<double> pared, proc, memoria;
        for (const MedidaArranque &a : medidas[c]) {
            pared.push_back(a.pared);
            proc.push_back(a.cpu);
            memoria.push_back(a.mb);
        }
        cpu[c] = Medidas::median(proc);
        mb[c] = Medidas::median(memoria);
        std::printf("%-28s %7.1f (%6.1f) %7.1f (%6.1f) %7.1f (%6.1f) %7d\n", casos[c].nombre, Medidas::median(pared),
            Medidas::percentil90(pared), cpu[c], Medidas::percentil90(proc), mb[c], Medidas::percentil90(memoria),
            medidas[c].back().elementos);
    }
    std::printf(
        "full book adds to empty: %.1f ms cpu (goal < 40), %.1f MB (goal < 8)\n", cpu[2] - cpu[1], mb[2] - mb[1]);
    std::printf("and 32,767 recent lines: %.1f ms cpu, %.1f MB\n", cpu[3] - cpu[1], mb[3] - mb[1]);
    std::printf("empty adds to bare: %.1f ms cpu (goal < 15), %.1f MB\n\n", cpu[1] - cpu[0], mb[1] - mb[0]);
    return true;
}

struct Caso
{
    const char *nombre;
    const char *archivo;
    QByteArray bytes;
    bool futuro;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    if (argc == 3 && qstrcmp(argv[1], "--hijo") == 0)
        return hijo(argc, argv, QString::fromLocal8Bit(argv[2]));
    if (argc == 4 && qstrcmp(argv[1], "--arranque") == 0)
        return arranque(argc, argv, QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong());

    // Settings, data and the session directory go to folders of this run, never to the user's own.
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/datos")));
    qputenv("VELRISA_BUZON", QFile::encodeName(dir.path() + QStringLiteral("/sin-buzon")));

    if (!arranques(dir.path(), argc > 1 ? QByteArray(argv[1]).toInt() : 7))
        return 1;
    const Caso casos[] = {
        { "enviara.ini, 1,000,000 sections", "enviara.ini", libretaGrande(), false },
        { "mru.ini, 32,767 lines, time in the future", "mru.ini", recientesGrande(), true },
    };
    std::printf(
        "%-45s %10s %10s %12s %8s %6s %6s\n", "case", "file MB", "load ms", "peak MB", "x file", "items", "boxes");
    int n = 0;
    for (const Caso &caso : casos) {
        const QString carpeta = dir.path() + QStringLiteral("/caso%1").arg(++n);
        QDir().mkpath(carpeta + QStringLiteral("/run"));
        QFile::setPermissions(
            carpeta + QStringLiteral("/run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString ruta = carpeta + QLatin1Char('/') + QLatin1String(caso.archivo);
        if (!escribir(ruta, caso.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(ruta));
            return 1;
        }
        if (caso.futuro) {
            struct timespec t[2] {};
            ::clock_gettime(CLOCK_REALTIME, &t[0]);
            t[0].tv_sec += 3600;
            t[1] = t[0];
            ::utimensat(AT_FDCWD, QFile::encodeName(ruta).constData(), t, 0);
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), carpeta + QStringLiteral("/run"));
        p.setProcessEnvironment(env);
        p.start(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), { QStringLiteral("--hijo"), carpeta });
        if (!p.waitForFinished(-1) || p.exitCode() != 0) {
            std::fprintf(stderr, "%s: the child failed (%d)\n", caso.nombre, p.exitCode());
            return 1;
        }
        const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
        const double mb = double(caso.bytes.size()) / 1e6;
        const double picoMb = f.value(1).toDouble() * 1024 / 1e6;
        std::printf("%-45s %10.1f %10.1f %12.1f %8.2f %6d %6d\n", caso.nombre, mb, f.value(0).toDouble(), picoMb,
            picoMb / mb, f.value(3).toInt(), f.value(2).toInt());
    }
    std::printf("goals: load under 2000 ms, peak under 4 x file; no boxes\n");
    return 0;
}
