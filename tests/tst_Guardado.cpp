#include "fakes/VentanaEnvioPrueba.h"

#include "addressbook/Module.h"
#include "dispatch/Despacho.h"
#include "fakes/TestSupport.h"
#include "mainwindow/ComboDestinatarios.h"
#include "mainwindow/ListaMRU.h"

#include <QApplication>
#include <QComboBox>
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
QString g_sinEspacioPropio;

bool escribirEn(const char *ruta, const QByteArray &texto)
{
    QFile f(QString::fromLatin1(ruta));
    return f.open(QIODevice::WriteOnly) && f.write(texto) == texto.size() && f.flush();
}

// Must run while the process has a single thread: a private mount namespace, where a small
// file system can be filled up without touching anybody else's. Without the right to make
// one, a user namespace of our own (where the kernel allows it) gives it, the user unchanged.
void entrarEnEspacioPropio()
{
    auto error = [](const char *que) {
        g_sinEspacioPropio
            = QStringLiteral("%1: %2").arg(QLatin1String(que), QString::fromLocal8Bit(std::strerror(errno)));
    };
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return error("unshare");
        if (!escribirEn("/proc/self/setgroups", "deny")
            || !escribirEn("/proc/self/uid_map", QByteArray::number(uid) + ' ' + QByteArray::number(uid) + " 1")
            || !escribirEn("/proc/self/gid_map", QByteArray::number(gid) + ' ' + QByteArray::number(gid) + " 1"))
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
class LimiteTamano
{
public:
    explicit LimiteTamano(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_antes);
        m_senal = ::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
        const struct rlimit nuevo
        {
            bytes, m_antes.rlim_max
        };
        m_puesto = ::setrlimit(RLIMIT_FSIZE, &nuevo) == 0;
    }
    ~LimiteTamano()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_antes);
        ::signal(SIGXFSZ, m_senal);
    }
    bool puesto() const { return m_puesto; }

private:
    struct rlimit m_antes
    {
    };
    sighandler_t m_senal;
    bool m_puesto = false;
};

} // namespace

// A save that does not fit (a full disk, a file-size limit) fails as the program's own boxes
// say, and leaves the file it should have replaced exactly as it was, with nothing beside it.
class tst_Guardado : public QObject
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
    bool llenar(const QString &carpeta);

    QTemporaryDir m_tmp;
    QString m_pequeno; // the mount point of the small file system, empty without one
    QString m_sinPequeno; // why there is none
};

