#include "fakes/TestSupport.h"
#include "runtime/DataFile.h"
#include "runtime/posix/DataFolder.h"
#include "runtime/posix/PosixRuntime.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace TestSupport;

// The production runtime's per-user places: where the data files go and where the setting lives.
class tst_PosixRuntime : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void dataFilesGoWhereTheUserMayWrite_data();
    void dataFilesGoWhereTheUserMayWrite();
    void bookBesideTheProgramIsCopiedOnlyWhenSafe_data();
    void bookBesideTheProgramIsCopiedOnlyWhenSafe();
    void settingMovesOnceFromWhereEarlierVersionsKeptIt();

private:
    QTemporaryDir m_dir;
};

namespace {

uint modeOf(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? uint(st.st_mode & 07777) : 0u;
}

} // namespace

void tst_PosixRuntime::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(prepareEnvironment(m_dir.path()));
}

void tst_PosixRuntime::dataFilesGoWhereTheUserMayWrite_data()
{
    QTest::addColumn<QString>("programa"); // "escribible", "solo lectura" or "instalado"
    QTest::addColumn<QString>("xdg"); // XDG_DATA_HOME: "absoluta", "ninguna" or "relativa"
    QTest::addColumn<bool>("enPrograma");
    QTest::newRow("build folder") << "escribible"
                                  << "absoluta" << true;
    QTest::newRow("read-only program folder") << "solo lectura"
                                              << "absoluta" << false;
    QTest::newRow("installed copy, even for root") << "instalado"
                                                   << "absoluta" << false;
    QTest::newRow("no XDG_DATA_HOME") << "solo lectura"
                                      << "ninguna" << false;
    QTest::newRow("relative XDG_DATA_HOME is ignored") << "solo lectura"
                                                       << "relativa" << false;
}

void tst_PosixRuntime::dataFilesGoWhereTheUserMayWrite()
{
    QFETCH(QString, programa);
    QFETCH(QString, xdg);
    QFETCH(bool, enPrograma);

    const QString base = newFolder(m_dir.path());
    const QString exe = base + QStringLiteral("lib/velrisa");
    QVERIFY(QDir().mkpath(exe));
    if (programa == QLatin1String("instalado"))
        QVERIFY(writeFile(exe + QStringLiteral("/instalado.txt"), "x\n"));
    // The book and recent list the user had beside the program; the user's folder has none yet.
    const QByteArray libreta = "[Equipos]\r\n1=Ana\r\nTotal=1\r\n";
    const QByteArray recientes = "[Info]\r\n1=ana luis\r\nActualMRU=1\r\n";
    QVERIFY(writeFile(exe + QStringLiteral("/enviara.ini"), libreta));
    QVERIFY(writeFile(exe + QStringLiteral("/mru.ini"), recientes));
    const QStringList antes = QDir(exe).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    if (programa == QLatin1String("solo lectura"))
        QVERIFY(setMode(exe, 0555));

    const QString home = base + QStringLiteral("casa");
    QVERIFY(QDir().mkpath(home));
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(home));
    QString esperada = home + QStringLiteral("/.local/share/velrisa");
    if (xdg == QLatin1String("absoluta")) {
        qputenv("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("xdg/datos")));
        esperada = base + QStringLiteral("xdg/datos/velrisa");
    } else if (xdg == QLatin1String("relativa")) {
        qputenv("XDG_DATA_HOME", "xdg/datos");
    } else {
        qunsetenv("XDG_DATA_HOME");
    }
    const QString elegida = DataFolder::choose(exe + QLatin1Char('/'));
    // The received messages go to the user's folder by the same rule, wherever the book is.
    const QString propia = DataFolder::userFolder();
    qputenv("HOME", savedHome);
    qputenv("XDG_DATA_HOME", savedXdg);
    setMode(exe, 0755);

    QCOMPARE(propia, esperada);
    if (enPrograma) {
        QCOMPARE(elegida, exe);
        QVERIFY(!QFileInfo::exists(esperada));
        return;
    }
    QCOMPARE(elegida, esperada);
    QCOMPARE(readFile(esperada + QStringLiteral("/enviara.ini")), libreta);
    QCOMPARE(readFile(esperada + QStringLiteral("/mru.ini")), recientes);
    // The folder and every parent made for it are the user's alone; the rest stays as it was.
    QString made = esperada;
    while (made != base + QStringLiteral("xdg") && made != home) {
        QCOMPARE(modeOf(made), 0700u);
        made = QFileInfo(made).absolutePath();
    }
    QCOMPARE(QDir(exe).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), antes);
    QVERIFY(!QFileInfo::exists(exe + QStringLiteral("/xdg")));
}

