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
    QTest::addColumn<QString>("programFolder"); // "writable", "read-only" or "installed"
    QTest::addColumn<QString>("xdg"); // XDG_DATA_HOME: "absolute", "none" or "relative"
    QTest::addColumn<bool>("inProgramFolder");
    QTest::newRow("build folder") << "writable"
                                  << "absolute" << true;
    QTest::newRow("read-only program folder") << "read-only"
                                              << "absolute" << false;
    QTest::newRow("installed copy, even for root") << "installed"
                                                   << "absolute" << false;
    QTest::newRow("no XDG_DATA_HOME") << "read-only"
                                      << "none" << false;
    QTest::newRow("relative XDG_DATA_HOME is ignored") << "read-only"
                                                       << "relative" << false;
}

void tst_PosixRuntime::dataFilesGoWhereTheUserMayWrite()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, xdg);
    QFETCH(bool, inProgramFolder);

    const QString base = newFolder(m_dir.path());
    const QString exe = base + QStringLiteral("lib/velrisa");
    QVERIFY(QDir().mkpath(exe));
    if (programFolder == QLatin1String("installed"))
        QVERIFY(writeFile(exe + QStringLiteral("/instalado.txt"), "x\n"));
    // The book and recent list the user had beside the program; the user's folder has none yet.
    const QByteArray book = "[Equipos]\r\n1=Ana\r\nTotal=1\r\n";
    const QByteArray recent = "[Info]\r\n1=ana luis\r\nActualMRU=1\r\n";
    QVERIFY(writeFile(exe + QStringLiteral("/enviara.ini"), book));
    QVERIFY(writeFile(exe + QStringLiteral("/mru.ini"), recent));
    const QStringList before = QDir(exe).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    if (programFolder == QLatin1String("read-only"))
        QVERIFY(setMode(exe, 0555));

    const QString home = base + QStringLiteral("casa");
    QVERIFY(QDir().mkpath(home));
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(home));
    QString expected = home + QStringLiteral("/.local/share/velrisa");
    if (xdg == QLatin1String("absolute")) {
        qputenv("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("xdg/datos")));
        expected = base + QStringLiteral("xdg/datos/velrisa");
    } else if (xdg == QLatin1String("relative")) {
        qputenv("XDG_DATA_HOME", "xdg/datos");
    } else {
        qunsetenv("XDG_DATA_HOME");
    }
    const QString chosen = DataFolder::choose(exe + QLatin1Char('/'));
    // The received messages go to the user's folder by the same rule, wherever the book is.
    const QString userFolder = DataFolder::userFolder();
    qputenv("HOME", savedHome);
    qputenv("XDG_DATA_HOME", savedXdg);
    setMode(exe, 0755);

    QCOMPARE(userFolder, expected);
    if (inProgramFolder) {
        QCOMPARE(chosen, exe);
        QVERIFY(!QFileInfo::exists(expected));
        return;
    }
    QCOMPARE(chosen, expected);
    QCOMPARE(readFile(expected + QStringLiteral("/enviara.ini")), book);
    QCOMPARE(readFile(expected + QStringLiteral("/mru.ini")), recent);
    // The folder and every parent made for it are the user's alone; the rest stays as it was.
    QString made = expected;
    while (made != base + QStringLiteral("xdg") && made != home) {
        QCOMPARE(modeOf(made), 0700u);
        made = QFileInfo(made).absolutePath();
    }
    QCOMPARE(QDir(exe).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    QVERIFY(!QFileInfo::exists(exe + QStringLiteral("/xdg")));
}

void tst_PosixRuntime::bookBesideTheProgramIsCopiedOnlyWhenSafe_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::newRow("the user's own book stays") << "own";
    QTest::newRow("even a dangling link of the user's") << "own link";
    QTest::newRow("a link beside the program is not followed") << "link";
    QTest::newRow("a file beyond the bound is not read") << "large";
}

