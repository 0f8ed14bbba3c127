#include "fakes/TestSupport.h"
#include "profile/Cp1252.h"
#include "profile/IniDocument.h"
#include "profile/IniReader.h"
#include "profile/ProfileFiles.h"
#include "profile/IniSyntax.h"
#include "profile/Cp1252Table.h"
#include "runtime/DataFileQt.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// Bytes this process has read through read() so far.
qint64 bytesRead()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

// Whether the clock that stamps file changes has moved past this time.
bool coarseClockPassed(const struct timespec &t)
{
    struct timespec now
    {
    };
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now.tv_sec > t.tv_sec || (now.tv_sec == t.tv_sec && now.tv_nsec > t.tv_nsec);
}

// Whether that clock has moved past the last change of the file.
bool clockPassedLastChange(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && coarseClockPassed(st.st_ctim);
}

} // namespace

class tst_ProfileFiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    int m_serial = 0;

    QString newPath() { return m_tmp.filePath(QStringLiteral("f%1.ini").arg(++m_serial)); }

    // A net.ini with every trap of the syntax, written once.
    QString trickyIni()
    {
        // Quotes, blanks, duplicates, case and accents, comments, CR LF and LF mixed.
        static const QByteArray tricky = "Antes=fuera\r\n"
                                         "; comentario=no\r\n"
                                         "[Opciones]\r\n"
                                         "  Configuracion  =  cliente.conf  \r\n"
                                         "PaginaCodigos=\"CP850\"\n"
                                         "Espera=\" 7 \"\r\n"
                                         "espera=9\r\n"
                                         "Vac\xed"
                                         "o=\r\n"
                                         "Comillas=\"\"\r\n"
                                         "Sola=\"\r\n"
                                         "Dentro=a \"b\" c\r\n"
                                         "\tTab\t=\tx\ty\t\r\n"
                                         "  ;Fin=comentado\r\n"
                                         "\xd1"
                                         "AND\xda=mayusculas\r\n"
                                         "\xf1"
                                         "and\xfa=minusculas\r\n"
                                         "\x8cuvre=ligadura\r\n"
                                         "\xff=y\r\n"
                                         "\xb5=micro\r\n"
                                         "?=pregunta\r\n"
                                         "Euro\x80=\x80 5\r\n"
                                         "=sin nombre\r\n"
                                         "k\r\n"
                                         "k = primera = con igual\r\n"
                                         "[ \xc1rea ]\r\n"
                                         "Ma\xf1"
                                         "ana=s\xed\r\n"
                                         "[]\nk=vacia\n"
                                         "[OPCIONES]\r\n"
                                         "Oculta=duplicada\r\n"
                                         "[Equipos]\r\n"
                                         "k=127.0.0.2\r\n"
                                         "K=127.0.0.3\r\n"
                                         "Fin=sin fin de linea";
        const QString path = m_tmp.filePath(QStringLiteral("dificil.ini"));
        if (!QFile::exists(path) && !writeFile(path, tricky))
            return QString();
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY(prepareEnvironment(m_tmp.path()));
    }

    void readFollowsProfileSyntax_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // "<null>" for absent

        const QByteArray basic = "[Equipos]\r\nTotal=2\r\n1=Ana\r\n";
        const auto row = [](const char *name, const QByteArray &file, const QString &section, const QString &key,
                             const QString &expected) { QTest::newRow(name) << file << section << key << expected; };
        row("plain", basic, "Equipos", "1", "Ana");
        row("section case", basic, "EQUIPOS", "total", "2");
        row("missing key", basic, "Equipos", "3", "<null>");
        row("missing section", basic, "Redes", "Total", "<null>");
        row("blanks around names", QByteArray(" [ Info ] \n  Maximo  =  7  \n"), "Info", "Maximo", "7");
        row("tabs around =", QByteArray("[s]\n\tk\t=\tv w\t\n"), "s", "k", "v w");
        row("first section wins", QByteArray("[s]\nk=1\n[S]\nk=2\nj=3\n"), "s", "k", "1");
        row("keys of the duplicate section are hidden", QByteArray("[s]\nk=1\n[S]\nk=2\nj=3\n"), "s", "j", "<null>");
        row("first key wins", QByteArray("[s]\nk=1\nK=2\n"), "s", "k", "1");
        row("comment is no key", QByteArray("[s]\n;k=1\n"), "s", ";k", "<null>");
        row("indented comment", QByteArray("[s]\n  ;k=1\nk=2\n"), "s", "k", "2");
        row("double quotes dropped", QByteArray("[s]\nk=\" a b \"\n"), "s", "k", " a b ");
        row("unmatched quote kept", QByteArray("[s]\nk=\"ab\n"), "s", "k", "\"ab");
        row("single quotes kept", QByteArray("[s]\nk='ab'\n"), "s", "k", "'ab'");
        row("empty value is present", QByteArray("[s]\nk=\n"), "s", "k", "");
        row("value keeps later =", QByteArray("[s]\nk=a=b\n"), "s", "k", "a=b");
        row("LF only", QByteArray("[s]\nk=v\n"), "s", "k", "v");
        row("CR LF", QByteArray("[s]\r\nk=v\r\n"), "s", "k", "v");
        row("no final line end", QByteArray("[s]\r\nk=v"), "s", "k", "v");
        // A CR alone ends a line too, as on Windows: files saved the old Mac way.
        row("lone CR", QByteArray("[s]\rk=v\rj=w\r"), "s", "j", "w");
        row("lone CR, no final line end", QByteArray("[t]\rx=1\r[s]\rk=v"), "s", "k", "v");
        row("CR CR LF is a line and an empty one", QByteArray("[s]\r\r\nk=v\r\n"), "s", "k", "v");
        row("a CR inside a line of CR LF ends it", QByteArray("[s]\r\nk=a\rb=c\r\n"), "s", "b", "c");
        row("key before any section", QByteArray("k=v\n[s]\n"), "s", "k", "<null>");
        row("line without =", QByteArray("[s]\nk\n"), "s", "k", "<null>");
        row("Windows-1252 text",
            QByteArray("[s]\nk=Pe\xf1"
                       "a \x80\n"),
            "s", "k", "Peña €");
        row("Windows-1252 name, any case", QByteArray("[\xd1U]\nk=1\n"), "ñu", "k", "1");
    }
    void readFollowsProfileSyntax()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const QString path = newPath();
        QVERIFY(writeFile(path, file));
        ProfileFiles pf;
        const QString got = pf.read(path, section, key);
        if (expected == QLatin1String("<null>")) {
            QVERIFY2(got.isNull(), qPrintable(got));
        } else {
            QVERIFY(!got.isNull());
            QCOMPARE(got, expected);
        }
    }

    void writeChangesOnlyItsLine_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        const auto row = [](const char *name, const QByteArray &before, const QString &section, const QString &key,
                             const QString &value, const QByteArray &after) {
            QTest::newRow(name) << before << section << key << value << after;
        };
        row("value replaced, LF neighbours kept", QByteArray("; mine\n[Equipos]\n1 = Ana\n  2=Luis \n\n[Redes]\nx=y"),
            "equipos", "1", "Eva", QByteArray("; mine\n[Equipos]\n1=Eva\r\n  2=Luis \n\n[Redes]\nx=y"));
        row("name spelled as in the file", QByteArray("[S]\nTotal=1\n"), "s", "TOTAL", "2",
            QByteArray("[S]\nTotal=2\r\n"));
        row("new key after last key, before trailing blank and comment",
            QByteArray("[a]\nk=1\n\n;end of a\n[b]\nk=2\n"), "A", "j", "3",
            QByteArray("[a]\nk=1\nj=3\r\n\n;end of a\n[b]\nk=2\n"));
        row("new key in a section without keys", QByteArray("[a]\n\n[b]\n"), "a", "k", "v",
            QByteArray("[a]\nk=v\r\n\n[b]\n"));
        row("new key after a last line without line end", QByteArray("[a]\nk=1"), "a", "j", "2",
            QByteArray("[a]\nk=1\r\nj=2\r\n"));
        row("new section at the end", QByteArray("[a]\r\nk=1\r\n\r\n"), "b", "k", "2",
            QByteArray("[a]\r\nk=1\r\n\r\n[b]\r\nk=2\r\n"));
        row("new section after a file without line end", QByteArray("[a]\nk=1"), "b", "k", "2",
            QByteArray("[a]\nk=1\r\n[b]\r\nk=2\r\n"));
        // A lone CR at the very end is completed, not left to end the value.
        row("new key after a last line ending in CR", QByteArray("[a]\r\nk=ANA\r"), "a", "j", "2",
            QByteArray("[a]\r\nk=ANA\r\nj=2\r\n"));
        row("new section after a last line ending in CR", QByteArray("[a]\r\nk=ANA\r"), "b", "k", "2",
            QByteArray("[a]\r\nk=ANA\r\n[b]\r\nk=2\r\n"));
        // A file of lone CRs keeps them: every line a save writes ends the same way.
        row("lone-CR file: value replaced", QByteArray("[a]\rk=1\rj=2\r"), "a", "k", "3",
            QByteArray("[a]\rk=3\rj=2\r"));
        row("lone-CR file: new key", QByteArray("[a]\rk=1\r\r[b]\rx=y"), "a", "j", "2",
            QByteArray("[a]\rk=1\rj=2\r\r[b]\rx=y"));
        row("lone-CR file: new section after a last line without end", QByteArray("[a]\rk=1"), "b", "k", "2",
            QByteArray("[a]\rk=1\r[b]\rk=2\r"));
        // With any LF in the file a CR line end written could merge with it: CR LF then.
        row("mixed file gets CR LF", QByteArray("[a]\rk=1\r\n\n"), "a", "j", "2", QByteArray("[a]\rk=1\r\nj=2\r\n\n"));
        row("file without sections", QByteArray("k=1\nrubbish\n"), "s", "k", "2",
            QByteArray("k=1\nrubbish\n[s]\r\nk=2\r\n"));
        row("duplicate key: the first is written", QByteArray("[s]\nk=1\nk=2\n"), "s", "k", "3",
            QByteArray("[s]\nk=3\r\nk=2\n"));
        row("blanks at the ends are kept by quotes", QByteArray("[s]\n"), "s", "k", "  a ",
            QByteArray("[s]\nk=\"  a \"\r\n"));
        row("a quoted value keeps its quotes", QByteArray("[s]\n"), "s", "k", "\"q\"",
            QByteArray("[s]\nk=\"\"q\"\"\r\n"));
        row("line breaks cannot plant keys", QByteArray("[s]\n"), "s", "k", "a\r\n[t]\nx=1",
            QByteArray("[s]\nk=a  [t] x=1\r\n"));
        row("outside Windows-1252 becomes ?", QByteArray(), "s", "k", QString::fromUtf8("ñ€ā😀"),
            QByteArray("[s]\r\nk=\xf1\x80??\r\n"));
    }
    void writeChangesOnlyItsLine()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        const QString path = newPath();
        if (!before.isNull())
            QVERIFY(writeFile(path, before));
        ProfileFiles pf;
        QVERIFY(pf.write(path, section, key, value));
        QCOMPARE(readFile(path), after);
        // And it reads back as written (modulo the code page and the line breaks).
        ProfileFiles fresh;
        QString expected = Cp1252::decode(Cp1252::encode(value));
        expected.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        QCOMPARE(fresh.read(path, section, key), expected);
        QCOMPARE(pf.read(path, section, key), expected);
    }

    void missingFileIsReadAsEmptyAndCreatedByWrite()
    {
        const QString path = newPath();
        ProfileFiles pf;
        QVERIFY(pf.read(path, QStringLiteral("s"), QStringLiteral("k")).isNull());
        QVERIFY(!QFile::exists(path));
        QVERIFY(pf.write(path, QStringLiteral("Info"), QStringLiteral("ActualMRU"), QStringLiteral("1")));
        QVERIFY(pf.write(path, QStringLiteral("Info"), QStringLiteral("1"), QStringLiteral("A")));
        QCOMPARE(readFile(path), QByteArray("[Info]\r\nActualMRU=1\r\n1=A\r\n"));
    }

    void refusedWriteChangesNothing_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("missing directory") << "missing";
        QTest::newRow("read-only directory") << "rodir";
        QTest::newRow("read-only file") << "rofile";
        QTest::newRow("path is a directory") << "isdir";
    }
    void refusedWriteChangesNothing()
    {
        QFETCH(QString, where);
        QTemporaryDir dir(m_tmp.filePath(QStringLiteral("refused-XXXXXX")));
        QString path;
        const QByteArray original = "[s]\nk=1\n";
        if (where == QLatin1String("missing")) {
            path = dir.filePath(QStringLiteral("no/such/f.ini"));
        } else if (where == QLatin1String("rodir")) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("ro")));
            path = dir.filePath(QStringLiteral("ro/f.ini"));
            QVERIFY(writeFile(path, original));
            QVERIFY(setMode(dir.filePath(QStringLiteral("ro")), 0555));
        } else if (where == QLatin1String("rofile")) {
            path = dir.filePath(QStringLiteral("f.ini"));
            QVERIFY(writeFile(path, original));
            QVERIFY(setMode(path, 0444));
        } else {
            path = dir.filePath(QStringLiteral("d.ini"));
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("d.ini")));
        }

        ProfileFiles pf;
        QVERIFY(!pf.write(path, QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("2")));
        QVERIFY(!pf.write(path, QStringLiteral("t"), QStringLiteral("n"), QStringLiteral("3")));
        pf.beginBatch(path);
        QVERIFY(!pf.write(path, QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("4")));
        QCOMPARE(pf.endBatch(), 0);

        if (where == QLatin1String("rodir") || where == QLatin1String("rofile")) {
            QCOMPARE(readFile(path), original);
            QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("1"));
            QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        } else {
            QVERIFY(!QFileInfo(path).isFile());
            QVERIFY(pf.read(path, QStringLiteral("s"), QStringLiteral("k")).isNull());
        }
        setMode(dir.filePath(QStringLiteral("ro")), 0755);
    }

    void invalidNamesAreRefused_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        const auto row = [](const char *name, const QString &section, const QString &key) {
            QTest::newRow(name) << section << key;
        };
        row("empty section", "", "k");
        row("blank key", "s", "  ");
        row("] in section", "a]b", "k");
        row("= in key", "s", "a=b");
        row("line break in key", "s", "a\nb");
        row("key looks like a section", "s", "[x");
        row("key looks like a comment", "s", ";x");
    }
    void invalidNamesAreRefused()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        const QString path = newPath();
        QVERIFY(writeFile(path, "[s]\nk=1\n"));
        ProfileFiles pf;
        QVERIFY(!pf.write(path, section, key, QStringLiteral("v")));
        QCOMPARE(readFile(path), QByteArray("[s]\nk=1\n"));
    }

    void everyByteSurvivesTheCodePage()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        const QString text = Cp1252::decode(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(text.at(0x80), QChar(0x20AC));
        QCOMPARE(text.at(0x9F), QChar(0x0178));
        QCOMPARE(text.at(0x81), QChar(0x81));
        QCOMPARE(Cp1252::encode(text), all);
        QCOMPARE(Cp1252::encode(QString(QChar(0x85))), QByteArray("?")); // control char with a glyph at 0x85
    }

    // The plain reader compares names byte by byte through a folding table; the profile
    // files fold the decoded text. Both must agree on every byte and every pair of bytes.
    void everyByteFoldsAlikeWithAndWithoutQt()
    {
        QString folded[256];
        for (int b = 0; b < 256; ++b) {
            folded[b] = Cp1252::decode(QByteArray(1, char(b))).toCaseFolded();
            QCOMPARE(folded[b].size(), 1);
            QCOMPARE(uint(Cp1252Table::folded(uchar(b))), uint(folded[b].at(0).unicode()));
        }
        for (int a = 0; a < 256; ++a) {
            for (int b = 0; b < 256; ++b) {
                const char pair[] = { char(a), char(b) };
                if (IniSyntax::sameName({ pair, 1 }, { pair + 1, 1 }) != (folded[a] == folded[b]))
                    QFAIL(qPrintable(QStringLiteral("bytes %1 and %2").arg(a, 2, 16).arg(b, 2, 16)));
            }
        }
    }

    void plainReaderReadsWhatProfileFilesRead_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        const QStringList keys { "Configuracion", "PAGINACODIGOS", "espera", "Vacío", "Comillas", "Sola", "Dentro",
            "Tab", "Ñandú", "ÑANDÚ", "  Ñandú ", "Œuvre", "œUVRE", "ÿ", "Ÿ", "µ", "μ", "Ω", "?", "k", "K", "", ";k",
            "Oculta", "Antes", "Euro€", "Mañana", "Fin" };
        for (const char *section : { "Opciones", "OPCIONES", " opciones ", "Equipos", "ÁREA", "área", "Nada", "" })
            for (const QString &key : keys)
                QTest::addRow("[%s] %s", section, qPrintable(key)) << QString::fromUtf8(section) << key;
    }
    void plainReaderReadsWhatProfileFilesRead()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        const QString path = trickyIni();
        QVERIFY(!path.isEmpty());
        const QString expected = ProfileFiles().read(path, section, key);
        const std::optional<std::string> got
            = IniReader(path.toStdString()).read(section.toStdString(), key.toStdString());
        QCOMPARE(got.has_value(), !expected.isNull());
        if (got)
            QCOMPARE(QString::fromStdString(*got), expected);
    }

    // A few of those answers spelled out, so that the agreement above is not one of two
    // readers that both find nothing.
    void plainReaderFindsWhatTheSyntaxSays()
    {
        const QString path = trickyIni();
        QVERIFY(!path.isEmpty());
        const IniReader ini(path.toStdString());
        QCOMPARE(ini.read("opciones", "ÑANDÚ").value_or("<null>"), std::string("mayusculas"));
        QCOMPARE(ini.read("Opciones", "Espera").value_or("<null>"), std::string(" 7 "));
        QCOMPARE(ini.read("Opciones", "Euro€").value_or("<null>"), std::string("€ 5"));
        QCOMPARE(ini.read("área", "mañana").value_or("<null>"), std::string("sí"));
        QCOMPARE(ini.read("Equipos", "K").value_or("<null>"), std::string("127.0.0.2"));
        QCOMPARE(ini.read("Opciones", "Ω").value_or("<null>"), std::string("pregunta"));
        const QString mac = m_tmp.filePath(QStringLiteral("mac.ini"));
        QVERIFY(writeFile(mac, "[Equipos]\rOFICINA1=127.0.0.2\r[Opciones]\rEspera=3\r"));
        QCOMPARE(IniReader(mac.toStdString()).read("Opciones", "Espera").value_or("<null>"), std::string("3"));
        QCOMPARE(
            IniReader(mac.toStdString()).read("Equipos", "oficina1").value_or("<null>"), std::string("127.0.0.2"));
        QVERIFY(!ini.read("Opciones", "Oculta"));
        QVERIFY(!ini.read("Opciones", "Fin"));
        QVERIFY(!IniReader(m_tmp.filePath(QStringLiteral("no-existe.ini")).toStdString()).read("Opciones", "Espera"));
        QVERIFY(!IniReader(m_tmp.path().toStdString()).read("Opciones", "Espera"));
    }

    // Random lines built from the characters that matter to the syntax: whatever
    // ProfileFiles makes of them, the plain reader makes the same.
    void plainReaderAgreesOnRandomFiles()
    {
        static const char *const pieces[] = { "[", "]", "=", ";", " ", "\t", "\r\n", "\n", "\r", "\"", "a", "A", "s",
            "k", "\xe1", "\xc1", "\x8a", "\x9a", "\x9f", "\xff", "\xb5", "\x81", "?" };
        static const QStringList names { "a", "A", "s", "k", "á", "Š", "ÿ", "µ", "?", "", "a a", "[a", "sk", " k" };
        QRandomGenerator gen(20261207);
        const QString path = newPath();
        for (int round = 0; round < 300; ++round) {
            QByteArray file;
            const int length = gen.bounded(80);
            for (int i = 0; i < length; ++i)
                file += pieces[gen.bounded(int(std::size(pieces)))];
            QVERIFY(writeFile(path, file));
            ProfileFiles pf;
            const IniReader plain(path.toStdString());
            for (const QString &section : names) {
                for (const QString &key : names) {
                    const QString expected = pf.read(path, section, key);
                    const auto got = plain.read(section.toStdString(), key.toStdString());
                    if (got.has_value() != !expected.isNull() || (got && QString::fromStdString(*got) != expected))
                        QFAIL(qPrintable(
                            QStringLiteral("[%1] %2 in %3").arg(section, key, QString::fromLatin1(file.toHex(' ')))));
                }
            }
        }
    }

    // A list read in one pass over its section finds, for each position, what a lookup of
    // that key finds: first key of a name, blanks around names, "01" that is no "1", hidden
    // duplicate sections, lone CRs, and keys changed or added in memory.
    void numberedReadAgreesWithKeyByKey()
    {
        static const char *const lines[] = { "[s]", " [S] ", "[t]", "1=a", " 1 = b ", "01=c", "2=d", "\t3\t=\"e\"",
            "3=", "; 1=x", "2", "", "[", "2=f=g" };
        static const char *const ends[] = { "\r\n", "\n", "\r" };
        QRandomGenerator gen(20261208);
        for (int round = 0; round < 400; ++round) {
            QByteArray file;
            for (int n = gen.bounded(12); n > 0; --n)
                file += QByteArray(lines[gen.bounded(int(std::size(lines)))]) + ends[gen.bounded(3)];
            IniDocument doc = IniDocument::parse(file);
            for (int edit = gen.bounded(3); edit > 0; --edit)
                doc.setValue(QStringLiteral("s"), QString::number(1 + gen.bounded(4)), QStringLiteral("e%1").arg(edit));
            const QStringList list = doc.numberedValues(QStringLiteral("S"), 3);
            QCOMPARE(list.size(), 3);
            for (int i = 1; i <= 3; ++i) {
                const QString expected = doc.value(QStringLiteral("s"), QString::number(i));
                if (list[i - 1].isNull() != expected.isNull() || list[i - 1] != expected)
                    QFAIL(qPrintable(QStringLiteral("key %1 in %2").arg(i).arg(QString::fromLatin1(file.toHex(' ')))));
            }
        }
    }

    // What is not a regular file reads as no file (without waiting on it, or reading it without
    // end) and is never written over; a file beyond the bound is not read and not written either.
    void oddFilesAreNeitherReadNorWritten_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link to a named pipe") << "fifolink";
        QTest::newRow("link to /dev/zero") << "zero";
        QTest::newRow("file beyond the bound") << "huge";
    }
    void oddFilesAreNeitherReadNorWritten()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir(m_tmp.filePath(QStringLiteral("odd-XXXXXX")));
        const QString path = dir.filePath(QStringLiteral("f.ini"));
        const QString pipe = dir.filePath(QStringLiteral("tubo"));
        if (kind == QLatin1String("fifo")) {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
        } else if (kind == QLatin1String("fifolink")) {
            QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0644) == 0);
            QVERIFY(QFile::link(pipe, path));
        } else if (kind == QLatin1String("zero")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        } else {
            // Sparse: one byte over the bound in size, next to nothing on the disk.
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[s]\r\nk=1\r\n") == 10);
            QVERIFY(f.resize(qint64(DataFile::kReadLimit) + 1));
        }
        struct stat before
        {
        };
        QVERIFY(::lstat(QFile::encodeName(path).constData(), &before) == 0);

        ProfileFiles pf;
        QVERIFY(pf.read(path, QStringLiteral("s"), QStringLiteral("k")).isNull());
        QVERIFY(!pf.write(path, QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("2")));
        QVERIFY(!IniReader(path.toStdString()).read("s", "k"));
        QCOMPARE(DataFileQt::fileExists(path), kind == QLatin1String("huge"));

        struct stat after
        {
        };
        QVERIFY(::lstat(QFile::encodeName(path).constData(), &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_size, before.st_size);
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).size(),
            kind == QLatin1String("fifolink") ? 2 : 1);
    }

    // A link the user made to a file elsewhere is read through; a save replaces the link by
    // the file itself and leaves the other file as it was.
    void linkToAFileIsReadAndReplacedOnSave()
    {
        QTemporaryDir dir(m_tmp.filePath(QStringLiteral("link-XXXXXX")));
        const QString path = dir.filePath(QStringLiteral("f.ini"));
        const QString other = dir.filePath(QStringLiteral("compartido.ini"));
        QVERIFY(writeFile(other, "[s]\r\nk=1\r\n"));
        QVERIFY(QFile::link(other, path));
        ProfileFiles pf;
        QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("1"));
        QCOMPARE(IniReader(path.toStdString()).read("s", "k").value_or("<null>"), std::string("1"));
        QVERIFY(pf.write(path, QStringLiteral("s"), QStringLiteral("j"), QStringLiteral("2")));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(readFile(path), QByteArray("[s]\r\nk=1\r\nj=2\r\n"));
        QCOMPARE(readFile(other), QByteArray("[s]\r\nk=1\r\n"));
    }

    // A save cut short leaves its temporary copy; the next save of that file removes it, and
    // nothing else: not what a leftover link points to, not the user's other files.
    void nextSaveRemovesOurOwnLeftoversOnly()
    {
        QTemporaryDir dir(m_tmp.filePath(QStringLiteral("left-XXXXXX")));
        const QString path = dir.filePath(QStringLiteral("f.ini"));
        QVERIFY(writeFile(path, "[s]\r\nk=1\r\n"));
        QVERIFY(writeFile(path + QStringLiteral(".Ab12Cd.nuevo"), "[s]\r\nk=0\r\n"));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("ajeno.txt")), "ajeno"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("ajeno.txt")), path + QStringLiteral(".4242.nuevo")));
        const QStringList kept { "ajeno.txt", "f.ini", "f.ini.Ab-2.nuevo", "f.ini.Ab12Cd.nuevo.txt", "f.ini.bak",
            "g.ini.Ab12Cd.nuevo" };
        for (const QString &name : kept) {
            if (!QFile::exists(dir.filePath(name)))
                QVERIFY(writeFile(dir.filePath(name), "mio"));
        }
        ProfileFiles pf;
        QVERIFY(pf.write(path, QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("2")));
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System), kept);
        QCOMPARE(readFile(dir.filePath(QStringLiteral("ajeno.txt"))), QByteArray("ajeno"));
        QCOMPARE(readFile(path), QByteArray("[s]\r\nk=2\r\n"));
    }

    // A modification time in the future (a clock set wrong, a file copied from elsewhere) must
    // not make every read of a key read the whole file again.
    void futureModificationTimeStillLetsTheCacheWork()
    {
        const QString path = newPath();
        QByteArray bytes = "[Info]\r\n";
        for (int i = 1; i <= 2000; ++i)
            bytes += QByteArray::number(i) + "=EQUIPO" + QByteArray::number(i) + " OFICINA\r\n";
        QVERIFY(writeFile(path, bytes));
        struct timespec times[2] {};
        ::clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec += 3600;
        times[1] = times[0];
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
        struct stat st
        {
        };
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);

        ProfileFiles pf;
        QCOMPARE(pf.read(path, QStringLiteral("Info"), QStringLiteral("1")), QStringLiteral("EQUIPO1 OFICINA"));
        // Once the clock has moved past the last change, the file's stamp can be trusted.
        QTRY_VERIFY(coarseClockPassed(st.st_ctim));
        QCOMPARE(pf.read(path, QStringLiteral("Info"), QStringLiteral("2")), QStringLiteral("EQUIPO2 OFICINA"));
        const qint64 before = bytesRead();
        for (int i = 3; i <= 100; ++i)
            QCOMPARE(
                pf.read(path, QStringLiteral("Info"), QString::number(i)), QStringLiteral("EQUIPO%1 OFICINA").arg(i));
        const qint64 read = bytesRead() - before;
        QVERIFY2(before >= 0 && read < bytes.size(), qPrintable(QStringLiteral("%1 bytes read").arg(read)));
    }

    // Many sections and keys, hidden duplicates and names in other cases among them: the values
    // seen while editing and those a fresh read of the saved file finds agree with a plain map of
    // what was written.
    void manySectionsAndKeysKeepTheirValues()
    {
        const QString path = newPath();
        QHash<QPair<int, int>, QString> expected;
        QByteArray bytes;
        for (int i = 0; i < 300; ++i) {
            bytes += "[S" + QByteArray::number(i) + "]\r\n";
            for (int j = 0; j < 20; ++j) {
                bytes += "K" + QByteArray::number(j) + "=v" + QByteArray::number(i) + "." + QByteArray::number(j)
                    + "\r\n";
                expected.insert({ i, j }, QStringLiteral("v%1.%2").arg(i).arg(j));
            }
            if (i % 7 == 0)
                bytes += "[s" + QByteArray::number(i) + "]\r\nk3=oculta\r\nk25=oculta\r\n";
        }
        QVERIFY(writeFile(path, bytes));

        QRandomGenerator gen(20250301);
        ProfileFiles pf;
        pf.beginBatch(path);
        for (int n = 0; n < 3000; ++n) {
            const int i = gen.bounded(400);
            const int j = gen.bounded(30);
            const QString section = (n % 2 ? QStringLiteral("S%1") : QStringLiteral(" s%1")).arg(i);
            const QString value = QStringLiteral("w%1").arg(n);
            QVERIFY(pf.write(path, section, QStringLiteral("k%1").arg(j), value));
            expected.insert({ i, j }, value);
            const int ci = gen.bounded(400);
            const int cj = gen.bounded(30);
            QCOMPARE(pf.read(path, QStringLiteral("S%1").arg(ci), QStringLiteral("K%1").arg(cj)),
                expected.value({ ci, cj }));
        }
        QCOMPARE(pf.endBatch(), 0);

        ProfileFiles fresh;
        for (int i = 0; i < 400; ++i) {
            for (int j = 0; j < 30; ++j) {
                const QString got = fresh.read(path, QStringLiteral("s%1").arg(i), QStringLiteral("K%1").arg(j));
                if (got != expected.value({ i, j }) || got.isNull() != !expected.contains({ i, j }))
                    QFAIL(qPrintable(QStringLiteral("[S%1] K%2: %3").arg(i).arg(j).arg(got)));
            }
        }
    }

    void handEditIsSeenEvenWithSameSizeAndTime()
    {
        const QString path = newPath();
        ProfileFiles pf;
        QVERIFY(pf.write(path, QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("aaa")));
        QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("aaa"));
        // Once the file-system clock has moved on, the cache trusts the stamps.
        QTRY_VERIFY(clockPassedLastChange(path));
        QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("aaa"));

        struct stat before
        {
        };
        QVERIFY(::stat(QFile::encodeName(path).constData(), &before) == 0);
        // Rewrite in place (same inode, same size) and put the old modification time back.
        QByteArray bytes = readFile(path);
        bytes.replace("aaa", "bbb");
        QVERIFY(writeFile(path, bytes));
        const struct timespec times[2] = { before.st_atim, before.st_mtim };
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
        QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("bbb"));

        // Replace by another file of the same size and the same times: a new inode.
        QTRY_VERIFY(clockPassedLastChange(path));
        QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("bbb"));
        struct stat now
        {
        };
        QVERIFY(::stat(QFile::encodeName(path).constData(), &now) == 0);
        const QString other = path + QStringLiteral(".new");
        bytes.replace("bbb", "ccc");
        QVERIFY(writeFile(other, bytes));
        const struct timespec same[2] = { now.st_atim, now.st_mtim };
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(other).constData(), same, 0) == 0);
        QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
        QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("ccc"));

        // A change made right after the last read, within the same clock tick.
        bytes.replace("ccc", "ddd");
        QVERIFY(writeFile(path, bytes));
        QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("ddd"));
        bytes.replace("ddd", "eee");
        QVERIFY(writeFile(path, bytes));
        QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("eee"));
    }

    void randomBytesNeitherCrashNorGetLost()
    {
        const QString path = newPath();
        QByteArray noise(64 * 1024, Qt::Uninitialized);
        QRandomGenerator gen(20240611);
        for (char &c : noise)
            c = char(gen.bounded(256));
        QVERIFY(writeFile(path, noise));
        ProfileFiles pf;
        (void)pf.read(path, QStringLiteral("Equipos"), QStringLiteral("Total"));
        QVERIFY(pf.write(path, QStringLiteral("Zz9 section"), QStringLiteral("k"), QStringLiteral("v")));
        const QByteArray after = readFile(path);
        QVERIFY(after.startsWith(noise));
        QVERIFY(after.endsWith("[Zz9 section]\r\nk=v\r\n"));
        QCOMPARE(ProfileFiles().read(path, QStringLiteral("zz9 SECTION"), QStringLiteral("K")), QStringLiteral("v"));
    }

    void batchEndsLikeSingleWrites()
    {
        const QString single = newPath();
        const QString batched = newPath();
        const QByteArray start = "; book\n[Redes]\nTotal=1\n1=casa\n\n[Equipos]\nTotal=0\n";
        QVERIFY(writeFile(single, start));
        QVERIFY(writeFile(batched, start));
        ProfileFiles one;
        ProfileFiles many;
        many.beginBatch(batched);
        for (int i = 1; i <= 40; ++i) {
            const QString section = i % 3 ? QStringLiteral("Equipos") : QStringLiteral("Otra");
            QVERIFY(one.write(single, section, QString::number(i % 17), QStringLiteral("v%1").arg(i)));
            QVERIFY(many.write(batched, section, QString::number(i % 17), QStringLiteral("v%1").arg(i)));
            // Reads inside the batch see the pending values, the disk does not yet.
            QCOMPARE(many.read(batched, section, QString::number(i % 17)), QStringLiteral("v%1").arg(i));
        }
        QCOMPARE(readFile(batched), start);
        QCOMPARE(many.endBatch(), 0);
        QCOMPARE(readFile(batched), readFile(single));
    }

    void batchThatCannotBeSavedReportsEveryWrite()
    {
        QTemporaryDir dir(m_tmp.filePath(QStringLiteral("lost-XXXXXX")));
        const QString path = dir.filePath(QStringLiteral("f.ini"));
        QVERIFY(writeFile(path, "[s]\nk=1\n"));
        ProfileFiles pf;
        pf.beginBatch(path);
        QVERIFY(pf.write(path, QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("2")));
        QVERIFY(pf.write(path, QStringLiteral("s"), QStringLiteral("j"), QStringLiteral("3")));
        QVERIFY(pf.write(path, QStringLiteral("t"), QStringLiteral("k"), QStringLiteral("4")));
        QVERIFY(setMode(dir.path(), 0555));
        QCOMPARE(pf.endBatch(), 3);
        setMode(dir.path(), 0755);
        QCOMPARE(readFile(path), QByteArray("[s]\nk=1\n"));
        QCOMPARE(pf.read(path, QStringLiteral("s"), QStringLiteral("k")), QStringLiteral("1"));
    }
};

QTEST_GUILESS_MAIN(tst_ProfileFiles)
#include "tst_ProfileFiles.moc"
