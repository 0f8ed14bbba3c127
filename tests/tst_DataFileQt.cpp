#include "fakes/TestSupport.h"
#include "runtime/DataFileQt.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

// The data files' Qt face: whether a write would be refused, whether a file is there.
class tst_DataFileQt : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY(prepareEnvironment(m_tmp.path()));
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
            QVERIFY(writeFile(path, {}));
        if (setup == QLatin1String("rofile"))
            QVERIFY(setMode(path, 0444));
        if (setup.startsWith(QLatin1String("rodir")))
            QVERIFY(setMode(dir.path(), 0555));
        if (setup == QLatin1String("nodir"))
            path = d + QStringLiteral("none/f.ini");
        if (setup == QLatin1String("isdir"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("f.ini")));
        if (setup == QLatin1String("fileparent")) {
            QVERIFY(writeFile(d + QStringLiteral("plain"), {}));
            path = d + QStringLiteral("plain/f.ini");
        }
        QCOMPARE(DataFileQt::writeRefused(path), refused);
        QVERIFY(setMode(dir.path(), 0755));
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
        QVERIFY(writeFile(d + QStringLiteral("empty"), {}));
        QVERIFY(writeFile(d + QStringLiteral("secret"), {}));
        QVERIFY(setMode(d + QStringLiteral("secret"), 0));
        QVERIFY(QFile::link(d + QStringLiteral("empty"), d + QStringLiteral("link")));
        QVERIFY(QFile::link(d + QStringLiteral("gone"), d + QStringLiteral("dangling")));
        QVERIFY(QDir(d).mkdir(QStringLiteral("dir")));
        QCOMPARE(DataFileQt::fileExists(name.isEmpty() ? QString() : d + name), exists);
    }
};

QTEST_GUILESS_MAIN(tst_DataFileQt)
#include "tst_DataFileQt.moc"
