#include "fakes/TestSupport.h"
#include "net/NetCommand.h"
#include "net/PrivateNetwork.h"
#include "net/SambaHost.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

// The real net program delivering to real smbd instances: two "computers" on
// 127.0.0.2 and 127.0.0.3, one that refuses messages on 127.0.0.4, and, for groups,
// two more inside network namespaces this test creates (NetBIOS name service does
// not answer on loopback). smbclient and nmblookup always get the test's own client
// configuration and explicit addresses.
class tst_netSamba : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void deliversTheExactText_data();
    void deliversTheExactText();
    void failuresAreReportedNotDelivered_data();
    void failuresAreReportedNotDelivered();
    void namesArriveInTheCodePage();
    void groupReachesEveryMember();

private:
    struct Run
    {
        int exitCode = -1;
        QStringList out;
    };
    Run runNet(const QStringList &arguments, const QString &netns = QString());
    void writeIni(const QByteArray &text);

    QTemporaryDir m_root;
    QString m_program;
    QString m_clientConf;
    std::unique_ptr<SambaHost> m_office1;
    std::unique_ptr<SambaHost> m_office2;
    std::unique_ptr<SambaHost> m_refuses;
};

void tst_netSamba::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY(TestSupport::prepareEnvironment(m_root.path()));
    if (::geteuid() != 0)
        QSKIP("needs root: smbd serves messages on port 139 and the group test creates network namespaces");
    if (QStandardPaths::findExecutable(QStringLiteral("smbd"), { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin") })
            .isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("smbclient")).isEmpty())
        QSKIP("smbd or smbclient is not installed (packages samba, smbclient)");

    // smbd's message command runs as the guest user, who must reach the spool folders.
    QVERIFY(QFile::setPermissions(m_root.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup
            | QFile::ExeGroup));
    m_program = m_root.filePath(QStringLiteral("programa"));
    QVERIFY(QDir().mkpath(m_program));
    QVERIFY(QFile::copy(QStringLiteral(NET_BINARY), m_program + QStringLiteral("/net")));
    m_clientConf = SambaHost::writeClientConfig(m_root.path(), QStringLiteral("lo"), QStringLiteral("OFICINA"));

    auto host = [this](const char *name, const char *address, bool accept) {
        SambaHost::Settings s;
        s.netbiosName = QString::fromLatin1(name);
        s.workgroup = QStringLiteral("OFICINA");
        s.address = QString::fromLatin1(address);
        s.interfaces = s.address + QStringLiteral("/8");
        s.acceptMessages = accept;
        const QString dir = m_root.filePath(s.netbiosName);
        QDir().mkpath(dir);
        return std::make_unique<SambaHost>(dir, s);
    };
    m_office1 = host("OFICINA1", "127.0.0.2", true);
    m_office2 = host("OFICINA2", "127.0.0.3", true);
    m_refuses = host("RECHAZA", "127.0.0.4", false);
    for (SambaHost *h : { m_office1.get(), m_office2.get(), m_refuses.get() })
        QVERIFY2(h->start(), qPrintable(h->error()));
}

void tst_netSamba::cleanupTestCase()
{
    m_office1.reset();
    m_office2.reset();
    m_refuses.reset();
}

void tst_netSamba::init()
{
    writeIni("[Equipos]\nOFICINA1=127.0.0.2\nOFICINA2=127.0.0.3\nRECHAZA=127.0.0.4\nAPAGADO=127.0.0.9\n"
             "[Opciones]\nConfiguracion="
        + m_clientConf.toUtf8() + "\nEspera=5\n");
    m_office1->clearSpool();
    m_office2->clearSpool();
}

void tst_netSamba::writeIni(const QByteArray &text)
{
    QFile file(m_program + QStringLiteral("/net.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

tst_netSamba::Run tst_netSamba::runNet(const QStringList &arguments, const QString &netns)
{
    int exitCode = -1;
    const QByteArray out = SambaHost::run(netns, m_program + QStringLiteral("/net"), arguments, &exitCode, 60000);
    return Run { exitCode, QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts) };
}

void tst_netSamba::deliversTheExactText_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("called");
    QTest::addColumn<QString>("received");
    QTest::addColumn<int>("lines");

    QTest::newRow("spanish text") << "OFICINA1" << QStringLiteral("Hola, ¿qué tal? Año 2026") << "oficina1"
                                  << QStringLiteral("Hola, ¿qué tal? Año 2026") << 1;
    QTest::newRow("shell characters") << "OFICINA2" << QStringLiteral("100% \"sí\" & <no> | $(x) `y` ;z 'q'")
                                      << "oficina2" << QStringLiteral("100% \"sí\" & <no> | $(x) `y` ;z 'q'") << 1;
    QTest::newRow("name in any case") << "oficina2" << QStringLiteral("Ñandú") << "oficina2" << QStringLiteral("Ñandú")
                                      << 1;
    // One unmappable character must not garble the rest of the message.
    QTest::newRow("unmappable character") << "OFICINA1" << QStringLiteral("Cuesta 5 € según García") << "oficina1"
                                          << QStringLiteral("Cuesta 5 ? según García") << 2;
    QTest::newRow("long message") << "OFICINA1" << QString(1700, QChar(0xf1)) << "oficina1"
                                  << QString(1598, QChar(0xf1)) << 2;
}

void tst_netSamba::deliversTheExactText()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    QFETCH(QString, called);
    QFETCH(QString, received);
    QFETCH(int, lines);

    const Run run = runNet({ QStringLiteral("send"), target, message });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.size(), lines);
    QCOMPARE(run.out.first(), QStringLiteral("Mensaje enviado a %1.").arg(target));

    const auto got = m_office1->messages() + m_office2->messages();
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().calledName, called);
    QCOMPARE(QString::fromUtf8(got.first().text), received);
}

