#include "fakes/FakeRuntime.h"
#include "fakes/FakeSendWindow.h"

#include "dispatch/Dispatch.h"
#include "fakes/TestSupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// Hostile recipients and messages: whatever the user types, the batch line runs `net`
// once, with exactly the intended words, writes nowhere but mensaje.txt and runs nothing else.
class tst_DispatchInjection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void netGetsExactlyTheWords_data();
    void netGetsExactlyTheWords();
};

namespace {

QString alphabet()
{
    QString a;
    for (char c = 33; c < 127; ++c)
        a += QLatin1Char(c);
    // Letters of Windows-1252 beyond ASCII, and the shell's syntax once more so it turns up often.
    a += QStringLiteral("áéíóúÁÉÍÓÚñÑüÜçÇàèìòùâêîôûäëïöÿ¿¡ºª€£¥©®°±µßæøåÆØÅ");
    a += QStringLiteral("|&;<>()$`\\\"'*?[]#~!{}=%^\t\n|&;<>()$`\\\"'*?#~");
    return a;
}

QString word(QRandomGenerator &rng, const QString &alphabet, int maxLength)
{
    QString w;
    const int n = 1 + int(rng.bounded(maxLength));
    for (int k = 0; k < n; ++k)
        w += alphabet.at(int(rng.bounded(int(alphabet.size()))));
    return w;
}

} // namespace

void tst_DispatchInjection::initTestCase()
{
    QVERIFY(TestSupport::prepareEnvironment());
}

void tst_DispatchInjection::netGetsExactlyTheWords_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<quint32>("randomStart");
    QTest::addColumn<int>("sends");

    QTest::newRow("plain folder") << "programa" << 20240501u << 500;
    QTest::newRow("folder with shell symbols") << "p $x `y` \"q\" 'z' ;&|<>()*?[#~ \\n a$b" << 77u << 500;
}

void tst_DispatchInjection::netGetsExactlyTheWords()
{
    QFETCH(QString, folder);
    QFETCH(quint32, randomStart);
    QFETCH(int, sends);

    QTemporaryDir dir;
    const QString prog = dir.path() + QLatin1Char('/') + folder + QLatin1Char('/');
    QVERIFY(TestSupport::prepareProgram(prog));
    // A file that a glob in the line would match, to catch globbing.
    QVERIFY(TestSupport::writeFile(prog + QStringLiteral("a.txt"), {}));

    FakeRuntime rt;
    rt.m_appPath = prog.chopped(1);
    FakeSendWindow window;
    window.m_path = prog;
    Dispatch dispatch(rt, window);

    QRandomGenerator rng(randomStart);
    const QString letters = alphabet();
    QList<QStringList> expected;
    for (int k = 0; k < sends; ++k) {
        const QString recipient = word(rng, letters, 12);
        QStringList words;
        const int n = int(rng.bounded(5));
        for (int j = 0; j < n; ++j)
            words << word(rng, letters, 10);
        // Blanks separate the message's words for net, however many there are.
        QString message = words.join(rng.bounded(2) ? QStringLiteral(" ") : QStringLiteral("  "));
        if (rng.bounded(4) == 0)
            message.prepend(QLatin1Char(' '));
        window.m_group = rng.bounded(3) == 0;

        QCOMPARE(int(dispatch.EnviarADestino(recipient, message)), 1);
        expected << (QStringList { "send", (window.m_group ? QStringLiteral("/domain:") : QString()) + recipient }
            + words);
    }

    const QList<QStringList> calls = TestSupport::netCalls(prog);
    QCOMPARE(calls.size(), expected.size());
    for (int k = 0; k < expected.size(); ++k)
        QCOMPARE(calls.at(k), expected.at(k));
    QCOMPARE(rt.m_boxes.size(), 0);
    QCOMPARE(window.messages().rows(), sends);

    const QStringList files = QDir(prog).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    QCOMPARE(files, (QStringList { "a.txt", "ejecuta.bat", "mensaje.txt", "net", "net.registro" }));
    const QStringList outside = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(outside, QStringList { folder });
}

QTEST_GUILESS_MAIN(tst_DispatchInjection)
#include "tst_DispatchInjection.moc"
