// Receiving: the repair of smbclient's garbled text in-process, on the largest it sends;
// velrisa-recibe's own run time (start to exit, what smbd and the sender wait
// for), in a fresh mailbox and in a full one where every delivery prunes; and, with root
// and Samba, the time from `net send` returning to the "Mensaje recibido" window drawn,
// with the desktop side in this process (on X when DISPLAY is set, else offscreen).
// Medians of 200 and 20 runs. Then what the desktop side writes for its history for each
// message, with a full history; and, with root and Samba, a flood of 2,000 messages from 8
// senders at once: the memory it costs and the windows it leaves open.
// Usage: bench_recepcion [historial]
#include "Medidas.h"
#include "net/SambaHost.h"
#include "receive/Historial.h"
#include "receive/ModeloRecibidos.h"
#include "receive/Recepcion.h"
#include "receive/frmRecibido.h"
#include "receiver/Entrega.h"
#include "receiver/Registro.h"
#include "receiver/ReparaTexto.h"
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

constexpr int64_t kEnero = 1767225600; // 2026-01-01 00:00:00 UTC

// One run of velrisa-recibe for a fresh message file; ms from spawn to exit.
double recibirUna(const QString &buzon, const QString &carpeta, int n, bool *ok, const QByteArray &usuarios = {},
    const char *para = "oficina1", const QByteArray &texto = "Hola, \xC2\xBFqu\xC3\xA9 tal? A\xC3\xB1o 2026")
{
    const QString archivo = carpeta + QStringLiteral("/msg.%1").arg(n);
    QFile f(archivo);
    f.open(QIODevice::WriteOnly);
    f.write(texto);
    f.close();
    const QByteArray programa(RECIBE_BINARY);
    const QByteArray opcion = "--buzon=" + QFile::encodeName(buzon);
    const QByteArray ruta = QFile::encodeName(archivo);
    const QByteArray lista = "--usuarios=" + usuarios;
    std::vector<char *> argv { const_cast<char *>(programa.constData()), const_cast<char *>(opcion.constData()) };
    if (!usuarios.isEmpty())
        argv.push_back(const_cast<char *>(lista.constData()));
    for (const char *a : { "ana", para, ruta.constData() })
        argv.push_back(const_cast<char *>(a));
    argv.push_back(nullptr);
    QElapsedTimer reloj;
    reloj.start();
    pid_t pid = 0;
    int estado = -1;
    *ok = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 && ::waitpid(pid, &estado, 0) == pid
        && WIFEXITED(estado) && WEXITSTATUS(estado) == 0;
    return double(reloj.nsecsElapsed()) / 1e6;
}

