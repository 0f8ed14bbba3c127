#include "fakes/TestSupport.h"
#include "runtime/Text.h"

#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

class tst_Text : public QObject
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

    void trimBlanksRemovesSpacesOnly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QString &a, const QString &b) { QTest::newRow(name) << a << b; };
        row("both ends", "  a b  ", "a b");
        row("blanks only", "   ", "");
        row("empty", "", "");
        row("tabs are part of the text", "\ta\t", "\ta\t");
        row("no-break space kept", QString::fromUtf8("\u00a0a "), QString::fromUtf8("\u00a0a"));
    }
    void trimBlanksRemovesSpacesOnly()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Text::trimBlanks(text), expected);
    }

    void properCase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QString &a, const QString &b) { QTest::newRow(name) << a << b; };
        row("words", "jUAN pérez", "Juan Pérez");
        row("hyphen and apostrophe", "josé-maría o'neill", "José-María O'Neill");
        row("digits join the word", "pc01a 2b", "Pc01a 2b");
        row("several blanks kept", "  a  b ", "  A  B ");
        row("Spanish capitals", "ÑANDÚ ÁRBOL", "Ñandú Árbol");
        row("one character for one", "ßa straße", "ßa Straße");
        row("combining accent stays in its word", QString::fromUtf8("e\u0301mile"), QString::fromUtf8("E\u0301mile"));
        row("empty", "", "");
    }
    void properCase()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const QString got = Text::properCase(text);
        QCOMPARE(got, expected);
        QCOMPARE(got.size(), text.size());
    }

    void timeOfDayNamesNoZone_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QString &a, const QString &b) { QTest::newRow(name) << a << b; };
        row("C", "C", "14:05:33");
        row("Spanish", "es_ES", "14:05:33");
        row("zone in brackets", "eu_ES", "14:05:33");
        row("zone after a comma", "be_BY", "14:05:33");
        row("zone first", "zh_HK", QString::fromUtf8("下午2:05:33"));
        row("twelve hours", "en_US", "2:05:33 PM");
    }
    void timeOfDayNamesNoZone()
    {
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QCOMPARE(Text::timeOfDay(QTime(14, 5, 33), QLocale(locale)), expected);
    }

    void timeOfDayDefaultsToTheCurrentLocale()
    {
        QCOMPARE(Text::timeOfDay(QTime(9, 0, 7)), QStringLiteral("09:00:07"));
    }

    void withTrailingSeparator_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QString &a, const QString &b) { QTest::newRow(name) << a << b; };
        row("plain", "/opt/velrisa", "/opt/velrisa/");
        row("already ends in one", "/opt/velrisa/", "/opt/velrisa/");
        row("root", "/", "/");
    }
    void withTrailingSeparator()
    {
        QFETCH(QString, dir);
        QFETCH(QString, expected);
        QCOMPARE(Text::withTrailingSeparator(dir), expected);
    }
};

QTEST_GUILESS_MAIN(tst_Text)
#include "tst_Text.moc"
