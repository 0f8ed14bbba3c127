// Start-up with hand-grown profile files: a 16 MB enviara.ini of one million sections, and a
// 1 MB mru.ini of 32,767 lines whose modification time lies an hour in the future. Each case
// starts in a fresh child process, which times frmPrincipal::load() and takes its peak resident
// memory above what the process held just before it (goals: under 2 s, under 4 times the file).

#include "mainwindow/frmPrincipal.h"
#include "runtime/posix/PosixRuntime.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

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
    QString command() const override { return QStringLiteral("-MIN"); }

    QString m_appPath;
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

// In the child: start the main window on the folder and print "ms kB boxes items".
int hijo(int argc, char **argv, const QString &carpeta)
{
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    RuntimeBanco rt;
    rt.m_appPath = carpeta;
    frmPrincipal ventana(rt);
    // From here on the peak counts only what the start-up itself takes.
    QFile borrar(QStringLiteral("/proc/self/clear_refs"));
    if (!borrar.open(QIODevice::WriteOnly) || borrar.write("5") != 1)
        return 2;
    borrar.close();
    const long long base = estadoKb("VmRSS");
    QElapsedTimer t;
    t.start();
    ventana.load();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const long long pico = estadoKb("VmHWM");
    const auto *destino = ventana.findChild<QComboBox *>(QStringLiteral("txtDestino"));
    std::printf("%.1f %lld %d %d\n", ms, pico - base, rt.m_cajas, destino ? destino->count() : -1);
    return 0;
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

    // Settings and the session directory go to a folder of this run, never to the user's own.
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));
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