void tiempoDelReceptor(const QString &raiz)
{
    const QString buzon = raiz + QStringLiteral("/buzon-receptor");
    QDir().mkpath(buzon);
    bool ok = true;
    std::vector<double> vacio, lleno;
    for (int i = 0; i < 200; ++i) {
        bool bien = false;
        vacio.push_back(recibirUna(buzon, raiz, i, &bien));
        ok = ok && bien;
    }
    // Past 1,000 records every delivery looks at each one and removes the oldest.
    for (int i = 200; i < 1000; ++i) {
        bool bien = false;
        recibirUna(buzon, raiz, i, &bien);
    }
    for (int i = 1000; i < 1200; ++i) {
        bool bien = false;
        lleno.push_back(recibirUna(buzon, raiz, i, &bien));
        ok = ok && bien;
    }
    // A person's name: the name->user list read at each message, the record in the user's folder.
    std::vector<double> persona;
    bool okPersona = true;
    const passwd *pw = ::getpwuid(::geteuid());
    const QString lista = raiz + QStringLiteral("/velrisa-usuarios");
    if (::geteuid() == 0 && pw) {
        QFile f(lista);
        f.open(QIODevice::WriteOnly);
        f.write("# names that are one person's\njuan " + QByteArray(pw->pw_name) + '\n');
        f.close();
        const QString propia = buzon + QLatin1Char('/') + QString::fromLocal8Bit(pw->pw_name);
        QDir().mkpath(propia);
        ::chmod(QFile::encodeName(propia).constData(), 02770);
        for (int i = 1200; i < 1400; ++i) {
            bool bien = false;
            persona.push_back(recibirUna(buzon, raiz, i, &bien, QFile::encodeName(lista), "juan"));
            okPersona = okPersona && bien;
        }
    }
    const qsizetype registros = QDir(buzon).entryList(QDir::Files).size();
    const Entrega::Limites limites;
    std::printf("bench_recepcion: velrisa-recibe, spawn to exit, 200 runs each\n");
    std::printf("  fewer than 1,000 records : median %6.2f ms, 90th percentile %6.2f ms\n", Medidas::median(vacio),
        Medidas::percentil90(vacio));
    std::printf("  full mailbox (pruning)   : median %6.2f ms, 90th percentile %6.2f ms (goal: under 5 ms)\n",
        Medidas::median(lleno), Medidas::percentil90(lleno));
    std::printf("  records kept             : %lld (%zu to %zu expected); all runs ok: %s\n", qlonglong(registros),
        limites.maxRegistros - limites.holgura, limites.maxRegistros, ok ? "yes" : "NO");
    if (persona.empty())
        std::printf("  to a person's name       : skipped, needs root (the name->user list must be root's)\n");
    else
        std::printf("  to a person's name       : median %6.2f ms, 90th percentile %6.2f ms; all runs ok: %s\n",
            Medidas::median(persona), Medidas::percentil90(persona), okPersona ? "yes" : "NO");
}

