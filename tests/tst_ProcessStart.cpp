#include "fakes/TestSupport.h"
#include "runtime/posix/ProcessStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
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
    QTemporaryDir m_dir;
};

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
    const QString marca = m_dir.path() + QStringLiteral("/fin.txt");
    const QString script
        = escribir(QStringLiteral("lento.sh"), "#!/bin/sh\nsleep 0.5\ntouch '" + QFile::encodeName(marca) + "'\n");
    const qint64 pid = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(pid > 0);
    QVERIFY(ProcessStart::wait(pid));
    QVERIFY(QFile::exists(marca));
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
    const QString script = escribir(QStringLiteral("padre.sh"),
        "#!/bin/sh\nsleep 0.4 &\necho $! > '" + QFile::encodeName(m_dir.filePath(QStringLiteral("nieto.pid"))) + "'\n");
    const qint64 padre = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(padre > 0);
    QVERIFY(ProcessStart::wait(padre));
    const qint64 nieto = writtenPid(QStringLiteral("nieto.pid"));
    QVERIFY(nieto > 0);
    QVERIFY(ProcessStart::wait(nieto));
    QVERIFY(!ProcessStart::wait(nieto));
}

void tst_ProcessStart::esperaDeUnZombiAjenoTermina()
{
    // The parent never reaps its child (it has become sleep), so the ended child stays a
    // zombie: the wait must see it as ended, not wait for the parent to go.
    const QString script = escribir(QStringLiteral("padre_dormido.sh"),
        "#!/bin/sh\nsleep 0.2 &\necho $! > '" + QFile::encodeName(m_dir.filePath(QStringLiteral("zombi.pid")))
            + "'\nexec sleep 30\n");
    const qint64 padre = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(padre > 0);
    const qint64 zombi = writtenPid(QStringLiteral("zombi.pid"));
    QVERIFY(zombi > 0);
    QVERIFY(ProcessStart::wait(zombi));
    // Still running, not merely unreaped: a zombie would answer kill(0) too.
    const bool padreVivo = ::waitpid(pid_t(padre), nullptr, WNOHANG) == 0;
    ::kill(pid_t(padre), SIGKILL);
    ProcessStart::wait(padre);
    QVERIFY(padreVivo);
}

QTEST_GUILESS_MAIN(tst_ProcessStart)
#include "tst_ProcessStart.moc"
