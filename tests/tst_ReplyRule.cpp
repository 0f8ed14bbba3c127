#include "fakes/FakeNameService.h"
#include "receive/ReplyRule.h"

#include <QSignalSpy>
#include <QTest>

// Whom "&Responder" writes to, as the sending computer's name service says, with no window:
// asked over loopback of a fake that answers as nmbd does, is silent, or lies.
class tst_ReplyRule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theSendingComputerDecides_data();
    void theSendingComputerDecides();
    void aRecordWithoutAnIPv4AddressIsNotAsked();
};

void tst_ReplyRule::theSendingComputerDecides_data()
{
    using Name = FakeNameService::Name;
    using Mode = FakeNameService::Mode;
    QTest::addColumn<QList<Name>>("names");
    QTest::addColumn<int>("mode"); // -1: nothing listens on the port
    QTest::addColumn<QString>("computer");
    QTest::addColumn<QString>("address");
    QTest::addColumn<ReplyRule::Outcome>("outcome");
    QTest::addColumn<QString>("replyTo");
    // A computer set up with a name for each person, and one without.
    const QList<Name> perPerson { { "EMISORA", 0x00 }, { "EMISORA" }, { "OFICINA", 0x03, true }, { "EMISORA", 0x20 },
        { "VPPEDRO" } };
    const QList<Name> shared { { "EMISORA", 0x00 }, { "EMISORA" }, { "JUAN" }, { "EMISORA", 0x20 } };
    QTest::newRow("person") << perPerson << int(Mode::Answer) << "emisora"
                            << "127.0.0.1" << ReplyRule::Outcome::Person << "vppedro";
    QTest::newRow("computer") << shared << int(Mode::Answer) << "emisora"
                              << "127.0.0.1" << ReplyRule::Outcome::Computer << "EMISORA";
    // smbd gives the address of an IPv4 peer as IPv4-mapped IPv6.
    QTest::newRow("mapped address") << perPerson << int(Mode::Answer) << "emisora"
                                    << "::FFFF:127.0.0.1" << ReplyRule::Outcome::Person << "vppedro";
    // It called itself by another name: the first it gives for itself.
    QTest::newRow("computer of another name") << shared << int(Mode::Answer) << "pc9"
                                              << "127.0.0.1" << ReplyRule::Outcome::Computer << "EMISORA";
    // Names travel in the DOS code page: Ñ is 0xa5 in CP850.
    QTest::newRow("computer's name beyond ASCII") << QList<Name> { { "DISE\xa5O" } } << int(Mode::Answer) << "pc9"
                                                  << "127.0.0.1" << ReplyRule::Outcome::Computer << "DISEÑO";
    QTest::newRow("person's name not in use")
        << QList<Name> { { "EMISORA" }, { "VPPEDRO", 0x03, false, false } } << int(Mode::Answer) << "emisora"
        << "127.0.0.1" << ReplyRule::Outcome::Computer << "EMISORA";
    // A name with control characters is nobody's to write to.
    QTest::newRow("name that is no text") << QList<Name> { { "EMI\x07SORA" } } << int(Mode::Answer) << "emisora"
                                          << "127.0.0.1" << ReplyRule::Outcome::NoMessenger << "emisora";
    // Answers from another port, of another question, too long or cut all name the sender a
    // person; none is taken.
    QTest::newRow("hostile") << shared << int(Mode::Hostile) << "emisora"
                             << "127.0.0.1" << ReplyRule::Outcome::Computer << "EMISORA";
    QTest::newRow("no messenger") << QList<Name> { { "EMISORA", 0x00 }, { "EMISORA", 0x20 }, { "OFICINA", 0x03, true } }
                                  << int(Mode::Answer) << "emisora"
                                  << "127.0.0.1" << ReplyRule::Outcome::NoMessenger << "emisora";
    QTest::newRow("silent") << shared << int(Mode::Silent) << "emisora"
                            << "127.0.0.1" << ReplyRule::Outcome::NoAnswer << "emisora";
    QTest::newRow("no name service") << shared << -1 << "emisora"
                                     << "127.0.0.1" << ReplyRule::Outcome::NoAnswer << "emisora";
}

void tst_ReplyRule::theSendingComputerDecides()
{
    QFETCH(QList<FakeNameService::Name>, names);
    QFETCH(int, mode);
    QFETCH(QString, computer);
    QFETCH(QString, address);
    QFETCH(ReplyRule::Outcome, outcome);
    QFETCH(QString, replyTo);
    FakeNameService nameService(names, FakeNameService::Mode(std::max(mode, 0)));
    quint16 port = nameService.port();
    if (mode < 0) {
        // A port that was just given up.
        QUdpSocket closed;
        QVERIFY(closed.bind(QHostAddress::LocalHost, 0));
        port = closed.localPort();
    }
    ReplyRule rule;
    rule.setNameServicePort(port);
    QSignalSpy decided(&rule, &ReplyRule::decided);
    Mailbox::Message message;
    message.from = QStringLiteral("vppedro");
    message.computer = computer;
    message.address = address;
    QVERIFY(rule.ask(message));
    QVERIFY(rule.asking());
    QVERIFY(decided.wait(ReplyRule::kBoundMs + 3000));
    QCOMPARE(decided.at(0).at(0).value<ReplyRule::Outcome>(), outcome);
    QCOMPARE(decided.at(0).at(1).toString(), replyTo);
    QVERIFY(!rule.asking());
    QVERIFY(mode < 0 || nameService.questions() >= 1);
    // Decided once: the answers still on their way change nothing.
    QTest::qWait(ReplyRule::kRepeatMs);
    QCOMPARE(decided.size(), 1);
}

void tst_ReplyRule::aRecordWithoutAnIPv4AddressIsNotAsked()
{
    ReplyRule rule;
    QSignalSpy decided(&rule, &ReplyRule::decided);
    Mailbox::Message message;
    message.from = QStringLiteral("vppedro");
    message.computer = QStringLiteral("emisora");
    for (const char *address : { "", "::1", "emisora", "127.0.0.1 " }) {
        message.address = QString::fromLatin1(address);
        QVERIFY2(!rule.ask(message), address);
        QVERIFY(!rule.asking());
    }
    QTest::qWait(50);
    QCOMPARE(decided.size(), 0);
}

QTEST_GUILESS_MAIN(tst_ReplyRule)
#include "tst_ReplyRule.moc"