// A field of /proc/self/io: "wchar" (bytes handed to write(), the X server's share included)
// or "write_bytes" (bytes this process sent to the file system, in whole pages). The children
// this process has waited for count too: see entregarAparte.
qint64 bytesEscritos(const char *campo)
{
    QFile f(QStringLiteral("/proc/self/io"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &linea : f.readAll().split('\n')) {
        if (linea.startsWith(campo))
            return linea.mid(linea.indexOf(':') + 1).trimmed().toLongLong();
    }
    return -1;
}

// A field of /proc/self/status in KB ("VmRSS", "VmHWM").
qint64 memoriaKb(const char *campo)
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &linea : f.readAll().split('\n')) {
        if (linea.startsWith(campo))
            return linea.mid(linea.indexOf(':') + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// One delivery by velrisa-recibe in a process this one never waits for (a shell in the
// background, reaped by somebody else), so that what it writes does not count as ours.
bool entregarAparte(const QString &buzon, const QString &carpeta, int n, const QString &texto)
{
    const QByteArray programa(RECIBE_BINARY);
    const QByteArray opcion = "--buzon=" + QFile::encodeName(buzon);
    const QByteArray archivo = QFile::encodeName(carpeta + QStringLiteral("/msg.%1").arg(n));
    const QByteArray bytes = texto.toUtf8();
    const char *argv[] = { "/bin/sh", "-c",
        "(printf %s \"$1\" > \"$2\" && exec \"$0\" \"$3\" ana oficina1 \"$2\") "
        "</dev/null >/dev/null 2>&1 &",
        programa.constData(), bytes.constData(), archivo.constData(), opcion.constData(), nullptr };
    pid_t pid = 0;
    int estado = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char **>(argv), environ) == 0
        && ::waitpid(pid, &estado, 0) == pid && WIFEXITED(estado) && WEXITSTATUS(estado) == 0;
}

// Each message arriving on its own (the pop-up closed, past the history's batching delay),
// with a full history of 1,000 messages of 1,500 characters.
void escrituraDelHistorial(const QString &raiz)
{
    const QString buzon = raiz + QStringLiteral("/buzon-historial");
    const QString datos = raiz + QStringLiteral("/datos-historial");
    QDir().mkpath(buzon);
    const QString largo(1500, QLatin1Char('x'));
    {
        Historial lleno(datos);
        for (int i = 0; i < Historial::kMaxMensajes; ++i)
            lleno.agregar({ QString::fromStdString(Registro::nombreArchivo(kEnero + i, 0, 1)), QStringLiteral("ana"),
                QStringLiteral("oficina1"), QDateTime::fromSecsSinceEpoch(kEnero + i, Qt::UTC), false, largo });
        lleno.guardar();
    }
    PosixRuntime rt;
    IconoBarra icono;
    Recepcion recepcion(rt, icono, buzon, datos);
    recepcion.iniciar();
    QTest::qWait(300);
    constexpr int kMensajes = 100;
    bool ok = true;
    const qint64 antes = bytesEscritos("write_bytes");
    const qint64 antesW = bytesEscritos("wchar");
    for (int i = 0; i < kMensajes; ++i) {
        bool bien = false;
        bien = entregarAparte(buzon, raiz, 5000 + i, largo);
        QElapsedTimer limite;
        limite.start();
        while (recepcion.abiertas().isEmpty() && limite.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        ok = ok && bien && !recepcion.abiertas().isEmpty();
        for (frmRecibido *w : recepcion.abiertas())
            w->close();
        QTest::qWait(250);
    }
    std::printf("bench_recepcion: history written per message, full history (1,000 of 1,500 characters)\n");
    std::printf("  one at a time, %d        : %8.0f bytes to the file system, %8.0f to write() (goal: under 10,240)\n",
        kMensajes, double(bytesEscritos("write_bytes") - antes) / kMensajes,
        double(bytesEscritos("wchar") - antesW) / kMensajes);

    // A flood straight into the mailbox, nobody closing a window.
    constexpr int kRafaga = 10000;
    const qint64 rssAntes = memoriaKb("VmRSS");
    const qint64 antesRafaga = bytesEscritos("write_bytes");
    int ventanasMax = 0;
    QElapsedTimer reloj;
    reloj.start();
    for (int i = 0; i < kRafaga; ++i) {
        ok = entregarAparte(buzon, raiz, 10000 + i, largo) && ok;
        QCoreApplication::processEvents();
        if (i % 100 == 0) {
            int visibles = 0;
            for (const QWidget *w : QApplication::topLevelWidgets())
                visibles += w->isVisible() ? 1 : 0;
            ventanasMax = std::max(ventanasMax, visibles);
        }
    }
    // Until the last deliveries are in.
    const auto ultima = [&recepcion] { return recepcion.historial().modelo().filas().last().id; };
    for (QString antes; antes != ultima();) {
        antes = ultima();
        QTest::qWait(1000);
    }
    std::printf("  flood of %d, in %.1f s : %8.0f bytes to the file system per message\n", kRafaga,
        double(reloj.elapsed()) / 1000, double(bytesEscritos("write_bytes") - antesRafaga) / kRafaga);
    std::printf("  memory over the flood    : %lld KB resident before, %lld KB after (+%lld KB); windows open at most: "
                "%d\n",
        qlonglong(rssAntes), qlonglong(memoriaKb("VmRSS")), qlonglong(memoriaKb("VmRSS") - rssAntes), ventanasMax);
    std::printf("  in the history at the end: %d; all delivered and shown: %s\n",
        int(recepcion.historial().modelo().rowCount()), ok ? "yes" : "NO");
}

// Times the first paint of every pop-up.
class Pintadas final : public QObject
{
public:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && qobject_cast<frmRecibido *>(o) && !m_vistas.contains(o)) {
            m_vistas.insert(o);
            m_ultima = m_reloj.nsecsElapsed();
        }
        return false;
    }
    QElapsedTimer m_reloj;
    QSet<QObject *> m_vistas;
    qint64 m_ultima = -1;
};

