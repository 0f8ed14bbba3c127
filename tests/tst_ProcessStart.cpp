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
    void loteCorreEnSuCarpetaConElProgramaPrimeroEnPath();
    void esperaHastaElFinal();
    void esperaSinProcesoVuelveEnSeguida_data();
    void esperaSinProcesoVuelveEnSeguida();
    void esperaDeUnProcesoAjeno();
    void esperaDeUnZombiAjenoTermina();

private:
    QString escribir(const QString &relativa, const QByteArray &texto, bool ejecutable = true);
    qint64 writtenPid(const QString &relativa);
    QByteArray tuberia(const QString &relativa);
    QTemporaryDir m_dir;
};

namespace {

// ProcessStart::wait on a thread of its own, so that the test can act while it waits.
class EsperaEnHilo
{
public:
    // visto is asked on that thread as soon as the wait comes back.
    EsperaEnHilo(qint64 pid, std::function<bool()> visto)
        : m_hilo([this, pid, visto] {
            m_tid = ::gettid();
            m_resultado = ProcessStart::wait(pid);
            m_visto = visto();
            m_vuelta = true;
        })
    { }
    ~EsperaEnHilo() { terminar(); }
    bool vuelta() const { return m_vuelta; }
    // Whether the thread has gone to sleep inside the wait: it has found the process and
    // waits for its end.
    bool dormida() const
    {
        const QByteArray linea = leerTarea("stat");
        const qsizetype cierre = linea.lastIndexOf(')');
        return !m_vuelta && cierre > 0 && cierre + 2 < linea.size() && linea.at(cierre + 2) == 'S';
    }
    // How many times the thread has gone to sleep so far.
    qint64 suenos() const
    {
        for (const QByteArray &linea : leerTarea("status").split('\n')) {
            if (linea.startsWith("voluntary_ctxt_switches:"))
                return linea.mid(linea.indexOf(':') + 1).trimmed().toLongLong();
        }
        return -1;
    }
    bool resultado()
    {
        terminar();
        return m_resultado;
    }
    bool visto()
    {
        terminar();
        return m_visto;
    }

private:
    QByteArray leerTarea(const char *archivo) const
    {
        if (m_tid == 0)
            return {};
        QFile f(QStringLiteral("/proc/self/task/%1/%2").arg(m_tid.load()).arg(QLatin1String(archivo)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void terminar()
    {
        if (m_hilo.joinable())
            m_hilo.join();
    }
    std::atomic<pid_t> m_tid { 0 };
    std::atomic<bool> m_vuelta { false };
    bool m_resultado = false;
    bool m_visto = false;
    std::thread m_hilo;
};

// Once the wait is under way and the process reading the named pipe has opened it, checks
// that the wait has not come back while the process is held there, and lets it go on. A wait
// on a process that is not our child looks at it, sleeps and looks again: it has shown that it
// follows the process once it has gone back to sleep `vueltas` more times.
bool soltar(const QByteArray &tuberia, const EsperaEnHilo &espera, int vueltas = 0)
{
    bool listo = QTest::qWaitFor([&] { return espera.dormida() || espera.vuelta(); });
    const qint64 primero = espera.suenos();
    listo = listo && QTest::qWaitFor([&] {
        return espera.vuelta() || (espera.suenos() >= primero + vueltas && espera.dormida());
    });
    const bool esperando = listo && !espera.vuelta();
    // Let go in any case, so that no process is left behind.
    int fd = -1;
    const bool abierta
        = QTest::qWaitFor([&] { return (fd = ::open(tuberia.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; });
    const bool escrito = abierta && ::write(fd, "\n", 1) == 1;
    if (fd >= 0)
        ::close(fd);
    return esperando && escrito;
}

} // namespace

// A named pipe below the temporary folder, as the shell will quote it; empty on failure.
QByteArray tst_ProcessStart::tuberia(const QString &relativa)
{
    const QByteArray ruta = QFile::encodeName(m_dir.filePath(relativa));
    return ::mkfifo(ruta.constData(), 0600) == 0 ? ruta : QByteArray();
}

// Writes a file below the temporary folder and gives its absolute path; empty on failure.
QString tst_ProcessStart::escribir(const QString &relativa, const QByteArray &texto, bool ejecutable)
{
    const QString path = m_dir.filePath(relativa);
    return writeFile(path, texto, ejecutable ? kExecutable : QFileDevice::Permissions {}) ? path : QString();
}

// The process id that a script wrote to that file, once it is there.
qint64 tst_ProcessStart::writtenPid(const QString &relativa)
{
    const QString path = m_dir.filePath(relativa);
    if (!QTest::qWaitFor([&] { return QFileInfo(path).size() > 0; }))
        return 0;
    return readFile(path).trimmed().toLongLong();
}

void tst_ProcessStart::initTestCase()
{
    QVERIFY(prepareEnvironment(m_dir.path()));
    QVERIFY(!escribir(QStringLiteral("prog/herramienta"), "#!/bin/sh\nexit 0\n").isEmpty());
    QVERIFY(!escribir(QStringLiteral("prog/datos.txt"), "x\n", false).isEmpty());
    QVERIFY(!escribir(QStringLiteral("con blanco/ejecuta.bat"), "exit 0\n", false).isEmpty());
    QVERIFY(!escribir(QStringLiteral("prog/ls"), "#!/bin/sh\nexit 0\n").isEmpty());
}

void tst_ProcessStart::resolve_data()
{
    QTest::addColumn<QString>("linea");
    QTest::addColumn<QString>("programa"); // relative to the temporary folder, or absolute
    QTest::addColumn<QStringList>("argumentos");
    QTest::addColumn<bool>("lote");

    const auto fila
        = [](const char *nombre, const QString &linea, const QString &programa, const QStringList &argumentos,
              bool lote) { QTest::newRow(nombre) << linea << programa << argumentos << lote; };
    fila("nombre en la carpeta del programa", "herramienta a b", "prog/herramienta", QStringList { "a", "b" }, false);
    fila("la carpeta del programa antes que PATH", "ls -l", "prog/ls", QStringList { "-l" }, false);
    fila("nombre en PATH", "sh -c", "PATH", QStringList { "-c" }, false);
    fila("ruta con blancos", "%1/con blanco/ejecuta.bat", "con blanco/ejecuta.bat", QStringList {}, true);
    fila("blancos dobles entre argumentos", "herramienta  a", "prog/herramienta", QStringList { "a" }, false);
    fila("archivo no ejecutable", "datos.txt", "", QStringList {}, false);
    fila("no existe", "noexiste x", "", QStringList {}, false);
    fila("vacia", "", "", QStringList {}, false);
}

void tst_ProcessStart::resolve()
{
    QFETCH(QString, linea);
    QFETCH(QString, programa);
    QFETCH(QStringList, argumentos);
    QFETCH(bool, lote);

    const auto r = ProcessStart::resolve(
        linea.contains(QLatin1String("%1")) ? linea.arg(m_dir.path()) : linea, m_dir.path() + QStringLiteral("/prog"));
    const QString esperado = programa == QLatin1String("PATH")
        ? QStandardPaths::findExecutable(QFileInfo(linea.section(QLatin1Char(' '), 0, 0)).fileName())
        : programa.isEmpty() ? programa
                             : QFileInfo(m_dir.path() + QLatin1Char('/') + programa).absoluteFilePath();
    QCOMPARE(r.program, esperado);
    if (!programa.isEmpty()) {
        QCOMPARE(r.arguments, argumentos);
        QCOMPARE(r.batch, lote);
    }
}

void tst_ProcessStart::loteCorreEnSuCarpetaConElProgramaPrimeroEnPath()
{
    // The batch file lies among the user's data files, apart from the program; a `net` in
    // that folder or earlier on PATH (Samba's own) must never be the one that runs.
    const QString programa = QStringLiteral("programa $a 'b'");
    const QString datos = QStringLiteral("datos del usuario");
    const QString sistema = QStringLiteral("sistema");
    QVERIFY(!escribir(programa + QStringLiteral("/net"), "#!/bin/sh\necho \"propio $*\" > salida.txt\n").isEmpty());
    QVERIFY(!escribir(datos + QStringLiteral("/net"), "#!/bin/sh\necho datos > salida.txt\n").isEmpty());
    QVERIFY(!escribir(sistema + QStringLiteral("/net"), "#!/bin/sh\necho sistema > salida.txt\n").isEmpty());
    const QString lote = escribir(datos + QStringLiteral("/ejecuta.bat"), "net send X\n", false);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_dir.filePath(sistema)) + ':' + path);
    const qint64 pid = ProcessStart::start(ProcessStart::resolve(lote, m_dir.filePath(programa)));
    qputenv("PATH", path);
    QVERIFY(pid > 0);
    QVERIFY(ProcessStart::wait(pid));
    QCOMPARE(readFile(m_dir.filePath(datos + QStringLiteral("/salida.txt"))), QByteArray("propio send X\n"));
}

void tst_ProcessStart::esperaHastaElFinal()
{
    // The child holds on until the test lets it go, so the wait has surely begun before the end.
    const QString marca = m_dir.path() + QStringLiteral("/fin.txt");
    const QByteArray senal = tuberia(QStringLiteral("fin.senal"));
    QVERIFY(!senal.isEmpty());
    const QString script = escribir(
        QStringLiteral("lento.sh"), "#!/bin/sh\nread x < '" + senal + "'\ntouch '" + QFile::encodeName(marca) + "'\n");
    const qint64 pid = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(pid > 0);
    EsperaEnHilo espera(pid, [&] { return QFile::exists(marca); });
    QVERIFY(soltar(senal, espera));
    QVERIFY(espera.resultado());
    QVERIFY(espera.visto()); // the child had done its work when the wait came back
    // Reaped: no zombie is left behind.
    QCOMPARE(::kill(pid_t(pid), 0), -1);
}

void tst_ProcessStart::esperaSinProcesoVuelveEnSeguida_data()
{
    QTest::addColumn<qint64>("pid");
    const pid_t hijo = ::fork();
    if (hijo == 0)
        ::_exit(0);
    ::waitpid(hijo, nullptr, 0);
    QTest::newRow("ya recogido") << qint64(hijo);
    QTest::newRow("cero") << qint64(0);
    QTest::newRow("negativo") << qint64(-1);
}

void tst_ProcessStart::esperaSinProcesoVuelveEnSeguida()
{
    QFETCH(qint64, pid);
    QVERIFY(!ProcessStart::wait(pid));
}

void tst_ProcessStart::esperaDeUnProcesoAjeno()
{
    // A grandchild is not ours to reap: the wait follows it by id until it has ended, even
    // where nobody reaps it and it lingers as a zombie.
    const QByteArray senal = tuberia(QStringLiteral("nieto.senal"));
    QVERIFY(!senal.isEmpty());
    const QString script = escribir(QStringLiteral("padre.sh"),
        "#!/bin/sh\nread x < '" + senal + "' &\necho $! > '"
            + QFile::encodeName(m_dir.filePath(QStringLiteral("nieto.pid"))) + "'\n");
    const qint64 padre = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(padre > 0);
    QVERIFY(ProcessStart::wait(padre));
    const qint64 nieto = writtenPid(QStringLiteral("nieto.pid"));
    QVERIFY(nieto > 0);
    EsperaEnHilo espera(nieto, [] { return true; });
    QVERIFY(soltar(senal, espera, 2));
    QVERIFY(espera.resultado());
    QVERIFY(!ProcessStart::wait(nieto));
}

void tst_ProcessStart::esperaDeUnZombiAjenoTermina()
{
    // The parent never reaps its child (it has become a long sleep), so the ended child stays
    // a zombie: the wait must see it as ended, not wait for the parent to go.
    const QByteArray senal = tuberia(QStringLiteral("zombi.senal"));
    QVERIFY(!senal.isEmpty());
    const QString script = escribir(QStringLiteral("padre_dormido.sh"),
        "#!/bin/sh\nread x < '" + senal + "' &\necho $! > '"
            + QFile::encodeName(m_dir.filePath(QStringLiteral("zombi.pid"))) + "'\nexec sleep 30\n");
    const qint64 padre = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(padre > 0);
    const qint64 zombi = writtenPid(QStringLiteral("zombi.pid"));
    QVERIFY(zombi > 0);
    EsperaEnHilo espera(zombi, [] { return true; });
    QVERIFY(soltar(senal, espera, 2));
    QVERIFY(espera.resultado());
    // Still running, not merely unreaped: a zombie would answer kill(0) too.
    const bool padreVivo = ::waitpid(pid_t(padre), nullptr, WNOHANG) == 0;
    ::kill(pid_t(padre), SIGKILL);
    ProcessStart::wait(padre);
    QVERIFY(padreVivo);
}

QTEST_GUILESS_MAIN(tst_ProcessStart)
#include "tst_ProcessStart.moc"