void tst_Guardado::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    QVERIFY(prepareEnvironment(m_tmp.path()));
    m_sinPequeno = g_sinEspacioPropio;
    if (!m_sinPequeno.isEmpty())
        return;
    const QString punto = m_tmp.filePath(QStringLiteral("pequeno"));
    QVERIFY(QDir().mkpath(punto));
    if (::mount("velrisa-prueba", QFile::encodeName(punto).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
            "size=256k,mode=0755")
        != 0) {
        m_sinPequeno = QStringLiteral("mount tmpfs: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_pequeno = punto;
}

void tst_Guardado::cleanupTestCase()
{
    if (!m_pequeno.isEmpty())
        ::umount2(QFile::encodeName(m_pequeno).constData(), MNT_DETACH);
}

void tst_Guardado::cleanup()
{
    // Room again for the next case, whatever this one left.
    if (!m_pequeno.isEmpty()) {
        for (const QString &carpeta : QDir(m_pequeno).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(m_pequeno + QLatin1Char('/') + carpeta).removeRecursively();
    }
}

bool tst_Guardado::llenar(const QString &carpeta)
{
    const int fd = ::open(QFile::encodeName(carpeta + QStringLiteral("relleno")).constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const QByteArray bloque(4096, 'x');
    ssize_t n = 0;
    while ((n = ::write(fd, bloque.constData(), size_t(bloque.size()))) > 0) { }
    const bool lleno = n < 0 && errno == ENOSPC;
    ::close(fd);
    return lleno;
}

void tst_Guardado::saveThatDoesNotFitChangesNothing_data()
{
    QTest::addColumn<QString>("archivo");
    QTest::addColumn<bool>("discoLleno"); // else a file-size limit
    for (const char *archivo : { "enviara.ini", "mru.ini", "ejecuta.bat" }) {
        QTest::addRow("%s, full disk", archivo) << QString::fromLatin1(archivo) << true;
        QTest::addRow("%s, size limit", archivo) << QString::fromLatin1(archivo) << false;
    }
}

void tst_Guardado::saveThatDoesNotFitChangesNothing()
{
    QFETCH(QString, archivo);
    QFETCH(bool, discoLleno);
    if (discoLleno && m_pequeno.isEmpty())
        QSKIP(qPrintable(QStringLiteral("no small file system of our own to fill (%1): the full-disk case is not run")
                             .arg(m_sinPequeno)));
    const QString prog = newFolder(discoLleno ? m_pequeno : m_tmp.path());
    QVERIFY(!prog.isEmpty());
    QVERIFY(prepareProgram(prog));
    const QString ruta = prog + archivo;

    RuntimePrueba rt;
    rt.m_appPath = prog.chopped(1);
    Module module(rt, prog);
    QComboBox combo;
    combo.setEditable(true);
    ComboDestinatarios caja(&combo);
    VentanaEnvioPrueba ventana;
    ventana.m_ruta = prog;

    // What is there before, written while there is room.
    if (archivo == QLatin1String("enviara.ini")) {
        QVERIFY(writeBook(module, { QStringLiteral("ana"), QStringLiteral("luis") }, { QStringLiteral("casa") }));
    } else if (archivo == QLatin1String("mru.ini")) {
        caja.setText(QStringLiteral("ana luis"));
        ListaMRU::GuardarMRU(module, caja);
    } else {
        QVERIFY(writeFile(ruta, "net send ANTES hola > \"mensaje.txt\"\n"));
    }
    const QByteArray antes = readFile(ruta);
    QVERIFY(antes.size() > 10);
    QVERIFY(rt.m_boxes.isEmpty());
    const QStringList archivosAntes = QDir(prog).entryList(QDir::Files | QDir::Hidden | QDir::System);

    {
        std::unique_ptr<LimiteTamano> limite;
        if (discoLleno)
            QVERIFY(llenar(prog));
        else
            QVERIFY((limite = std::make_unique<LimiteTamano>(8))->puesto());
        if (archivo == QLatin1String("enviara.ini")) {
            module.ListaEquipos << QStringLiteral("eva");
            module.TotalEquipos = 3;
            module.GuardarListas();
        } else if (archivo == QLatin1String("mru.ini")) {
            caja.setText(QStringLiteral("eva"));
            ListaMRU::GuardarMRU(module, caja);
        } else {
            QCOMPARE(int(Despacho(rt, ventana).EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("hola"))), 0);
        }
    }

    if (archivo == QLatin1String("enviara.ini")) {
        QCOMPARE(puffs(rt), 3 + 1 + 2); // one per entry and one per "Total"
    } else if (archivo == QLatin1String("mru.ini")) {
        QCOMPARE(puffs(rt), 2); // "ActualMRU" and the new line
    } else {
        QCOMPARE(rt.m_boxes.size(), 1);
        QCOMPARE(rt.m_boxes.at(0).title, QStringLiteral("Error: 57"));
        QCOMPARE(rt.m_boxes.at(0).icon, Runtime::Icon::Critical);
        QVERIFY2(rt.m_boxes.at(0).text.contains(ruta), qPrintable(rt.m_boxes.at(0).text));
        QVERIFY(rt.m_shellCalls.isEmpty());
        QCOMPARE(ventana.mensajes().filas(), 1);
    }
    QCOMPARE(rt.m_boxes.size(), archivo == QLatin1String("ejecuta.bat") ? 1 : puffs(rt));
    QCOMPARE(readFile(ruta), antes);
    QFile::remove(prog + QStringLiteral("relleno"));
    QCOMPARE(QDir(prog).entryList(QDir::Files | QDir::Hidden | QDir::System), archivosAntes);
}

int main(int argc, char *argv[])
{
    entrarEnEspacioPropio();
    QApplication app(argc, argv);
    tst_Guardado prueba;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&prueba, argc, argv);
}

#include "tst_Guardado.moc"