bool latenciaHastaLaVentana(const QString &raiz)
{
    if (::geteuid() != 0
        || QStandardPaths::findExecutable(QStringLiteral("smbd"), { QStringLiteral("/usr/sbin") }).isEmpty()) {
        std::printf("bench_recepcion: net send to window skipped, needs root and Samba\n");
        return true;
    }
    QFile::setPermissions(raiz, QFileDevice::Permissions(0x7755));
    const QString buzon = raiz + QStringLiteral("/buzon");
    QDir().mkpath(buzon);
    if (::chown(QFile::encodeName(buzon).constData(), 65534, 65534) != 0) {
        std::printf("bench_recepcion: the mailbox cannot be given to the guest user\n");
        return false;
    }
    QDir().mkpath(raiz + QStringLiteral("/samba"));
    SambaHost host(raiz + QStringLiteral("/samba"),
        SambaHost::receiving(QStringLiteral("BANCO"), QStringLiteral("PRUEBAS"), QStringLiteral("127.0.0.51"),
            QStringLiteral(RECIBE_BINARY), buzon));
    if (!host.start()) {
        std::printf("bench_recepcion: smbd did not start: %s\n", qPrintable(host.error()));
        return false;
    }
    const QString conf = SambaHost::writeClientConfig(raiz, QStringLiteral("lo"), QStringLiteral("PRUEBAS"));
    const QString programa = raiz + QStringLiteral("/programa");
    QDir().mkpath(programa);
    QFile::copy(QStringLiteral(NET_BINARY), programa + QStringLiteral("/net"));
    QFile ini(programa + QStringLiteral("/net.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Equipos]\nBANCO=127.0.0.51\n[Opciones]\nConfiguracion=" + conf.toUtf8() + "\n");
    ini.close();

    PosixRuntime rt;
    IconoBarra icono;
    Recepcion recepcion(rt, icono, buzon, raiz + QStringLiteral("/datos"));
    recepcion.iniciar();
    Pintadas pintadas;
    qApp->installEventFilter(&pintadas);
    pintadas.m_reloj.start();

    std::vector<double> desdeQueVuelve, desdeQueEmpieza;
    bool ok = true;
    for (int i = 0; i < 21; ++i) {
        QProcess net;
        qint64 vuelta = -1;
        QObject::connect(&net, &QProcess::finished, [&] { vuelta = pintadas.m_reloj.nsecsElapsed(); });
        pintadas.m_ultima = -1;
        pintadas.m_vistas.clear(); // the last round's windows are gone, and their addresses free
        const qint64 inicio = pintadas.m_reloj.nsecsElapsed();
        net.start(programa + QStringLiteral("/net"),
            { QStringLiteral("send"), QStringLiteral("BANCO"), QStringLiteral("mensaje %1").arg(i) });
        QElapsedTimer limite;
        limite.start();
        while ((vuelta < 0 || pintadas.m_ultima < 0) && limite.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        ok = ok && vuelta >= 0 && pintadas.m_ultima >= 0 && net.exitCode() == 0;
        if (i > 0 && vuelta >= 0 && pintadas.m_ultima >= 0) { // the first round warms the caches
            desdeQueVuelve.push_back(double(pintadas.m_ultima - vuelta) / 1e6);
            desdeQueEmpieza.push_back(double(pintadas.m_ultima - inicio) / 1e6);
        }
        for (frmRecibido *w : recepcion.abiertas())
            w->close();
        QTest::qWait(20);
    }
    std::printf("bench_recepcion: net send to the pop-up drawn (%s), median of %zu\n",
        qPrintable(QGuiApplication::platformName()), desdeQueVuelve.size());
    std::printf("  from net send returning  : %8.2f ms (goal: under 150 ms; negative: drawn before net returned)\n",
        Medidas::median(desdeQueVuelve));
    std::printf("  from net send starting   : %8.2f ms\n", Medidas::median(desdeQueEmpieza));
    std::printf("  all delivered and shown  : %s\n", ok ? "yes" : "NO");

    // The flood: 8 senders at once, 250 messages of 1,500 characters each, nobody closing a window.
    constexpr int kEmisores = 8;
    constexpr int kPorEmisor = 250;
    const qint64 rssAntes = memoriaKb("VmRSS");
    const int filasAntes = int(recepcion.historial().modelo().rowCount());
    std::vector<std::unique_ptr<QProcess>> emisores;
    QElapsedTimer reloj;
    reloj.start();
    for (int e = 0; e < kEmisores; ++e) {
        auto p = std::make_unique<QProcess>();
        p->start(QStringLiteral("/bin/sh"),
            { QStringLiteral("-c"),
                QStringLiteral("for i in $(seq 1 %1); do \"$0\" send BANCO \"f%2-$i $1\" | head -n 1; done")
                    .arg(kPorEmisor)
                    .arg(e),
                programa + QStringLiteral("/net"), QString(1500, QLatin1Char('y')) });
        emisores.push_back(std::move(p));
    }
    int ventanasMax = 0;
    qint64 rssMax = 0;
    const auto visibles = [] {
        int n = 0;
        for (const QWidget *w : QApplication::topLevelWidgets())
            n += w->isVisible() ? 1 : 0;
        return n;
    };
    while (std::any_of(emisores.cbegin(), emisores.cend(),
        [](const std::unique_ptr<QProcess> &p) { return p->state() != QProcess::NotRunning; })) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        ventanasMax = std::max(ventanasMax, visibles());
        rssMax = std::max(rssMax, memoriaKb("VmRSS"));
    }
    const double segundos = double(reloj.elapsed()) / 1000;
    int enviados = 0;
    for (auto &p : emisores)
        enviados += int(p->readAllStandardOutput().count("Mensaje enviado"));
    QTest::qWait(2000);
    ventanasMax = std::max(ventanasMax, visibles());
    const qint64 rssDespues = memoriaKb("VmRSS");
    std::printf("bench_recepcion: flood of %d messages of 1,500 characters from %d senders at once\n",
        kEmisores * kPorEmisor, kEmisores);
    std::printf("  sent                     : %d in %.1f s\n", enviados, segundos);
    std::printf("  resident memory          : %lld KB before, %lld KB at most, %lld KB after (+%lld KB)\n",
        qlonglong(rssAntes), qlonglong(rssMax), qlonglong(rssDespues), qlonglong(rssDespues - rssAntes));
    std::printf("  windows open             : %d at most, %d at the end\n", ventanasMax, visibles());
    std::printf("  history rows             : %d before, %d after (at most %d kept)\n", filasAntes,
        int(recepcion.historial().modelo().rowCount()), Historial::kMaxMensajes);
    ok = ok && enviados == kEmisores * kPorEmisor;
    return ok;
}

// The largest text smbclient sends, every piece of it raw (4,243 bytes as smbd hands it over).
void tiempoDeLaReparacion()
{
    QFile f(QStringLiteral(MENSAJES_CAPTURADOS "/euro_acentos.recibido"));
    const std::string recibido = f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    std::vector<double> veces;
    size_t largo = 0;
    for (int i = 0; i < 1000; ++i) {
        QElapsedTimer reloj;
        reloj.start();
        largo = ReparaTexto::reparar(recibido).size();
        veces.push_back(double(reloj.nsecsElapsed()) / 1e3);
    }
    std::printf("bench_recepcion: ReparaTexto::reparar, %zu bytes to %zu, 1000 runs\n", recibido.size(), largo);
    std::printf("  median %6.1f us, 90th percentile %6.1f us (a small part of one run below)\n", Medidas::median(veces),
        Medidas::percentil90(veces));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir raiz;
    qputenv("XDG_DATA_HOME", QFile::encodeName(raiz.filePath(QStringLiteral("datos-xdg"))));
    // "historial": the history's figures alone.
    const bool soloHistorial = argc > 1 && qstrcmp(argv[1], "historial") == 0;
    if (!soloHistorial) {
        tiempoDeLaReparacion();
        tiempoDelReceptor(raiz.path());
    }
    escrituraDelHistorial(raiz.path());
    if (soloHistorial)
        return 0;
    return latenciaHastaLaVentana(raiz.path()) ? 0 : 1;
}
