#include "runtime/Archivos.h"
#include "runtime/Texto.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class tst_Texto : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;

    static void put(const QString &path)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    static void mode(const QString &path, mode_t m) { QVERIFY(::chmod(QFile::encodeName(path).constData(), m) == 0); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        qputenv("XDG_RUNTIME_DIR", m_tmp.filePath(QStringLiteral("run")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_tmp.filePath(QStringLiteral("config")).toLocal8Bit());
        QLocale::setDefault(QLocale::c());
    }

    void trimBlanksRemovesSpacesOnly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("both ends") << "  a b  "
                                   << "a b";
        QTest::newRow("blanks only") << "   "
                                     << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("tabs are part of the text") << "\ta\t"
                                                   << "\ta\t";
        QTest::newRow("no-break space kept") << QString::fromUtf8("\u00a0a ") << QString::fromUtf8("\u00a0a");
    }
    void trimBlanksRemovesSpacesOnly()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Texto::trimBlanks(text), expected);
    }

    void properCase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("words") << "jUAN pérez"
                               << "Juan Pérez";
        QTest::newRow("hyphen and apostrophe") << "josé-maría o'neill"
                                               << "José-María O'Neill";
        QTest::newRow("digits join the word") << "pc01a 2b"
                                              << "Pc01a 2b";
        QTest::newRow("several blanks kept") << "  a  b "
                                             << "  A  B ";
        QTest::newRow("Spanish capitals") << "ÑANDÚ ÁRBOL"
                                          << "Ñandú Árbol";
        QTest::newRow("one character for one") << "ßa straße"
                                               << "ßa Straße";
        QTest::newRow("combining accent stays in its word")
            << QString::fromUtf8("e\u0301mile") << QString::fromUtf8("E\u0301mile");
        QTest::newRow("empty") << ""
                               << "";
    }
    void properCase()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const QString got = Texto::properCase(text);
        QCOMPARE(got, expected);
        QCOMPARE(got.size(), text.size());
    }

    void timeOfDayNamesNoZone_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("C") << "C"
                           << "14:05:33";
        QTest::newRow("Spanish") << "es_ES"
                                 << "14:05:33";
        QTest::newRow("zone in brackets") << "eu_ES"
                                          << "14:05:33";
        QTest::newRow("zone after a comma") << "be_BY"
                                            << "14:05:33";
        QTest::newRow("zone first") << "zh_HK" << QString::fromUtf8("下午2:05:33");
        QTest::newRow("twelve hours") << "en_US"
                                      << "2:05:33 PM";
    }
    void timeOfDayNamesNoZone()
    {
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QCOMPARE(Texto::timeOfDay(QTime(14, 5, 33), QLocale(locale)), expected);
    }

    void timeOfDayDefaultsToTheCurrentLocale()
    {
        QCOMPARE(Texto::timeOfDay(QTime(9, 0, 7)), QStringLiteral("09:00:07"));
    }

    void withTrailingSeparator_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "/opt/velrisa"
                               << "/opt/velrisa/";
        QTest::newRow("already ends in one") << "/opt/velrisa/"
                                             << "/opt/velrisa/";
        QTest::newRow("root") << "/"
                              << "/";
    }
    void withTrailingSeparator()
    {
        QFETCH(QString, dir);
        QFETCH(QString, expected);
        QCOMPARE(Texto::withTrailingSeparator(dir), expected);
    }

    void writeRefused_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("refused");
        QTest::newRow("new file in a writable directory") << "newfile" << false;
        QTest::newRow("writable file") << "rwfile" << false;
        QTest::newRow("read-only file") << "rofile" << true;
        QTest::newRow("new file in a read-only directory") << "rodir-new" << true;
        QTest::newRow("writable file in a read-only directory") << "rodir-file" << true;
        QTest::newRow("missing directory") << "nodir" << true;
        QTest::newRow("path is a directory") << "isdir" << true;
        QTest::newRow("parent is a file") << "fileparent" << true;
    }
    void writeRefused()
    {
        QFETCH(QString, setup);
        QFETCH(bool, refused);
        QTemporaryDir dir(m_tmp.filePath(QStringLiteral("w-XXXXXX")));
        const QString d = dir.path() + QLatin1Char('/');
        QString path = d + QStringLiteral("f.ini");
        if (setup == QLatin1String("rwfile") || setup == QLatin1String("rofile")
            || setup == QLatin1String("rodir-file"))
            put(path);
        if (setup == QLatin1String("rofile"))
            mode(path, 0444);
        if (setup.startsWith(QLatin1String("rodir")))
            mode(dir.path(), 0555);
        if (setup == QLatin1String("nodir"))
            path = d + QStringLiteral("none/f.ini");
        if (setup == QLatin1String("isdir"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("f.ini")));
        if (setup == QLatin1String("fileparent")) {
            put(d + QStringLiteral("plain"));
            path = d + QStringLiteral("plain/f.ini");
        }
        QCOMPARE(Archivos::writeRefused(path), refused);
        mode(dir.path(), 0755);
    }

    void fileExists_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("exists");
        QTest::newRow("empty file") << "empty" << true;
        QTest::newRow("unreadable file") << "secret" << true;
        QTest::newRow("link to a file") << "link" << true;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("directory") << "dir" << false;
        QTest::newRow("missing") << "missing" << false;
        QTest::newRow("missing directory") << "nodir/f" << false;
        QTest::newRow("empty path") << "" << false;
    }
    void fileExists()
    {
        QFETCH(QString, name);
        QFETCH(bool, exists);
        QTemporaryDir dir(m_tmp.filePath(QStringLiteral("e-XXXXXX")));
        const QString d = dir.path() + QLatin1Char('/');
        put(d + QStringLiteral("empty"));
        put(d + QStringLiteral("secret"));
        mode(d + QStringLiteral("secret"), 0);
        QVERIFY(QFile::link(d + QStringLiteral("empty"), d + QStringLiteral("link")));
        QVERIFY(QFile::link(d + QStringLiteral("gone"), d + QStringLiteral("dangling")));
        QVERIFY(QDir(d).mkdir(QStringLiteral("dir")));
        QCOMPARE(Archivos::fileExists(name.isEmpty() ? QString() : d + name), exists);
    }
};

QTEST_GUILESS_MAIN(tst_Texto)
#include "tst_Texto.moc"