void tst_PosixRuntime::bookBesideTheProgramIsCopiedOnlyWhenSafe_data()
{
    QTest::addColumn<QString>("caso");
    QTest::newRow("the user's own book stays") << "propia";
    QTest::newRow("even a dangling link of the user's") << "enlace propio";
    QTest::newRow("a link beside the program is not followed") << "enlace";
    QTest::newRow("a file beyond the bound is not read") << "grande";
}

void tst_PosixRuntime::bookBesideTheProgramIsCopiedOnlyWhenSafe()
{
    QFETCH(QString, caso);
    const QString base = newFolder(m_dir.path());
    const QString exe = base + QStringLiteral("programa");
    const QString datos = base + QStringLiteral("xdg/velrisa");
    QVERIFY(QDir().mkpath(exe));
    QVERIFY(QDir().mkpath(datos));
    const QString origen = exe + QStringLiteral("/enviara.ini");
    const QString destino = datos + QStringLiteral("/enviara.ini");
    const QByteArray otra = "[Equipos]\r\n1=Otra\r\nTotal=1\r\n";
    if (caso == QLatin1String("propia") || caso == QLatin1String("enlace propio")) {
        QVERIFY(writeFile(origen, "[Equipos]\r\n1=Ana\r\nTotal=1\r\n"));
        if (caso == QLatin1String("propia"))
            QVERIFY(writeFile(destino, "[Equipos]\r\nTotal=0\r\n"));
        else
            QVERIFY(QFile::link(base + QStringLiteral("falta.ini"), destino));
    } else if (caso == QLatin1String("enlace")) {
        QVERIFY(writeFile(base + QStringLiteral("otra.ini"), otra));
        QVERIFY(QFile::link(base + QStringLiteral("otra.ini"), origen));
    } else {
        QFile grande(origen);
        QVERIFY(grande.open(QIODevice::WriteOnly) && grande.write(otra) == otra.size());
        QVERIFY(grande.resize(qint64(DataFile::kReadLimit) + 1));
    }
    QVERIFY(setMode(exe, 0555));
    const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("xdg")));
    const QString elegida = DataFolder::choose(exe);
    qputenv("XDG_DATA_HOME", savedXdg);
    setMode(exe, 0755);

    QCOMPARE(elegida, datos);
    if (caso == QLatin1String("propia"))
        QCOMPARE(readFile(destino), QByteArray("[Equipos]\r\nTotal=0\r\n"));
    else if (caso == QLatin1String("enlace propio"))
        QCOMPARE(QFileInfo(destino).symLinkTarget(), base + QStringLiteral("falta.ini"));
    else
        QVERIFY(!QFileInfo::exists(destino) && !QFileInfo(destino).isSymLink());
    // Nothing else appears in the user's folder, no temporary file either.
    const QStringList quedan
        = QDir(datos).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    QCOMPARE(quedan,
        caso.startsWith(QLatin1String("enlace propio")) || caso == QLatin1String("propia")
            ? QStringList { "enviara.ini" }
            : QStringList {});
}

void tst_PosixRuntime::settingMovesOnceFromWhereEarlierVersionsKeptIt()
{
    const QString config = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    const QString antiguo = config + QStringLiteral("/VB and VBA Program Settings/EnviarMensaje.conf");
    const QString nuevo = config + QStringLiteral("/velrisa/velrisa.conf");
    QVERIFY(writeFile(antiguo, "[Opciones]\nCerrar=0\n"));

    PosixRuntime rt;
    const auto cerrar = [&] {
        return rt.getSetting(
            QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Cerrar"), QStringLiteral("1"));
    };
    QCOMPARE(cerrar(), QStringLiteral("0"));
    QSettings guardado(nuevo, QSettings::IniFormat);
    QCOMPARE(guardado.value(QStringLiteral("Opciones/Cerrar")).toString(), QStringLiteral("0"));

    // Carried over once: the old file no longer counts, and is left as it was.
    QVERIFY(writeFile(antiguo, "[Opciones]\nCerrar=2\n"));
    QCOMPARE(cerrar(), QStringLiteral("0"));
    rt.saveSetting(
        QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Cerrar"), QStringLiteral("1"));
    QCOMPARE(cerrar(), QStringLiteral("1"));
    guardado.sync();
    QCOMPARE(guardado.value(QStringLiteral("Opciones/Cerrar")).toString(), QStringLiteral("1"));
    QCOMPARE(readFile(antiguo), QByteArray("[Opciones]\nCerrar=2\n"));

    // Nothing stored anywhere: the caller's default, and nothing is written.
    QCOMPARE(rt.getSetting(QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Otra"),
                 QStringLiteral("x")),
        QStringLiteral("x"));
    guardado.sync();
    QVERIFY(!guardado.contains(QStringLiteral("Opciones/Otra")));
}

QTEST_GUILESS_MAIN(tst_PosixRuntime)
#include "tst_PosixRuntime.moc"
