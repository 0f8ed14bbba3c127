#include "addressbook/Module.h"
#include "addressbook/NetworkSearch.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

class tst_Module : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString newDir() { return newFolder(m_tmp.path()); }
    static int puffs(const FakeRuntime &rt)
    {
        int n = 0;
        for (const FakeRuntime::Box &b : rt.m_boxes) {
            if (b.text == QLatin1String("PUFF") && b.icon == Runtime::Icon::None && b.title == QLatin1String("Velrisa"))
                ++n;
        }
        return n;
    }
    static void fill(Module &m, int kind, const QStringList &names)
    {
        for (const QString &name : names)
            QVERIFY(m.add(kind, name) > 0);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY(prepareEnvironment(m_tmp.path()));
    }

    void leerIniCutsAndDefaults_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");
        const QString x49(49, QLatin1Char('x'));
        QTest::newRow("49 characters whole") << ("k=" + x49.toLatin1()) << x49;
        QTest::newRow("60 characters cut to 49") << ("k=" + QByteArray(60, 'y')) << QString(49, QLatin1Char('y'));
        QTest::newRow("49 Windows-1252 letters") << ("k=" + QByteArray(55, '\xf1')) << QString(49, QChar(0xF1));
        QTest::newRow("empty value gives the default") << QByteArray("k=") << "def";
        QTest::newRow("absent key gives the default") << QByteArray("j=1") << "def";
        QTest::newRow("blanks around dropped, case kept") << QByteArray("k=  Ana MAR\xcd"
                                                                        "a  ")
                                                          << "Ana MARÍa";
    }
    void leerIniCutsAndDefaults()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        QVERIFY(writeFile(dir + QStringLiteral("a.ini"), "[s]\r\n" + line + "\r\n"));
        QCOMPARE(
            m.LeerIni(dir + QStringLiteral("a.ini"), QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("def")),
            expected);
        QVERIFY(rt.m_boxes.isEmpty());
    }

    void leerIniOfMissingFileCreatesNothing()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        QCOMPARE(
            m.LeerIni(dir + QStringLiteral("none.ini"), QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("5")),
            QStringLiteral("5"));
        QVERIFY(QDir(dir).isEmpty());
    }

    void escribirIniShowsOnePuffPerFailedWrite_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("missing directory") << "missing";
        QTest::newRow("read-only directory") << "rodir";
        QTest::newRow("read-only file") << "rofile";
        QTest::newRow("path is a directory") << "isdir";
    }
    void escribirIniShowsOnePuffPerFailedWrite()
    {
        QFETCH(QString, where);
        FakeRuntime rt;
        const QString dir = newDir();
        QString file = dir + QStringLiteral("a.ini");
        if (where == QLatin1String("missing"))
            file = dir + QStringLiteral("no/a.ini");
        else if (where == QLatin1String("isdir"))
            QVERIFY(QDir(dir).mkdir(QStringLiteral("a.ini")));
        else
            QVERIFY(writeFile(file, "[s]\r\nk=1\r\n"));
        if (where == QLatin1String("rodir"))
            QVERIFY(setMode(dir, 0555));
        if (where == QLatin1String("rofile"))
            QVERIFY(setMode(file, 0444));

        Module m(rt, dir);
        m.EscribirIni(file, QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("2"));
        m.EscribirIni(file, QStringLiteral("s"), QStringLiteral("j"), QStringLiteral("3"));
        m.EscribirIni(file, QStringLiteral("t"), QStringLiteral("k"), QStringLiteral("4"));
        QCOMPARE(rt.m_boxes.size(), 3);
        QCOMPARE(puffs(rt), 3);
        if (where == QLatin1String("rodir") || where == QLatin1String("rofile"))
            QCOMPARE(readFile(file), QByteArray("[s]\r\nk=1\r\n"));
        else
            QVERIFY(!QFileInfo(file).isFile());
        setMode(dir, 0755);
    }

    void existeArchivoIsTrueForFilesOnly_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("exists");
        QTest::newRow("empty file") << "empty" << true;
        QTest::newRow("file with text") << "full" << true;
        QTest::newRow("missing file") << "missing" << false;
        QTest::newRow("missing directory") << "nodir" << false;
        QTest::newRow("a directory") << "dir" << false;
    }
    void existeArchivoIsTrueForFilesOnly()
    {
        QFETCH(QString, what);
        QFETCH(bool, exists);
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        QVERIFY(writeFile(dir + QStringLiteral("empty"), QByteArray()));
        QVERIFY(writeFile(dir + QStringLiteral("full"), "x"));
        QDir(dir).mkdir(QStringLiteral("dir"));
        const QString path = what == QLatin1String("nodir") ? dir + QStringLiteral("nodir/f") : dir + what;
        QCOMPARE(m.ExisteArchivo(path), exists);
    }

    void cargarListasReadsAsManyAsTotalSays_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("computers");
        QTest::addColumn<QStringList>("workgroups");
        QTest::newRow("Total 2 with only key 1")
            << QByteArray("[Equipos]\r\nTotal=2\r\n1=ana\r\n") << QStringList { "ana", "" } << QStringList {};
        QTest::newRow("only Redes") << QByteArray("[Redes]\r\n1=casa\r\nTotal=1\r\n") << QStringList {}
                                    << QStringList { "casa" };
        QTest::newRow("keys above Total are not read") << QByteArray("[Equipos]\r\n1=a\r\n2=c\r\n3=c\r\nTotal=2\r\n")
                                                       << QStringList { "a", "c" } << QStringList {};
        QTest::newRow("missing Total") << QByteArray("[Equipos]\r\n1=a\r\n") << QStringList {} << QStringList {};
        QTest::newRow("file without sections") << QByteArray("Total=3\r\n") << QStringList {} << QStringList {};
        QTest::newRow("Total with a fraction")
            << QByteArray("[Redes]\r\nTotal=1.9\r\n1=a\r\n2=b\r\n") << QStringList {} << QStringList { "a" };
        QTest::newRow("negative Total") << QByteArray("[Redes]\r\nTotal=-5\r\n1=a\r\n") << QStringList {}
                                        << QStringList {};
        QTest::newRow("Total that is text")
            << QByteArray("[Redes]\r\nTotal=abc\r\n1=a\r\n") << QStringList {} << QStringList {};
        QTest::newRow("55-character name comes back cut")
            << QByteArray("[Equipos]\r\nTotal=1\r\n1=" + QByteArray(55, 'n') + "\r\n")
            << QStringList { QString(49, QLatin1Char('n')) } << QStringList {};
    }
    void cargarListasReadsAsManyAsTotalSays()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, computers);
        QFETCH(QStringList, workgroups);
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        fill(m, 1, QStringList(9, QStringLiteral("old"))); // stale values from before must go
        QVERIFY(writeFile(m.addressBookPath(), file));
        m.CargarListas();
        QCOMPARE(m.TotalEquipos(), qint16(computers.size()));
        QCOMPARE(m.ListaEquipos(), computers);
        QCOMPARE(m.TotalRedes(), qint16(workgroups.size()));
        QCOMPARE(m.ListaRedes(), workgroups);
        QVERIFY(rt.m_boxes.isEmpty());
    }

    // A book saved with lone CRs loads whole, and saving it again rewrites each key in place
    // instead of adding every key a second time.
    void loneCrBookLoadsAndSavesInPlace()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        const QByteArray book = "[Equipos]\r1=ana\r2=luis\rTotal=2\r[Redes]\r1=casa\rTotal=1\r";
        QVERIFY(writeFile(m.addressBookPath(), book));
        m.CargarListas();
        QCOMPARE(m.ListaEquipos(), (QStringList { "ana", "luis" }));
        QCOMPARE(m.ListaRedes(), QStringList { "casa" });
        QVERIFY(m.removeAt(0, 2));
        QCOMPARE(m.add(0, QStringLiteral("eva")), 2);
        m.GuardarListas();
        QCOMPARE(
            readFile(m.addressBookPath()), QByteArray("[Equipos]\r1=ana\r2=eva\rTotal=2\r[Redes]\r1=casa\rTotal=1\r"));
        QVERIFY(rt.m_boxes.isEmpty());
    }

    void hugeTotalIsClamped()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        QVERIFY(writeFile(m.addressBookPath(),
            "[Equipos]\r\nTotal=2000000000\r\n1=a\r\n[Redes]\r\nTotal=99999999999999999999999\r\n"));
        m.CargarListas();
        QCOMPARE(m.TotalEquipos(), Module::kMaxEntries);
        QCOMPARE(m.ListaEquipos().size(), qsizetype(Module::kMaxEntries));
        QCOMPARE(m.ListaEquipos().first(), QStringLiteral("a"));
        QCOMPARE(m.ListaEquipos().last(), QString());
        QCOMPARE(m.TotalRedes(), Module::kMaxEntries);
    }

    void readCountReadsLeadingDigitsWithinBounds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::newRow("plain") << "12" << 12;
        QTest::newRow("blanks and sign") << "  +7 " << 7;
        QTest::newRow("fraction") << "3.7" << 3;
        QTest::newRow("negative") << "-5" << 0;
        QTest::newRow("text") << "abc" << 0;
        QTest::newRow("digits then text") << "4abc" << 4;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("upper bound") << "32767" << 32767;
        QTest::newRow("just above") << "32768" << 32767;
        QTest::newRow("beyond 32 bits") << "2000000000" << 32767;
        QTest::newRow("beyond 64 bits") << "123456789012345678901234567890" << 32767;
    }
    void readCountReadsLeadingDigitsWithinBounds()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QCOMPARE(int(Module::readCount(text)), count);
    }

    void cargarListasWithoutFileCreatesNothing()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        m.CargarListas();
        QCOMPARE(m.TotalEquipos(), qint16(0));
        QCOMPARE(m.TotalRedes(), qint16(0));
        QVERIFY(QDir(dir).isEmpty());
    }

    void emptyBookIsSavedWithBothTotals()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        m.GuardarListas();
        QCOMPARE(readFile(dir + QStringLiteral("enviara.ini")),
            QByteArray("[Equipos]\r\nTotal=0\r\n[Redes]\r\nTotal=0\r\n"));
        QVERIFY(rt.m_boxes.isEmpty());
    }

    void deletionLeavesTheOldLastKey()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        fill(m, 0, { "uno", "Dos", "tres" });
        fill(m, 1, { "casa" });
        m.GuardarListas();
        QCOMPARE(readFile(m.addressBookPath()),
            QByteArray("[Equipos]\r\n1=uno\r\n2=Dos\r\n3=tres\r\nTotal=3\r\n[Redes]\r\n1=casa\r\nTotal=1\r\n"));
        QVERIFY(m.removeAt(0, 2));
        m.GuardarListas();
        QCOMPARE(readFile(m.addressBookPath()),
            QByteArray("[Equipos]\r\n1=uno\r\n2=tres\r\n3=tres\r\nTotal=2\r\n[Redes]\r\n1=casa\r\nTotal=1\r\n"));
        m.CargarListas();
        QCOMPARE(m.TotalEquipos(), qint16(2));
        QCOMPARE(m.ListaEquipos(), (QStringList { "uno", "tres" }));
        QVERIFY(rt.m_boxes.isEmpty());
    }

    void longNameIsStoredCutAfterOneRoundTrip()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        const QString name = QString(50, QLatin1Char('a')) + QStringLiteral("bcdef");
        fill(m, 0, { name });
        // Cut on the way back, which is no failed save.
        QVERIFY(m.saveAndReload(0));
        QCOMPARE(m.ListaEquipos(), QStringList { name.left(49) });
        m.GuardarListas();
        QVERIFY(readFile(m.addressBookPath()).contains("1=" + name.left(49).toLatin1() + "\r\n"));
    }

    // Adding appends at the next position, removing moves the later entries up one, and a
    // position that stands for no entry changes nothing; each list apart from the other.
    void addAndRemoveKeepPositionsInStep()
    {
        FakeRuntime rt;
        Module m(rt, newDir());
        QCOMPARE(m.add(0, QStringLiteral("ana")), 1);
        QCOMPARE(m.add(0, QStringLiteral("bob")), 2);
        QCOMPARE(m.add(1, QStringLiteral("casa")), 1);
        QCOMPARE(m.add(0, QStringLiteral("ana")), 3);
        QVERIFY(!m.removeAt(0, 0));
        QVERIFY(!m.removeAt(0, 4));
        QVERIFY(!m.removeAt(1, 2));
        QVERIFY(m.removeAt(0, 1));
        QCOMPARE(m.ListaEquipos(), (QStringList { "bob", "ana" }));
        QCOMPARE(m.TotalEquipos(), qint16(2));
        QCOMPARE(m.ListaRedes(), QStringList { "casa" });
        QVERIFY(m.saveAndReload(0));
        QCOMPARE(readFile(m.addressBookPath()),
            QByteArray("[Equipos]\r\n1=bob\r\n2=ana\r\nTotal=2\r\n[Redes]\r\n1=casa\r\nTotal=1\r\n"));
        QVERIFY(rt.m_boxes.isEmpty());
    }

    void fullListTakesNoMoreAndTheOtherStillDoes()
    {
        FakeRuntime rt;
        Module m(rt, newDir());
        // Missing entry keys load as empty entries: a full list without a 32,767-line file.
        QVERIFY(writeFile(m.addressBookPath(), "[Equipos]\r\nTotal=32767\r\n[Redes]\r\nTotal=1\r\n1=grupo\r\n"));
        m.CargarListas();
        QVERIFY(m.isFull(0));
        QVERIFY(!m.isFull(1));
        QCOMPARE(m.add(0, QStringLiteral("uno mas")), 0);
        QCOMPARE(m.TotalEquipos(), Module::kMaxEntries);
        QCOMPARE(m.add(1, QStringLiteral("uno mas")), 2);
        QVERIFY(m.removeAt(0, Module::kMaxEntries));
        QVERIFY(!m.isFull(0));
    }

    // A change the file did not take shows on the reload: the lists are then the file's.
    void failedSaveIsToldByTheReload()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        fill(m, 0, { "ana", "bob" });
        QVERIFY(m.saveAndReload(0));
        QVERIFY(setMode(m.addressBookPath(), 0444));
        QVERIFY(m.removeAt(0, 1));
        QVERIFY(!m.saveAndReload(0));
        QCOMPARE(m.ListaEquipos(), (QStringList { "ana", "bob" }));
        // The other kind was not changed, so its list came back as it was saved.
        QVERIFY(m.saveAndReload(1));
        QCOMPARE(puffs(rt), (2 + 1) + (3 + 1));
        setMode(m.addressBookPath(), 0644);
    }

    void unwritableBookShowsEntriesPlusTwoPuffs_data()
    {
        QTest::addColumn<bool>("missingDir");
        QTest::newRow("read-only directory") << false;
        QTest::newRow("missing directory") << true;
    }
    void unwritableBookShowsEntriesPlusTwoPuffs()
    {
        QFETCH(bool, missingDir);
        FakeRuntime rt;
        const QString base = newDir();
        const QString dir = missingDir ? base + QStringLiteral("gone/") : base;
        if (!missingDir)
            QVERIFY(setMode(dir, 0555));
        Module m(rt, dir);
        fill(m, 0, { "a", "b", "c" });
        fill(m, 1, { "x", "y" });
        m.GuardarListas();
        QCOMPARE(puffs(rt), 3 + 2 + 2);
        QCOMPARE(rt.m_boxes.size(), 7);
        m.CargarListas();
        QCOMPARE(m.TotalEquipos(), qint16(0));
        QCOMPARE(m.TotalRedes(), qint16(0));
        setMode(base, 0755);
        QVERIFY(QDir(base).isEmpty());
    }

    void programDirectorySetLaterIsUsedAtEachAccess()
    {
        FakeRuntime rt;
        const QString first = newDir();
        Module m(rt, first);
        m.GuardarListas();
        const QString path = newDir();
        m.setRutaPrograma(path);
        QCOMPARE(m.addressBookPath(), path + QStringLiteral("enviara.ini"));
        fill(m, 1, { "w" });
        m.GuardarListas();
        QVERIFY(readFile(first + QStringLiteral("enviara.ini")).contains("[Redes]\r\nTotal=0\r\n"));
        QVERIFY(readFile(path + QStringLiteral("enviara.ini")).contains("[Redes]\r\n1=w\r\nTotal=1\r\n"));
    }

    void handEditBetweenLoadsIsSeen()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        fill(m, 0, { "ana", "eva" });
        m.GuardarListas();
        m.CargarListas();
        QByteArray bytes = readFile(m.addressBookPath());
        bytes.replace("eva", "luz");
        QVERIFY(writeFile(m.addressBookPath(), bytes)); // same size, same second
        m.CargarListas();
        QCOMPARE(m.ListaEquipos(), (QStringList { "ana", "luz" }));
    }

    // "Buscar en la red..." waits as long as the net beside the program may take, by the
    // Espera of the net.ini that this net reads: an installed copy's is the computer's own,
    // never one beside it; a build or portable copy's is the one beside it.
    void networkSearchWaitsByTheNetIniThatNetReads_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QByteArray>("system");
        QTest::addColumn<int>("ms");
        QTest::newRow("installed, the computer's Espera") << true << QByteArray("[Opciones]\r\nEspera=20\r\n") << 42000;
        QTest::newRow("installed, no computer's net.ini") << true << QByteArray() << 12000;
        QTest::newRow("portable, the Espera beside it") << false << QByteArray("[Opciones]\r\nEspera=20\r\n") << 6000;
    }

    void networkSearchWaitsByTheNetIniThatNetReads()
    {
        QFETCH(bool, installed);
        QFETCH(QByteArray, system);
        QFETCH(int, ms);
        const QString program = newDir();
        QVERIFY(writeFile(program + QStringLiteral("net.ini"), "[Opciones]\r\nEspera=2\r\n"));
        if (installed)
            QVERIFY(writeFile(program + QStringLiteral("instalado.txt"), "x\n"));
        const QString etc = newDir() + QStringLiteral("net.ini");
        if (!system.isEmpty())
            QVERIFY(writeFile(etc, system));
        QCOMPARE(NetworkSearch::waitMs(program, etc.toStdString()), ms);
    }
};

QTEST_GUILESS_MAIN(tst_Module)
#include "tst_Module.moc"