void tst_PosixRuntime::bookBesideTheProgramIsCopiedOnlyWhenSafe()
{
    QFETCH(QString, scenario);
    const QString base = newFolder(m_dir.path());
    const QString exe = base + QStringLiteral("programa");
    const QString dataDir = base + QStringLiteral("xdg/velrisa");
    QVERIFY(QDir().mkpath(exe));
    QVERIFY(QDir().mkpath(dataDir));
    const QString source = exe + QStringLiteral("/enviara.ini");
    const QString target = dataDir + QStringLiteral("/enviara.ini");
    const QByteArray other = "[Equipos]\r\n1=Otra\r\nTotal=1\r\n";
    if (scenario == QLatin1String("own") || scenario == QLatin1String("own link")) {
        QVERIFY(writeFile(source, "[Equipos]\r\n1=Ana\r\nTotal=1\r\n"));
        if (scenario == QLatin1String("own"))
            QVERIFY(writeFile(target, "[Equipos]\r\nTotal=0\r\n"));
        else
            QVERIFY(QFile::link(base + QStringLiteral("falta.ini"), target));
    } else if (scenario == QLatin1String("link")) {
        QVERIFY(writeFile(base + QStringLiteral("otra.ini"), other));
        QVERIFY(QFile::link(base + QStringLiteral("otra.ini"), source));
    } else {
        QFile large(source);
        QVERIFY(large.open(QIODevice::WriteOnly) && large.write(other) == other.size());
        QVERIFY(large.resize(qint64(DataFile::kReadLimit) + 1));
    }
    QVERIFY(setMode(exe, 0555));
    const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(base + QStringLiteral("xdg")));
    const QString chosen = DataFolder::choose(exe);
    qputenv("XDG_DATA_HOME", savedXdg);
    setMode(exe, 0755);

    QCOMPARE(chosen, dataDir);
    if (scenario == QLatin1String("own"))
        QCOMPARE(readFile(target), QByteArray("[Equipos]\r\nTotal=0\r\n"));
    else if (scenario == QLatin1String("own link"))
        QCOMPARE(QFileInfo(target).symLinkTarget(), base + QStringLiteral("falta.ini"));
    else
        QVERIFY(!QFileInfo::exists(target) && !QFileInfo(target).isSymLink());
    // Nothing else appears in the user's folder, no temporary file either.
    const QStringList remaining
        = QDir(dataDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    QCOMPARE(remaining,
        scenario.startsWith(QLatin1String("own link")) || scenario == QLatin1String("own")
            ? QStringList { "enviara.ini" }
            : QStringList {});
}

void tst_PosixRuntime::settingMovesOnceFromWhereEarlierVersionsKeptIt()
{
    const QString config = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    const QString oldFile = config + QStringLiteral("/VB and VBA Program Settings/EnviarMensaje.conf");
    const QString newFile = config + QStringLiteral("/velrisa/velrisa.conf");
    QVERIFY(writeFile(oldFile, "[Opciones]\nCerrar=0\n"));

    PosixRuntime rt;
    const auto storedCerrar = [&] {
        return rt.getSetting(
            QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Cerrar"), QStringLiteral("1"));
    };
    QCOMPARE(storedCerrar(), QStringLiteral("0"));
    QSettings stored(newFile, QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("Opciones/Cerrar")).toString(), QStringLiteral("0"));

    // Carried over once: the old file no longer counts, and is left as it was.
    QVERIFY(writeFile(oldFile, "[Opciones]\nCerrar=2\n"));
    QCOMPARE(storedCerrar(), QStringLiteral("0"));
    rt.saveSetting(
        QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Cerrar"), QStringLiteral("1"));
    QCOMPARE(storedCerrar(), QStringLiteral("1"));
    stored.sync();
    QCOMPARE(stored.value(QStringLiteral("Opciones/Cerrar")).toString(), QStringLiteral("1"));
    QCOMPARE(readFile(oldFile), QByteArray("[Opciones]\nCerrar=2\n"));

    // Nothing stored anywhere: the caller's default, and nothing is written.
    QCOMPARE(rt.getSetting(QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Otra"),
                 QStringLiteral("x")),
        QStringLiteral("x"));
    stored.sync();
    QVERIFY(!stored.contains(QStringLiteral("Opciones/Otra")));
}

QTEST_GUILESS_MAIN(tst_PosixRuntime)
#include "tst_PosixRuntime.moc"