void tst_netSamba::failuresAreReportedNotDelivered_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("message refused by the host")
        << "RECHAZA" << QStringLiteral("Error: el equipo RECHAZA ha rechazado el mensaje (");
    QTest::newRow("nobody listening") << "APAGADO"
                                      << QStringLiteral("Error: el equipo APAGADO no responde (NT_STATUS_");
    // Not in net.ini: only broadcast on lo is allowed, where nobody answers.
    QTest::newRow("unknown name") << "NOEXISTE"
                                  << QStringLiteral("Error: no se encuentra el equipo NOEXISTE en la red (");
}

void tst_netSamba::failuresAreReportedNotDelivered()
{
    QFETCH(QString, target);
    QFETCH(QString, firstLine);
    const Run run = runNet({ QStringLiteral("send"), target, QStringLiteral("hola") });
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.value(0).startsWith(firstLine), qPrintable(run.out.value(0)));
    QVERIFY(m_office1->messages().isEmpty());
    QVERIFY(m_office2->messages().isEmpty());
}

// The called name and the sender travel in the code page as the text does, and net.ini
// is read in Windows-1252. smbd's own log shows both names decoded whole.
void tst_netSamba::namesArriveInTheCodePage()
{
    SambaHost::Settings settings;
    settings.netbiosName = QStringLiteral("RECEPTOR");
    settings.workgroup = QStringLiteral("OFICINA");
    settings.address = QStringLiteral("127.0.0.30");
    settings.interfaces = settings.address + QStringLiteral("/8");
    settings.logLevel = 3;
    const QString dir = m_root.filePath(QStringLiteral("receptor"));
    QVERIFY(QDir().mkpath(dir));
    SambaHost receiver(dir, settings);
    QVERIFY2(receiver.start(), qPrintable(receiver.error()));
    writeIni("[Equipos]\nDISE\xd1O=127.0.0.30\n[Opciones]\nConfiguracion=" + m_clientConf.toUtf8() + "\n");

    const NetCommand::Result result
        = NetCommand((m_program + QStringLiteral("/net.ini")).toStdString(), "Muñoz").run({ "send", "diseño", "hola" });
    QCOMPARE(QString::fromStdString(result.out.at(0)), QStringLiteral("Mensaje enviado a diseño."));
    QCOMPARE(receiver.messages().size(), 1);
    const QList<QPair<QString, QString>> expected { { QStringLiteral("Muñoz"), QStringLiteral("diseño") } };
    QCOMPARE(receiver.loggedSends(), expected);
}

