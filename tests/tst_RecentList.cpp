#include "addressbook/Module.h"
#include "fakes/FakeRecipientsBox.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"
#include "mainwindow/RecentList.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

class tst_RecentList : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString newDir() { return newFolder(m_tmp.path()); }
    static void send(Module &m, FakeRecipientsBox &box, const QString &line)
    {
        box.m_text = line;
        RecentList::GuardarMRU(m, box);
        RecentList::CargarMRU(m, box);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY(prepareEnvironment(m_tmp.path()));
    }

    void firstLineCreatesTheFile()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        FakeRecipientsBox box;
        send(m, box, QStringLiteral("pc1 pc2 "));
        QCOMPARE(readFile(dir + QStringLiteral("mru.ini")), QByteArray("[Info]\r\nActualMRU=1\r\n1=\"pc1 pc2 \"\r\n"));
        QCOMPARE(box.m_items, QStringList { "pc1 pc2" });
        QCOMPARE(box.m_text, QStringLiteral("pc1 pc2 "));
    }

    void fullListDropsOldestLine()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        Module m(rt, dir);
        FakeRecipientsBox box;
        const QString f = dir + QStringLiteral("mru.ini");
        for (const char *line : { "A", "B", "C", "D", "E" })
            send(m, box, QLatin1String(line));
        for (int i = 1; i <= 5; ++i)
            QCOMPARE(m.LeerIni(f, "Info", QString::number(i), ""), QString(QChar('A' + i - 1)));
        QCOMPARE(m.LeerIni(f, "Info", "ActualMRU", ""), QStringLiteral("5"));
        send(m, box, QStringLiteral("F"));
        for (int i = 1; i <= 5; ++i)
            QCOMPARE(m.LeerIni(f, "Info", QString::number(i), ""), QString(QChar('A' + i)));
        QCOMPARE(m.LeerIni(f, "Info", "ActualMRU", ""), QStringLiteral("5"));
        QCOMPARE(box.m_items, (QStringList { "B", "C", "D", "E", "F" }));
        QVERIFY(rt.m_boxes.isEmpty());
    }

    void linesShown_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("shown");
        const QString sixty = QString(60, QLatin1Char('z'));
        QTest::newRow("same line twice") << QByteArray() << QStringList { "a b", "a b" }
                                         << QStringList { "a b", "a b" };
        QTest::newRow("blanks only take a place but never show")
            << QByteArray() << QStringList { "x", "   ", "y" } << QStringList { "x", "y" };
        QTest::newRow("60 characters show as 49")
            << QByteArray() << QStringList { sixty } << QStringList { sixty.left(49) };
        QTest::newRow("Maximo 10, Total absent: the five oldest")
            << QByteArray("[Info]\r\nMaximo=10\r\n") << QStringList { "1", "2", "3", "4", "5", "6", "7" }
            << QStringList { "1", "2", "3", "4", "5" };
        QTest::newRow("Maximo 0: lines go to key 0, never shown")
            << QByteArray("[Info]\r\nMaximo=0\r\nActualMRU=0\r\n") << QStringList { "a", "b" } << QStringList {};
        QTest::newRow("Total 2 shows two")
            << QByteArray("[Info]\r\nTotal=2\r\n") << QStringList { "a", "b", "c" } << QStringList { "a", "b" };
        QTest::newRow("hostile Maximo is clamped, no overflow")
            << QByteArray("[Info]\r\nMaximo=99999999999\r\nActualMRU=32767\r\n") << QStringList { "a" }
            << QStringList {};
        QTest::newRow("negative Maximo counts as 0")
            << QByteArray("[Info]\r\nMaximo=-3\r\n") << QStringList { "a" } << QStringList {};
        QTest::newRow("ActualMRU as text counts as 0")
            << QByteArray("[Info]\r\nActualMRU=abc\r\n") << QStringList { "a" } << QStringList { "a" };
        QTest::newRow("fractional Total")
            << QByteArray("[Info]\r\nTotal=2.9\r\n1=p\r\n2=q\r\n3=r\r\n") << QStringList {} << QStringList { "p", "q" };
        QTest::newRow("Total as text shows nothing")
            << QByteArray("[Info]\r\nTotal=many\r\n1=p\r\n") << QStringList {} << QStringList {};
    }
    void linesShown()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, sent);
        QFETCH(QStringList, shown);
        FakeRuntime rt;
        const QString dir = newDir();
        if (!before.isNull())
            QVERIFY(writeFile(dir + QStringLiteral("mru.ini"), before));
        Module m(rt, dir);
        FakeRecipientsBox box;
        for (const QString &line : sent)
            send(m, box, line);
        RecentList::CargarMRU(m, box);
        QCOMPARE(box.m_items, shown);
        QVERIFY(rt.m_boxes.isEmpty());
    }

    void maximoZeroWritesKeyZero()
    {
        FakeRuntime rt;
        const QString dir = newDir();
        QVERIFY(writeFile(dir + QStringLiteral("mru.ini"), "[Info]\r\nMaximo=0\r\nActualMRU=0\r\n"));
        Module m(rt, dir);
        FakeRecipientsBox box;
        send(m, box, QStringLiteral("a"));
        QCOMPARE(readFile(dir + QStringLiteral("mru.ini")), QByteArray("[Info]\r\nMaximo=0\r\nActualMRU=0\r\n0=a\r\n"));
    }

    void unwritableFileShowsOnePuffPerWrite_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("boxes");
        QTest::newRow("filling list: two writes") << 2 << 2;
        QTest::newRow("full list of five: six writes") << 5 << 6;
    }
    void unwritableFileShowsOnePuffPerWrite()
    {
        QFETCH(int, stored);
        QFETCH(int, boxes);
        FakeRuntime rt;
        const QString dir = newDir();
        const QString f = dir + QStringLiteral("mru.ini");
        QByteArray content = "[Info]\r\nActualMRU=" + QByteArray::number(stored) + "\r\n";
        for (int i = 1; i <= stored; ++i)
            content += QByteArray::number(i) + "=L" + QByteArray::number(i) + "\r\n";
        QVERIFY(writeFile(f, content));
        QVERIFY(setMode(f, 0444));
        Module m(rt, dir);
        FakeRecipientsBox box;
        box.m_text = QStringLiteral("nuevo");
        RecentList::GuardarMRU(m, box);
        QCOMPARE(rt.m_boxes.size(), boxes);
        for (const FakeRuntime::Box &b : rt.m_boxes)
            QCOMPARE(b.text, QStringLiteral("PUFF"));
        QCOMPARE(readFile(f), content);
    }
};

QTEST_GUILESS_MAIN(tst_RecentList)
#include "tst_RecentList.moc"
