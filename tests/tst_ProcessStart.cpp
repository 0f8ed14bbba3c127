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

// Starting programs by command line and waiting for them by id.
class tst_ProcessStart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void resolve_data();
    void resolve();
    void loteCorreEnSuCarpetaConElla1EnPath();
    void esperaHastaElFinal();
    void esperaSinProcesoVuelveEnSeguida_data();
    void esperaSinProcesoVuelveEnSeguida();
    void esperaDeUnProcesoAjeno();
    void esperaDeUnZombiAjenoTermina();

private:
    QString escribir(const QString &path, const QByteArray &texto, bool ejecutable);
    QTemporaryDir m_dir;
};

QString tst_ProcessStart::escribir(const QString &path, const QByteArray &texto, bool ejecutable)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(texto);
    f.close();
    if (ejecutable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    return QFileInfo(path).absoluteFilePath();
}

void tst_ProcessStart::initTestCase()
{
    qputenv("XDG_RUNTIME_DIR", m_dir.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_dir.path() + QStringLiteral("/config")).toUtf8());
    escribir(m_dir.path() + QStringLiteral("/prog/herramienta"), "#!/bin/sh\nexit 0\n", true);
    escribir(m_dir.path() + QStringLiteral("/prog/datos.txt"), "x\n", false);
    escribir(m_dir.path() + QStringLiteral("/con blanco/ejecuta.bat"), "exit 0\n", false);
    escribir(m_dir.path() + QStringLiteral("/prog/ls"), "#!/bin/sh\nexit 0\n", true);
}

void tst_ProcessStart::resolve_data()
{
    QTest::addColumn<QString>("linea");
    QTest::addColumn<QString>("programa"); // relative to the temporary folder, or absolute
    QTest::addColumn<QStringList>("argumentos");
    QTest::addColumn<bool>("lote");

    QTest::newRow("nombre en la carpeta del programa") << "herramienta a b"
                                                       << "prog/herramienta" << QStringList { "a", "b" } << false;
    QTest::newRow("la carpeta del programa antes que PATH") << "ls -l"
                                                            << "prog/ls" << QStringList { "-l" } << false;
    QTest::newRow("nombre en PATH") << "sh -c"
                                    << "PATH" << QStringList { "-c" } << false;
    QTest::newRow("ruta con blancos") << "%1/con blanco/ejecuta.bat"
                                      << "con blanco/ejecuta.bat" << QStringList {} << true;
    QTest::newRow("blancos dobles entre argumentos") << "herramienta  a"
                                                     << "prog/herramienta" << QStringList { "a" } << false;
    QTest::newRow("archivo no ejecutable") << "datos.txt"
                                           << "" << QStringList {} << false;
    QTest::newRow("no existe") << "noexiste x"
                               << "" << QStringList {} << false;
    QTest::newRow("vacia") << ""
                           << "" << QStringList {} << false;
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

void tst_ProcessStart::loteCorreEnSuCarpetaConElla1EnPath()
{
    const QString dir = m_dir.path() + QStringLiteral("/lote $a 'b'");
    escribir(dir + QStringLiteral("/net"), "#!/bin/sh\necho \"propio $*\" > salida.txt\n", true);
    const QString lote = escribir(dir + QStringLiteral("/ejecuta.bat"), "net send X\n", false);
    const qint64 pid = ProcessStart::start(ProcessStart::resolve(lote, m_dir.path()));
    QVERIFY(pid > 0);
    QVERIFY(ProcessStart::wait(pid));
    QFile salida(dir + QStringLiteral("/salida.txt"));
    QVERIFY(salida.open(QIODevice::ReadOnly));
    QCOMPARE(salida.readAll(), QByteArray("propio send X\n"));
}

void tst_ProcessStart::esperaHastaElFinal()
{
    const QString marca = m_dir.path() + QStringLiteral("/fin.txt");
    const QString script = escribir(m_dir.path() + QStringLiteral("/lento.sh"),
        "#!/bin/sh\nsleep 0.5\ntouch '" + QFile::encodeName(marca) + "'\n", true);
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
    const QString pidFile = m_dir.path() + QStringLiteral("/nieto.pid");
    const QString script = escribir(m_dir.path() + QStringLiteral("/padre.sh"),
        "#!/bin/sh\nsleep 0.4 &\necho $! > '" + QFile::encodeName(pidFile) + "'\n", true);
    const qint64 padre = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(padre > 0);
    QVERIFY(ProcessStart::wait(padre));
    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const qint64 nieto = f.readAll().trimmed().toLongLong();
    QVERIFY(nieto > 0);
    QVERIFY(ProcessStart::wait(nieto));
    QVERIFY(!ProcessStart::wait(nieto));
}

void tst_ProcessStart::esperaDeUnZombiAjenoTermina()
{
    // The parent never reaps its child (it has become sleep), so the ended child stays a
    // zombie: the wait must see it as ended, not wait for the parent to go.
    const QString pidFile = m_dir.path() + QStringLiteral("/zombi.pid");
    const QString script = escribir(m_dir.path() + QStringLiteral("/padre_dormido.sh"),
        "#!/bin/sh\nsleep 0.2 &\necho $! > '" + QFile::encodeName(pidFile) + "'\nexec sleep 30\n", true);
    const qint64 padre = ProcessStart::start(ProcessStart::resolve(script, m_dir.path()));
    QVERIFY(padre > 0);
    QTRY_VERIFY(QFileInfo(pidFile).size() > 0);
    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const qint64 zombi = f.readAll().trimmed().toLongLong();
    QVERIFY(zombi > 0);
    QVERIFY(ProcessStart::wait(zombi));
    const bool padreVivo = ::kill(pid_t(padre), 0) == 0;
    ::kill(pid_t(padre), SIGKILL);
    ProcessStart::wait(padre);
    QVERIFY(padreVivo);
}

QTEST_GUILESS_MAIN(tst_ProcessStart)
#include "tst_ProcessStart.moc"