void tst_netSamba::groupReachesEveryMember()
{
    if (!PrivateNetwork::toolsPresent())
        QSKIP("needs ip (iproute2) and nmbd to build a private network for name service");

    // Namespaces of our own: a hub holding a bridge (where net runs), two members of
    // VENTAS and one of DISEÑO, whose name lies outside ASCII too.
    PrivateNetwork network(QStringLiteral("vnv%1").arg(::getpid()), QStringLiteral("10.231.0"));
    if (!network.create(3) && network.cannotHere())
        QSKIP(qPrintable(QStringLiteral("cannot make network namespaces here: %1").arg(network.why())));
    QVERIFY2(network.why().isEmpty(), qPrintable(network.why()));
    const QString hub = network.hub();

    std::vector<std::unique_ptr<SambaHost>> hosts;
    for (int i = 0; i < 3; ++i) {
        const QString ns = network.member(i);
        const QString address = network.address(i);
        SambaHost::Settings s;
        s.netbiosName = i < 2 ? QStringLiteral("MIEMBRO%1").arg(i + 1) : QStringLiteral("DISEÑO");
        s.workgroup = i < 2 ? QStringLiteral("VENTAS") : QStringLiteral("DISEÑO");
        s.address = address;
        s.interfaces = address + QStringLiteral("/24");
        s.netns = ns;
        s.nameService = true;
        const QString dir = m_root.filePath(ns);
        QVERIFY(QDir().mkpath(dir));
        hosts.push_back(std::make_unique<SambaHost>(dir, s));
        QVERIFY2(hosts.back()->start(), qPrintable(hosts.back()->error()));
    }

    const QString groupDir = m_root.filePath(QStringLiteral("grupo"));
    QVERIFY(QDir().mkpath(groupDir));
    const QString conf = SambaHost::writeClientConfig(groupDir, QStringLiteral("br0"), QStringLiteral("VENTAS"));
    writeIni("[Opciones]\nConfiguracion=" + conf.toUtf8() + "\nDifusion=10.231.0.255\nEspera=5\n");

    // nmbd needs a few seconds to claim its names, far more on a busy machine; wait until
    // every member answers.
    QByteArray answer;
    const auto everyoneAnswers = [&] {
        answer = SambaHost::run(
                     hub, QStringLiteral("nmblookup"), { "--configfile=" + conf, "--broadcast=10.231.0.255", "VENTAS" })
            + SambaHost::run(hub, QStringLiteral("nmblookup"),
                { "--configfile=" + conf, "--broadcast=10.231.0.255", QStringLiteral("DISEÑO") });
        return answer.contains("10.231.0.2 ") && answer.contains("10.231.0.3 ") && answer.contains("10.231.0.4 ");
    };
    for (int attempt = 0; attempt < 150 && !everyoneAnswers(); ++attempt) {
        for (const auto &host : hosts)
            QVERIFY2(host->ended().isEmpty(), qPrintable(host->ended()));
        QTest::qWait(500);
    }
    QVERIFY2(answer.contains("10.231.0.2 ") && answer.contains("10.231.0.3 ") && answer.contains("10.231.0.4 "),
        answer.constData());

    const QString text = QStringLiteral("Reunión de ventas a las 10");
    const Run run = runNet({ QStringLiteral("send"), QStringLiteral("/domain:VENTAS"), text }, hub);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.value(0), QStringLiteral("Mensaje enviado a VENTAS: 2 equipos (MIEMBRO1, MIEMBRO2)."));
    for (int i = 0; i < 2; ++i) {
        const auto got = hosts.at(i)->messages();
        QCOMPARE(got.size(), 1);
        QCOMPARE(got.first().calledName, QStringLiteral("miembro%1").arg(i + 1));
        QCOMPARE(QString::fromUtf8(got.first().text), text);
    }

    // "*" is the own workgroup of the client configuration.
    for (auto &h : hosts)
        h->clearSpool();
    const Run star = runNet({ QStringLiteral("send"), QStringLiteral("*"), text }, hub);
    QCOMPARE(star.exitCode, 0);
    QCOMPARE(star.out.value(0), QStringLiteral("Mensaje enviado a VENTAS: 2 equipos (MIEMBRO1, MIEMBRO2)."));
    QCOMPARE(hosts.at(0)->messages().size() + hosts.at(1)->messages().size(), 2);

    // One computer by its name: net asks for it where Difusion says, and calls it.
    for (auto &h : hosts)
        h->clearSpool();
    const Run byName = runNet({ QStringLiteral("send"), QStringLiteral("miembro2"), text }, hub);
    QCOMPARE(byName.out, QStringList({ QStringLiteral("Mensaje enviado a miembro2.") }));
    QCOMPARE(hosts.at(0)->messages().size(), 0);
    QCOMPARE(hosts.at(1)->messages().size(), 1);
    const Run nobody = runNet({ QStringLiteral("send"), QStringLiteral("NADIE"), text }, hub);
    QCOMPARE(
        nobody.out.value(0), QStringLiteral("Error: no se encuentra el equipo NADIE en la red (NT_STATUS_NOT_FOUND)."));

    // Names are read from the node status in the code page, whole: "DISEÑO" is messaged by its name.
    const Run beyondAscii = runNet({ QStringLiteral("send"), QStringLiteral("/domain:DISEÑO"), text }, hub);
    QCOMPARE(beyondAscii.exitCode, 0);
    QCOMPARE(beyondAscii.out, QStringList({ QStringLiteral("Mensaje enviado a DISEÑO: 1 equipo (DISEÑO).") }));
    QCOMPARE(hosts.at(2)->messages().size(), 1);
    QCOMPARE(QString::fromUtf8(hosts.at(2)->messages().first().text), text);

    const Run none = runNet({ QStringLiteral("send"), QStringLiteral("/domain:COMPRAS"), text }, hub);
    QCOMPARE(none.exitCode, 1);
    QCOMPARE(none.out.value(0), QStringLiteral("Error: no se encuentra ningún equipo del grupo COMPRAS."));

    hosts.clear(); // stop the daemons before their namespaces go
}

QTEST_GUILESS_MAIN(tst_netSamba)
#include "tst_netSamba.moc"
