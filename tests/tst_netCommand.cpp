#include "fakes/TestSupport.h"
#include "net/BoundedProcess.h"
#include "net/FakeMessenger.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <unistd.h>

// The real net program against fake smbclient and nmblookup scripts put first on PATH.
// The fakes record their arguments and standard input, so the tests see exactly what
// net asked for, and answer the way Samba's tools answer in each situation. Computers
// that net calls itself (at a known address, or found as members of a group) are played
// by a FakeMessenger on loopback addresses of the test's own.
class tst_netCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void everyOutcomeOfOneDelivery_data();
    void everyOutcomeOfOneDelivery();
    void timeOutKillsTheHangingClient();
    void argumentsAreChecked_data();
    void argumentsAreChecked();
    void namesFromNetIniGoToTheirAddress();
    void hostileTextIsOnlyEverMessageText();
    void quotedTextStaysOnItsLine_data();
    void quotedTextStaysOnItsLine();
    void warningsFollowTheOutcomeLine_data();
    void warningsFollowTheOutcomeLine();
    void groupDelivery_data();
    void groupDelivery();
    void groupMembersAreServedAtOnce();
    void hostilePeersGetNoDelivery_data();
    void hostilePeersGetNoDelivery();
    void slowMembersCannotHoldTheSendForever();
    void membersBeyondTheBoundAreReported();
    void membersAnsweringAtOnceAreAllServed();
    void rememberedMembersEndTheListeningEarly();
    void interruptedNetLeavesNoChildBehind_data();
    void interruptedNetLeavesNoChildBehind();
    void viewListsWhatTheNetworkAnswers_data();
    void viewListsWhatTheNetworkAnswers();

private:
    struct Run
    {
        int exitCode = -1;
        QStringList out;
        QStringList err;
    };

    void writeScript(const QString &name, const QByteArray &body);
    void writeIni(const QByteArray &text);
    // maxFiles: net runs with at most that many descriptors (0: as the test does).
    Run runNet(const QStringList &arguments, bool withTools = true, int maxFiles = 0);
    QStringList calls() const; // one line of arguments per smbclient call
    QStringList logLines(const QString &name) const;
    // A fake nmblookup whose group query answers with these addresses (in this order),
    // except for the group VACIO, which nobody answers.
    void writeGroupLookup(const QStringList &addresses);
    bool startComputers(FakeMessenger &computers, const QList<FakeMessenger::Computer> &list,
        const FakeMessenger::Options &options = {});
    QByteArray lastInput() const;

    QTemporaryDir m_root;
    QString m_program; // temporary program directory holding net and net.ini
    QString m_tools; // directory with the fakes, the only PATH entry
    QString m_log; // where the fakes record what they were given
};

void tst_netCommand::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY(TestSupport::prepareEnvironment(m_root.path()));
    m_program = m_root.filePath(QStringLiteral("programa"));
    m_tools = m_root.filePath(QStringLiteral("herramientas"));
    m_log = m_root.filePath(QStringLiteral("registro"));
    QVERIFY(QDir().mkpath(m_program));
    QVERIFY(QFile::copy(QStringLiteral(NET_BINARY), m_program + QStringLiteral("/net")));
}

void tst_netCommand::init()
{
    QDir(m_tools).removeRecursively();
    QDir(m_log).removeRecursively();
    QDir(m_root.filePath(QStringLiteral("cache"))).removeRecursively(); // the groups net remembers
    QVERIFY(QDir().mkpath(m_tools));
    QVERIFY(QDir().mkpath(m_log));
    QFile::remove(m_program + QStringLiteral("/net.ini"));
}

void tst_netCommand::writeScript(const QString &name, const QByteArray &body)
{
    QFile file(m_tools + QLatin1Char('/') + name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    // The fakes find the usual tools themselves: net's own PATH holds only the fakes.
    file.write("#!/bin/sh\nPATH=/usr/bin:/bin\nLOG='" + m_log.toUtf8() + "'\n" + body);
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void tst_netCommand::writeIni(const QByteArray &text)
{
    QFile file(m_program + QStringLiteral("/net.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

tst_netCommand::Run tst_netCommand::runNet(const QStringList &arguments, bool withTools, int maxFiles)
{
    QProcess net;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), withTools ? m_tools : m_root.filePath(QStringLiteral("vacio")));
    net.setProcessEnvironment(env);
    if (maxFiles > 0)
        net.start(QStringLiteral("/bin/sh"),
            QStringList { QStringLiteral("-c"), QStringLiteral("ulimit -n %1 && exec \"$0\" \"$@\"").arg(maxFiles),
                m_program + QStringLiteral("/net") }
                + arguments);
    else
        net.start(m_program + QStringLiteral("/net"), arguments);
    Run run;
    if (!net.waitForFinished(60000)) {
        net.kill();
        net.waitForFinished();
        return run;
    }
    run.exitCode = net.exitStatus() == QProcess::NormalExit ? net.exitCode() : -1;
    run.out = QString::fromUtf8(net.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(net.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

QStringList tst_netCommand::calls() const
{
    QFile file(m_log + QStringLiteral("/calls"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList tst_netCommand::logLines(const QString &name) const
{
    QFile file(m_log + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray tst_netCommand::lastInput() const
{
    QFile file(m_log + QStringLiteral("/input"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no input recorded>");
}

// Records its arguments on one line and its input, then answers as told.
static QByteArray fakeSmbclient(const QByteArray &answer)
{
    return "echo \"$*\" >> \"$LOG/calls\"\ncat > \"$LOG/input\"\n" + answer + "\n";
}

void tst_netCommand::everyOutcomeOfOneDelivery_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("toolPresent");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("delivered") << QByteArray("echo 'Type your message, ending it with a Control-D'; exit 0") << true
                               << 0 << "Mensaje enviado a OFICINA1.";
    QTest::newRow("cannot connect") << QByteArray(
        "echo 'Connection to OFICINA1 failed. Error NT_STATUS_CONNECTION_REFUSED'; exit 1")
                                    << true << 1
                                    << "Error: el equipo OFICINA1 no responde (NT_STATUS_CONNECTION_REFUSED).";
    QTest::newRow("name not found") << QByteArray(
        "echo 'Connection to OFICINA1 failed. Error NT_STATUS_NOT_FOUND'; exit 1")
                                    << true << 1
                                    << "Error: no se encuentra el equipo OFICINA1 en la red (NT_STATUS_NOT_FOUND).";
    QTest::newRow("refused after connecting")
        << QByteArray("echo 'cli_message returned NT_STATUS_INVALID_SMB' >&2; exit 0") << true << 1
        << "Error: el equipo OFICINA1 ha rechazado el mensaje (NT_STATUS_INVALID_SMB).";
    QTest::newRow("smbclient missing") << QByteArray(
        "exit 0") << false << 1 << "Error: no se encuentra el programa smbclient en el PATH (paquete smbclient).";
    QTest::newRow("smbclient crashes") << QByteArray("kill -SEGV $$") << true << 1
                                       << "Error: no se pudo enviar el mensaje a OFICINA1: smbclient terminó con el "
                                          "código -1.";
}

void tst_netCommand::everyOutcomeOfOneDelivery()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, toolPresent);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);
    writeScript(QStringLiteral("smbclient"), fakeSmbclient(answer));

    const Run run = runNet({ QStringLiteral("send"), QStringLiteral("OFICINA1"), QStringLiteral("Hola") }, toolPresent);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(!run.out.isEmpty());
    QCOMPARE(run.out.first(), firstLine);
    // The caller decides by the first line alone: only a delivery may start with the marker.
    QCOMPARE(run.out.first().startsWith(QLatin1String("mensaje enviado"), Qt::CaseInsensitive), exitCode == 0);
    if (exitCode == 0) {
        QVERIFY(run.err.isEmpty());
        QCOMPARE(lastInput(), QByteArray("Hola"));
    } else {
        QVERIFY(!run.err.isEmpty());
        QCOMPARE(run.err.first(), firstLine);
    }
}

void tst_netCommand::timeOutKillsTheHangingClient()
{
    writeIni("[Opciones]\nEspera=1\n");
    writeScript(QStringLiteral("smbclient"), "sleep 120 &\necho $! > \"$LOG/sleeper\"\nwait\n");

    QElapsedTimer clock;
    clock.start();
    const Run run = runNet({ QStringLiteral("send"), QStringLiteral("OFICINA1"), QStringLiteral("hola") });
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out.value(0), QStringLiteral("Error: el equipo OFICINA1 no ha contestado en 1 segundo."));
    // The whole tree of the hanging client is gone, not only the script.
    QFile pidFile(m_log + QStringLiteral("/sleeper"));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const QByteArray pid = pidFile.readAll().trimmed();
    QVERIFY(!pid.isEmpty());
    QTRY_VERIFY(!QFile::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)));
    qInfo("net gave up after %lld ms", clock.elapsed());
}

void tst_netCommand::argumentsAreChecked_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QByteArray>("input");

    const QString usage = QStringLiteral("Uso: net send {equipo | * | /domain:grupo} mensaje");
    QTest::newRow("nothing") << QStringList() << 2 << usage << QByteArray();
    QTest::newRow("unknown subcommand") << QStringList { "view", "OFICINA1", "hola" } << 2 << usage << QByteArray();
    QTest::newRow("send alone") << QStringList { "send" } << 2 << usage << QByteArray();
    QTest::newRow("no message") << QStringList { "send", "OFICINA1" } << 2 << usage << QByteArray();
    QTest::newRow("empty words only") << QStringList { "send", "OFICINA1", "", " " } << 2 << usage << QByteArray();
    QTest::newRow("subcommand in any case")
        << QStringList { "SEND", "OFICINA1", "hola" } << 0 << "Mensaje enviado a OFICINA1." << QByteArray("hola");
    QTest::newRow("words joined by single blanks")
        << QStringList { "send", "OFICINA1", "Hola,", "¿qué", "tal?" } << 0 << "Mensaje enviado a OFICINA1."
        << QByteArray("Hola, \xa8qu\x82 tal?");
    QTest::newRow("blanks inside one word stay") << QStringList { "send", "OFICINA1", "a  b", "c" } << 0
                                                 << "Mensaje enviado a OFICINA1." << QByteArray("a  b c");
    QTest::newRow("empty group") << QStringList { "send", "/domain:", "hola" } << 2
                                 << "Error: nombre de destino no válido: \"\"." << QByteArray();
    QTest::newRow("name too long") << QStringList { "send", "NOMBREMUYLARGO16", "hola" } << 2
                                   << "Error: nombre de destino no válido: \"NOMBREMUYLARGO16\"." << QByteArray();
}

void tst_netCommand::argumentsAreChecked()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);
    QFETCH(QByteArray, input);
    writeScript(QStringLiteral("smbclient"), fakeSmbclient("exit 0"));

    const Run run = runNet(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out.value(0), firstLine);
    if (exitCode == 0) {
        QCOMPARE(lastInput(), input);
    } else {
        QCOMPARE(run.err.value(0), firstLine);
        QVERIFY(calls().isEmpty());
    }
}

bool tst_netCommand::startComputers(
    FakeMessenger &computers, const QList<FakeMessenger::Computer> &list, const FakeMessenger::Options &options)
{
    const bool started = computers.start(list, options);
    if (!started)
        qWarning("%s", qPrintable(computers.error()));
    return started;
}

// The ports the computers answer on, as net.ini's [Opciones] gives them to net.
static QByteArray ports(const FakeMessenger &computers)
{
    return "PuertoNombres=" + QByteArray::number(computers.nameServicePort())
        + "\nPuertoMensajes=" + QByteArray::number(computers.sessionPort()) + "\n";
}

void tst_netCommand::writeGroupLookup(const QStringList &addresses)
{
    QByteArray answers;
    for (const QString &address : addresses)
        answers += "echo \"" + address.toLatin1() + " $last<00>\"; ";
    writeScript(QStringLiteral("nmblookup"),
        "sleep 0.1\necho \"$*\" >> \"$LOG/lookups\"\nfor last; do :; done\n"
        "echo \"querying $last\"\n"
        "case \"$last\" in VACIO) echo \"name_query failed to find name $last\"; exit 1;; esac\n"
            + answers + "\n");
}

// A name net.ini places is called directly, over the session to its address (or port);
// any other name is left to smbclient's own resolution.
void tst_netCommand::namesFromNetIniGoToTheirAddress()
{
    FakeMessenger computers;
    QVERIFY2(startComputers(computers, { { "OFICINA1" }, { "OFICINA2" } }), qPrintable(computers.error()));
    const QString conf = m_root.filePath(QStringLiteral("cliente.conf"));
    QFile c(conf);
    QVERIFY(c.open(QIODevice::WriteOnly | QIODevice::Truncate));
    c.write("[global]\ninterfaces = lo\nbind interfaces only = yes\n");
    c.close();
    writeIni("[Equipos]\nOFICINA1=" + computers.address(0).toLatin1() + "\noficina2=" + computers.address(1).toLatin1()
        + "\nCERRADO=" + computers.address(0).toLatin1() + ":1139\n[Opciones]\nConfiguracion=" + conf.toUtf8()
        + "\nEspera=7\n" + ports(computers));
    writeScript(QStringLiteral("smbclient"), fakeSmbclient("exit 0"));

    QCOMPARE(runNet({ "send", "OFICINA1", "uno" }).exitCode, 0);
    QCOMPARE(runNet({ "send", "Oficina2", "dos\ntres" }).exitCode, 0);
    const QList<FakeMessenger::Received> got = computers.received();
    QCOMPARE(got.size(), 2);
    // The session calls the name in upper case; the message names it as typed.
    QCOMPARE(got.at(0).called, QByteArray("OFICINA1"));
    QCOMPARE(got.at(0).recipient, QByteArray("OFICINA1"));
    QCOMPARE(got.at(0).text, QByteArray("uno"));
    QCOMPARE(got.at(1).called, QByteArray("OFICINA2"));
    QCOMPARE(got.at(1).recipient, QByteArray("Oficina2"));
    QCOMPARE(got.at(1).text, QByteArray("dos\r\ntres"));
    QVERIFY(!got.at(0).sender.isEmpty());
    QVERIFY(calls().isEmpty());

    // The port given is the one called: nobody listens there.
    const Run closed = runNet({ "send", "CERRADO", "cuatro" });
    QCOMPARE(closed.exitCode, 1);
    QCOMPARE(
        closed.out.value(0), QStringLiteral("Error: el equipo CERRADO no responde (NT_STATUS_CONNECTION_REFUSED)."));

    // Where Difusion gives an address, net asks there for the computer of a name and calls it.
    writeIni("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\nEspera=1\n" + ports(computers));
    QCOMPARE(runNet({ "send", "oficina2", "cinco" }).out, QStringList { "Mensaje enviado a oficina2." });
    QCOMPARE(computers.received().size(), 3);
    QCOMPARE(computers.received().at(2).called, QByteArray("OFICINA2"));
    QCOMPARE(computers.received().at(2).recipient, QByteArray("oficina2"));
    const Run nobody = runNet({ "send", "NADIE", "seis" });
    QCOMPARE(nobody.exitCode, 1);
    QCOMPARE(
        nobody.out.value(0), QStringLiteral("Error: no se encuentra el equipo NADIE en la red (NT_STATUS_NOT_FOUND)."));
    QVERIFY(calls().isEmpty());

    writeIni("[Equipos]\nOFICINA1=" + computers.address(0).toLatin1() + "\n[Opciones]\nConfiguracion=" + conf.toUtf8()
        + "\nEspera=7\n" + ports(computers));
    QCOMPARE(runNet({ "send", "OTRO", "tres" }).exitCode, 0);
    const QStringList made = calls();
    QCOMPARE(made.size(), 1);
    const QString common
        = QStringLiteral("--configfile=%1 --option=dos charset=CP850 --option=unix charset=CP850 ").arg(conf);
    // The session port net.ini gives is smbclient's too.
    QVERIFY2(
        made.at(0).startsWith(common
            + QStringLiteral("--message=OTRO --port=%1 --timeout=7 --no-pass --user=").arg(computers.sessionPort())),
        qPrintable(made.at(0)));

    writeIni("[Equipos]\nOFICINA1=127.0.0.2:notaport\n");
    const Run bad = runNet({ "send", "OFICINA1", "uno" });
    QCOMPARE(bad.exitCode, 2);
    QVERIFY2(bad.out.value(0).startsWith(QStringLiteral("Error: dirección no válida para OFICINA1")),
        qPrintable(bad.out.value(0)));
    QCOMPARE(calls().size(), 1);
    QCOMPARE(computers.received().size(), 3);
}

void tst_netCommand::hostileTextIsOnlyEverMessageText()
{
    writeScript(QStringLiteral("smbclient"), fakeSmbclient("exit 0"));
    const QString marker = m_root.filePath(QStringLiteral("pwned"));
    const QString message = QStringLiteral("$(touch %1) `touch %1`; touch %1 | > %1 \"' & %PATH%").arg(marker);

    const Run run = runNet({ "send", "OFICINA1", message });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(lastInput(), message.toLatin1());
    QVERIFY(!QFile::exists(marker));

    for (const QString &target :
        { QStringLiteral("-s/etc/passwd"), QStringLiteral("A;touch"), QStringLiteral("A B") }) {
        const Run refused = runNet({ "send", target, "hola" });
        QCOMPARE(refused.exitCode, 2);
        QVERIFY(refused.out.value(0).startsWith(QStringLiteral("Error: nombre de destino no válido")));
    }
    QCOMPARE(calls().size(), 1);
}

// Names and the tools' answers are quoted in the output: a line break or a terminal
// escape among them must neither start a line of its own nor reach the screen.
void tst_netCommand::quotedTextStaysOnItsLine_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("answer"); // the fake smbclient's
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");

    QTest::newRow("name with a line break")
        << "A\nMensaje enviado a B."
        << "hola" << QByteArray("exit 0") << 2
        << QStringList { "Error: nombre de destino no válido: \"A\\nMensaje enviado a B.\"." };
    QTest::newRow("smbclient's words")
        << "OFICINA1"
        << "hola" << QByteArray("printf 'fallo\\033[31m\\tgrave\\r\\302\\205fin\\n'; exit 3") << 1
        << QStringList { "Error: no se pudo enviar el mensaje a OFICINA1: fallo\\x1b[31m\\tgrave\\r\\x85fin." };
    QTest::newRow("format characters")
        << "OFICINA1"
        << "hola" << QByteArray("printf 'fallo \\342\\200\\256dlrow\\342\\200\\213\\357\\273\\277 fin\\n'; exit 3") << 1
        << QStringList { "Error: no se pudo enviar el mensaje a OFICINA1: fallo \\u202edlrow\\u200b\\ufeff fin." };
    QTest::newRow("characters the code page lacks")
        << "OFICINA1" << QStringLiteral("x\u2028\u0085y") << QByteArray("exit 0") << 0
        << QStringList { "Mensaje enviado a OFICINA1.",
               "Aviso: la página de códigos CP850 no tiene estos caracteres, enviados como \"?\": \\u2028\\x85" };
}

void tst_netCommand::quotedTextStaysOnItsLine()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    QFETCH(QByteArray, answer);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    writeScript(QStringLiteral("smbclient"), fakeSmbclient(answer));

    const Run run = runNet({ QStringLiteral("send"), target, message });
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    QCOMPARE(run.err, exitCode == 0 ? out.mid(1) : out);
}

void tst_netCommand::warningsFollowTheOutcomeLine_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<int>("sentBytes");

    QTest::newRow("unmappable")
        << QStringLiteral("Precio: 5 € ✓")
        << QStringList { "Aviso: la página de códigos CP850 no tiene estos caracteres, enviados como \"?\": €✓" } << 13;
    QTest::newRow("too long") << QString(1700, QChar(0xe9))
                              << QStringList { "Aviso: el mensaje era demasiado largo (más de 1598 bytes); se han "
                                               "cortado los últimos 102 caracteres." }
                              << 1598;
    QTest::newRow("both") << QString(1600, QLatin1Char('x')) + QStringLiteral("€")
                          << QStringList { "Aviso: el mensaje era demasiado largo (más de 1598 bytes); se han cortado "
                                           "los últimos 3 caracteres." }
                          << 1598;
    QTest::newRow("neither") << QStringLiteral("Año nuevo") << QStringList() << 9;
}

void tst_netCommand::warningsFollowTheOutcomeLine()
{
    QFETCH(QString, message);
    QFETCH(QStringList, warnings);
    QFETCH(int, sentBytes);
    writeScript(QStringLiteral("smbclient"), fakeSmbclient("exit 0"));

    const Run run = runNet({ "send", "OFICINA1", message });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringList { "Mensaje enviado a OFICINA1." } + warnings);
    QCOMPARE(run.err, warnings);
    QCOMPARE(lastInput().size(), sentBytes);
}

using Behaviour = FakeMessenger::Computer::Behaviour;

void tst_netCommand::groupDelivery_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("second"); // how the second member behaves (the first delivers)
    QTest::addColumn<QByteArray>("secondName"); // in CP850
    QTest::addColumn<int>("delayMs"); // of every answer of the second member
    QTest::addColumn<int>("queryDelayMs"); // of its answer to the group query
    // Who asks for the group: "net" (answered as a broadcast is, each member for itself),
    // "server" (net, answered by a server for every member), "nmblookup", "none".
    QTest::addColumn<QString>("lookup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out"); // %2: the second member's address
    QTest::addColumn<QByteArrayList>("messaged"); // called names

    const int deliver = int(Behaviour::Deliver);
    const QByteArrayList both { "OFICINA1", "OFICINA2" };
    const QByteArray second("OFICINA2");
    const QStringList toBoth { "Mensaje enviado a OFICINA: 2 equipos (OFICINA1, OFICINA2)." };
    QTest::newRow("domain switch") << QByteArray() << "/domain:OFICINA" << deliver << second << 0 << 0 << "net" << 0
                                   << toBoth << both;
    QTest::newRow("switch in any case") << QByteArray() << "/DOMAIN:oficina" << deliver << second << 0 << 0 << "net"
                                        << 0
                                        << QStringList { "Mensaje enviado a oficina: 2 equipos (OFICINA1, OFICINA2)." }
                                        << both;
    QTest::newRow("star is the own workgroup")
        << QByteArray("GrupoTrabajo=OFICINA\n") << "*" << deliver << second << 0 << 0 << "net" << 0 << toBoth << both;
    QTest::newRow("members found by nmblookup")
        << QByteArray() << "/domain:OFICINA" << deliver << second << 0 << 0 << "nmblookup" << 0 << toBoth << both;
    QTest::newRow("one member refuses")
        << QByteArray() << "/domain:OFICINA" << int(Behaviour::Refuse) << second << 0 << 0 << "net" << 1
        << QStringList { "Error: mensaje no entregado a 1 de 2 equipos del grupo OFICINA.",
               "El equipo OFICINA2 ha rechazado el mensaje (NT_STATUS_ACCESS_DENIED)." }
        << QByteArrayList { "OFICINA1" };
    QTest::newRow("member without messenger name")
        << QByteArray() << "/domain:MIXTO" << int(Behaviour::NoMessenger) << second << 0 << 0 << "net" << 1
        << QStringList { "Error: mensaje no entregado a 1 de 2 equipos del grupo MIXTO.",
               "El equipo %2 no ofrece el servicio de mensajes." }
        << QByteArrayList { "OFICINA1" };
    QTest::newRow("member that never says its name")
        << QByteArray("Espera=1\n") << "/domain:MIXTO" << int(Behaviour::Nameless) << second << 0 << 0 << "net" << 1
        << QStringList { "Error: mensaje no entregado a 1 de 2 equipos del grupo MIXTO.",
               "El equipo %2 no ha dicho su nombre en 1 segundo." }
        << QByteArrayList { "OFICINA1" };
    QTest::newRow("member silent after connecting")
        << QByteArray("Espera=1\n") << "/domain:MIXTO" << int(Behaviour::Silent) << second << 0 << 0 << "net" << 1
        << QStringList { "Error: mensaje no entregado a 1 de 2 equipos del grupo MIXTO.",
               "El equipo OFICINA2 no ha contestado en 1 segundo." }
        << QByteArrayList { "OFICINA1" };
    // Each of its four session answers comes 0.7 s late: 2.8 s in all, never 1 s of silence.
    QTest::newRow("slow member that keeps answering") << QByteArray("Espera=1\n") << "/domain:OFICINA" << deliver
                                                      << second << 700 << 0 << "net" << 0 << toBoth << both;
    QTest::newRow("member answering the group half a second late")
        << QByteArray() << "/domain:OFICINA" << deliver << second << 0 << 500 << "net" << 0 << toBoth << both;
    // The name service gives names in the code page: read whole, called as they are.
    // Answers that would send net elsewhere, or that anyone on the computer could forge.
    const QStringList toFirst { "Mensaje enviado a OFICINA: 1 equipo (OFICINA1)." };
    QTest::newRow("member naming another address")
        << QByteArray() << "/domain:OFICINA" << int(Behaviour::NamesAnother) << second << 0 << 0 << "net" << 0
        << toFirst << QByteArrayList { "OFICINA1" };
    QTest::newRow("member answering from another port")
        << QByteArray() << "/domain:OFICINA" << int(Behaviour::GroupFromOtherPort) << second << 0 << 0 << "net" << 0
        << toFirst << QByteArrayList { "OFICINA1" };
    QTest::newRow("name told from another port")
        << QByteArray("Espera=1\n") << "/domain:MIXTO" << int(Behaviour::StatusFromOtherPort) << second << 0 << 0
        << "net" << 1
        << QStringList { "Error: mensaje no entregado a 1 de 2 equipos del grupo MIXTO.",
               "El equipo %2 no ha dicho su nombre en 1 segundo." }
        << QByteArrayList { "OFICINA1" };
    QTest::newRow("server answering for every member")
        << QByteArray() << "/domain:OFICINA" << deliver << second << 0 << 0 << "server" << 0 << toBoth << both;
    // Its name is asked again within Espera.
    QTest::newRow("first answer of its name lost")
        << QByteArray("Espera=1\n") << "/domain:OFICINA" << int(Behaviour::LosesFirstStatus) << second << 0 << 0
        << "net" << 0 << toBoth << both;
    QTest::newRow("member name beyond ASCII")
        << QByteArray() << "/domain:PARCIAL" << deliver << QByteArray("DISE\xa5O") << 0 << 0 << "net" << 0
        << QStringList { "Mensaje enviado a PARCIAL: 2 equipos (DISEÑO, OFICINA1)." }
        << QByteArrayList { "DISE\xa5O", "OFICINA1" };
    for (const char *lookup : { "net", "nmblookup" })
        QTest::newRow(qPrintable(QStringLiteral("nobody answers, %1").arg(QLatin1String(lookup))))
            << QByteArray() << "/domain:VACIO" << deliver << second << 0 << 0 << lookup << 1
            << QStringList { "Error: no se encuentra ningún equipo del grupo VACIO." } << QByteArrayList();
    QTest::newRow("nmblookup missing")
        << QByteArray() << "/domain:OFICINA" << deliver << second << 0 << 0 << "none" << 1
        << QStringList { "Error: no se encuentra el programa nmblookup en el PATH (paquete smbclient)." }
        << QByteArrayList();
}

void tst_netCommand::groupDelivery()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, target);
    QFETCH(int, second);
    QFETCH(QByteArray, secondName);
    QFETCH(int, delayMs);
    QFETCH(int, queryDelayMs);
    QFETCH(QString, lookup);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QByteArrayList, messaged);
    FakeMessenger computers;
    FakeMessenger::Options options;
    options.serverAnswers = lookup == QLatin1String("server");
    QVERIFY2(startComputers(
                 computers, { { "OFICINA1" }, { secondName, Behaviour(second), delayMs, queryDelayMs } }, options),
        qPrintable(computers.error()));
    const bool byNet = lookup == QLatin1String("net") || options.serverAnswers;
    writeIni("[Opciones]\n" + (byNet ? "Difusion=" + computers.nameServer().toLatin1() + "\n" : QByteArray()) + ini
        + ports(computers));
    if (lookup == QLatin1String("nmblookup"))
        writeGroupLookup({ computers.address(0), computers.address(1) });

    const Run run = runNet({ "send", target, "Reunión", "a", "las", "diez" });
    for (QString &line : out)
        line.replace(QLatin1String("%2"), computers.address(1));
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    if (exitCode != 0)
        QCOMPARE(run.err, out);
    // Members are messaged at once: the messages come in any order.
    QByteArrayList called;
    for (const FakeMessenger::Received &message : computers.received()) {
        called << message.called;
        QCOMPARE(message.text, QByteArray("Reuni\xa2n a las diez"));
    }
    std::sort(called.begin(), called.end());
    QCOMPARE(called, messaged);
    QVERIFY(calls().isEmpty());
    if (lookup == QLatin1String("nmblookup")) {
        QFile lookups(m_log + QStringLiteral("/lookups"));
        QVERIFY(lookups.open(QIODevice::ReadOnly));
        // Names travel in the messages' code page; nmblookup speaks UTF-8 to net.
        QVERIFY(lookups.readLine().startsWith("--option=dos charset=CP850 --option=unix charset=UTF-8 -- "));
    }
}

// Forty members, each answering 0.3 s late, served at once and listed by name whatever
// order they answered and ended in (here network order is the reverse of name order).
void tst_netCommand::groupMembersAreServedAtOnce()
{
    QList<FakeMessenger::Computer> list;
    QStringList everyone;
    for (int i = 1; i <= 40; ++i) {
        everyone << QStringLiteral("MIEMBRO%1").arg(i, 2, 10, QLatin1Char('0'));
        list.append({ everyone.last().toLatin1(), Behaviour::Deliver, 300, (40 - i) * 5 });
    }
    FakeMessenger computers;
    QVERIFY2(startComputers(computers, list), qPrintable(computers.error()));
    writeIni("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\nEspera=2\n" + ports(computers));

    const Run all = runNet({ "send", "/domain:GRANDE", "hola" });
    QCOMPARE(all.exitCode, 0);
    QCOMPARE(all.out,
        QStringList {
            QStringLiteral("Mensaje enviado a GRANDE: 40 equipos (%1).").arg(everyone.join(QStringLiteral(", "))) });
    QCOMPARE(computers.received().size(), 40);
    QVERIFY2(computers.mostAtOnce() >= 20, qPrintable(QString::number(computers.mostAtOnce())));
    // Transaction ids nobody can foretell from one another (or from net's process id): the
    // query's first, then one per member, all different and in no sequence.
    QList<quint16> ids = computers.requestIds();
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    QCOMPARE(ids.size(), 41);
    QVERIFY2(ids.last() - ids.first() != 40, "the ids follow one another");

    list[2].behaviour = Behaviour::Refuse;
    list[16].behaviour = Behaviour::Refuse;
    list[10].behaviour = Behaviour::Silent;
    QVERIFY(computers.start(list));
    writeIni("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\nEspera=2\n" + ports(computers));
    const Run mixed = runNet({ "send", "/domain:GRANDE", "hola" });
    QCOMPARE(mixed.exitCode, 1);
    QCOMPARE(mixed.out,
        QStringList({ "Error: mensaje no entregado a 3 de 40 equipos del grupo GRANDE.",
            "El equipo MIEMBRO03 ha rechazado el mensaje (NT_STATUS_ACCESS_DENIED).",
            "El equipo MIEMBRO11 no ha contestado en 2 segundos.",
            "El equipo MIEMBRO17 ha rechazado el mensaje (NT_STATUS_ACCESS_DENIED)." }));
}

void tst_netCommand::hostilePeersGetNoDelivery_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QString>("firstLine");

    const QString invalid
        = QStringLiteral("Error: no se pudo enviar el mensaje a PEER: respuesta no válida del equipo.");
    const QString silent = QStringLiteral("Error: el equipo PEER no ha contestado en 1 segundo.");
    // Replies that come before their request is written answer nothing asked.
    QTest::newRow("answers before being asked") << int(Behaviour::AnswersAhead) << invalid;
    QTest::newRow("answers the start with every reply") << int(Behaviour::AnswersStartWithAll) << invalid;
    // Neither a keep-alive nor a frame that never ends is an answer.
    QTest::newRow("keep-alives only") << int(Behaviour::KeepsAlive) << silent;
    QTest::newRow("a frame that never ends") << int(Behaviour::Dribbles) << silent;
    // A flood is no messenger, and what net keeps of it is bounded.
    QTest::newRow("a flood of keep-alives") << int(Behaviour::Floods) << invalid;
}

// A computer at a known address that does not play by the rules is never reported as reached,
// and never holds net longer than Espera.
void tst_netCommand::hostilePeersGetNoDelivery()
{
    QFETCH(int, behaviour);
    QFETCH(QString, firstLine);
    FakeMessenger computers;
    QVERIFY2(startComputers(computers, { { "PEER", Behaviour(behaviour) } }), qPrintable(computers.error()));
    writeIni("[Equipos]\nPEER=" + computers.address(0).toLatin1() + "\n[Opciones]\nEspera=1\n" + ports(computers));

    const Run run = runNet({ "send", "PEER", "hola", "desde", "la", "prueba" });
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QStringList { firstLine });
    QVERIFY(computers.received().isEmpty());
}

// Members that keep answering, each reply within Espera, but with a long message never done:
// each is given up after ten times Espera, and the send as a whole ends within its listening
// and that, even where a low limit on descriptors lets net open one session at a time.
void tst_netCommand::slowMembersCannotHoldTheSendForever()
{
    FakeMessenger computers;
    QVERIFY2(
        startComputers(computers, { { "LENTO1", Behaviour::Deliver, 900 }, { "LENTO2", Behaviour::Deliver, 900, 20 } }),
        qPrintable(computers.error()));
    writeIni("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\nEspera=1\n" + ports(computers));

    const Run run = runNet({ "send", "/domain:LENTOS", QString(1500, QLatin1Char('x')) }, true, 17);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out,
        QStringList({ "Error: mensaje no entregado a 2 de 2 equipos del grupo LENTOS.",
            "El equipo LENTO1 no ha terminado de recibir el mensaje en 10 segundos.",
            "No se pudo enviar el mensaje a LENTO2: se han agotado los 11 segundos que puede durar el envío." }));
    QCOMPARE(computers.mostAtOnce(), 1);
    QVERIFY(computers.received().isEmpty());
}

// A server naming more members than net takes: the first ones are served, the rest counted,
// never dropped without a word.
void tst_netCommand::membersBeyondTheBoundAreReported()
{
    FakeMessenger computers;
    FakeMessenger::Options options;
    options.serverAnswers = true;
    options.unknownMembers = 4100;
    QVERIFY2(startComputers(computers, { { "OFICINA1" } }, options), qPrintable(computers.error()));
    writeIni("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\nEspera=1\n" + ports(computers));

    const Run run = runNet({ "send", "/domain:OFICINA", "hola" });
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out.value(0), QStringLiteral("Error: mensaje no entregado a 4100 de 4101 equipos del grupo OFICINA."));
    QCOMPARE(run.out.filter(QStringLiteral("no ha dicho su nombre en 1 segundo")).size(), 4095);
    QCOMPARE(run.out.last(),
        QStringLiteral("Otros 5 equipos han contestado después de los 4096 que se atienden como máximo: no se les ha "
                       "enviado el mensaje."));
    QCOMPARE(computers.received().size(), 1);
}

// Members that all tell their names at the same moment: every one that answered is served.
void tst_netCommand::membersAnsweringAtOnceAreAllServed()
{
    QList<FakeMessenger::Computer> list;
    for (int i = 0; i < 1024; ++i)
        list.append({ QStringLiteral("M%1").arg(i, 4, 10, QLatin1Char('0')).toLatin1() });
    FakeMessenger computers;
    FakeMessenger::Options options;
    options.burst = true;
    QVERIFY2(startComputers(computers, list, options), qPrintable(computers.error()));
    writeIni("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\nEspera=1\n" + ports(computers));

    const Run run = runNet({ "send", "/domain:GRANDE", "hola" });
    QVERIFY2(run.exitCode == 0, qPrintable(run.out.mid(0, 5).join(QLatin1Char('\n'))));
    QVERIFY(run.out.value(0).startsWith(QStringLiteral("Mensaje enviado a GRANDE: 1024 equipos (M0000, M0001, ")));
    QCOMPARE(computers.received().size(), 1024);
}

// The members a group had last time end the listening soon after they have all answered
// again, however late one of them is; a newcomer slower than that is learned at the next full
// listen, at the latest a day later.
void tst_netCommand::rememberedMembersEndTheListeningEarly()
{
    QList<FakeMessenger::Computer> list { { "OFICINA1" }, { "OFICINA2", Behaviour::Deliver, 0, 500 } };
    FakeMessenger computers;
    QVERIFY2(startComputers(computers, list), qPrintable(computers.error()));
    writeIni("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\n" + ports(computers));
    const auto send = [&]() {
        computers.clear();
        const Run run = runNet({ "send", "/domain:OFICINA", "hola" });
        QByteArrayList called;
        for (const FakeMessenger::Received &message : computers.received())
            called << message.called;
        std::sort(called.begin(), called.end());
        return std::make_pair(run.out, called);
    };
    const QStringList two { "Mensaje enviado a OFICINA: 2 equipos (OFICINA1, OFICINA2)." };
    const QStringList three { "Mensaje enviado a OFICINA: 3 equipos (OFICINA1, OFICINA2, OFICINA3)." };

    // The first time, and every time after: the member half a second late is waited for.
    for (int round = 0; round < 2; ++round)
        QCOMPARE(send(), std::make_pair(two, QByteArrayList({ "OFICINA1", "OFICINA2" })));
    const QString memory = m_root.filePath(QStringLiteral("cache/velrisa/grupos"));
    QCOMPARE(QFileInfo(memory).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

    // A newcomer slower than every known member is missed...
    list[1].queryDelayMs = 0;
    list.append({ "OFICINA3", Behaviour::Deliver, 0, 400 });
    QVERIFY(computers.start(list));
    writeIni("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\n" + ports(computers));
    QCOMPARE(send(), std::make_pair(two, QByteArrayList({ "OFICINA1", "OFICINA2" })));
    // ...until the day's full listen comes round; from then on it is waited for too.
    QFile file(memory);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    const QByteArrayList fields = text.split('\n').value(1).split(' ');
    QCOMPARE(fields.size(), 5); // address, group, full listen, two members
    text.replace(" " + fields.at(2) + " ", " " + QByteArray::number(fields.at(2).toLongLong() - 24 * 3600) + " ");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    for (int round = 0; round < 2; ++round)
        QCOMPARE(send(), std::make_pair(three, QByteArrayList({ "OFICINA1", "OFICINA2", "OFICINA3" })));

    // A memory others may have changed is not read: listened to in full, as the first time.
    QVERIFY(QFile::setPermissions(m_root.filePath(QStringLiteral("cache/velrisa")),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteOther | QFile::ExeOther));
    list[2].queryDelayMs = 0;
    list.append({ "OFICINA4", Behaviour::Deliver, 0, 400 });
    QVERIFY(computers.start(list));
    writeIni("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\n" + ports(computers));
    const auto [out, called] = send();
    QCOMPARE(
        out.value(0), QStringLiteral("Mensaje enviado a OFICINA: 4 equipos (OFICINA1, OFICINA2, OFICINA3, OFICINA4)."));
    QCOMPARE(called.size(), 4);
}

void tst_netCommand::interruptedNetLeavesNoChildBehind_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

// Stopped while deliveries run, net kills and reaps them all, with whatever they started,
// starts no more, and ends by the signal without claiming a delivery.
void tst_netCommand::interruptedNetLeavesNoChildBehind()
{
    QFETCH(int, signal);
    writeIni("[Opciones]\nEspera=60\n");
    writeScript(
        QStringLiteral("smbclient"), "echo $$ >> \"$LOG/clientes\"\nsleep 60 &\necho $! >> \"$LOG/hijos\"\nwait\n");
    // Should net leave them behind, the test does not: each fake leads its own group.
    auto cleanup = qScopeGuard([this] {
        for (const QString &pid : logLines(QStringLiteral("clientes"))) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(m_tools.toUtf8()))
                ::kill(-pid.toInt(), SIGKILL);
        }
    });

    QProcess net;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), m_tools);
    net.setProcessEnvironment(env);
    net.start(m_program + QStringLiteral("/net"), { "send", "OFICINA1", "hola" });
    QTRY_COMPARE_WITH_TIMEOUT(logLines(QStringLiteral("hijos")).size(), 1, 20000);
    QCOMPARE(::kill(pid_t(net.processId()), signal), 0);
    QVERIFY(net.waitForFinished(10000));
    const auto alive = [](const QString &pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        // A zombie has ended; its parent (init, once net is gone) only has to collect it.
        return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
    };
    // net's own child is reaped before it ends, and whatever it started is gone.
    const QStringList clients = logLines(QStringLiteral("clientes"));
    QCOMPARE(clients.size(), 1);
    QVERIFY2(!QFile::exists(QStringLiteral("/proc/") + clients.first()), qPrintable(clients.first()));
    for (const QString &pid : logLines(QStringLiteral("hijos")))
        QTRY_VERIFY2(!alive(pid), qPrintable(pid));
    const QString stopped
        = QStringLiteral("Error: net ha recibido la señal %1 y se ha detenido antes de terminar.\n").arg(signal);
    QCOMPARE(net.exitStatus(), QProcess::CrashExit);
    QCOMPARE(QString::fromUtf8(net.readAllStandardOutput()), stopped);

    // Members that keep net waiting: it stops as promptly, claiming nothing.
    FakeMessenger computers;
    QVERIFY2(startComputers(computers, { { "MUDO1", Behaviour::Silent }, { "MUDO2", Behaviour::Silent } }),
        qPrintable(computers.error()));
    writeIni("[Opciones]\nEspera=60\n" + ports(computers));
    writeGroupLookup({ computers.address(0), computers.address(1) });
    net.start(m_program + QStringLiteral("/net"), { "send", "/domain:MUDOS", "hola" });
    QTRY_COMPARE_WITH_TIMEOUT(computers.mostAtOnce(), 2, 20000);
    QCOMPARE(::kill(pid_t(net.processId()), signal), 0);
    QVERIFY(net.waitForFinished(5000));
    QCOMPARE(net.exitStatus(), QProcess::CrashExit);
    QCOMPARE(QString::fromUtf8(net.readAllStandardOutput()), stopped);
}

// `net view` against fake tools that replay what Samba's own answered on a real network
// (tests/data/samba): members by their status, names only a browse list shows whole,
// every master browser's groups.
void tst_netCommand::viewListsWhatTheNetworkAnswers_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("tools"); // "both", "nmblookup" or "none"
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QStringList>("err");

    QTest::newRow("own workgroup") << QStringList { "view" } << "both" << 0
                                   << QStringList { "Equipos del grupo VENTAS:", "MIEMBRO1", "MIEMBRO2" }
                                   << QStringList();
    QTest::newRow("name only a browse list shows whole")
        << QStringList { "VIEW", "/Domain:DISEÑO" } << "both" << 0
        << QStringList { "Equipos del grupo DISEÑO:", "DISEÑO1" } << QStringList();
    QTest::newRow("no browse list")
        << QStringList { "view", "/domain:DISEÑO" } << "nmblookup" << 0
        << QStringList { "No se ha encontrado ningún equipo del grupo DISEÑO." }
        << QStringList { "Aviso: no se encuentra el programa smbclient en el PATH (paquete smbclient): no se han "
                         "leído las listas de examinadores.",
               "Aviso: el equipo 10.232.0.5 tiene un nombre que nmblookup no muestra entero (\"DISE..O1\") y que no "
               "figura en ninguna lista de examinadores." };
    QTest::newRow("every workgroup")
        << QStringList { "view", "/domain" } << "both" << 0
        << QStringList { "Grupos de trabajo y dominios:", "COMPRAS", "DISEÑO", "VENTAS" }
        << QStringList { "Aviso: el examinador 10.232.0.4 no ha dado su lista (NT_STATUS_CONNECTION_REFUSED)." };
    QTest::newRow("nobody answers") << QStringList { "view", "/domain:NADIE" } << "both" << 0
                                    << QStringList { "No se ha encontrado ningún equipo del grupo NADIE." }
                                    << QStringList();
    QTest::newRow("no answer in time")
        << QStringList { "view", "/domain:LENTO" } << "both" << 1
        << QStringList { "Error: la búsqueda de los equipos del grupo LENTO no ha terminado en 1 segundo." }
        << QStringList { "Error: la búsqueda de los equipos del grupo LENTO no ha terminado en 1 segundo." };
    QTest::newRow("group send, no answer in time")
        << QStringList { "send", "/domain:LENTO", "hola" } << "both" << 1
        << QStringList { "Error: la búsqueda del grupo LENTO no ha terminado en 1 segundo." }
        << QStringList { "Error: la búsqueda del grupo LENTO no ha terminado en 1 segundo." };
    QTest::newRow("no nmblookup")
        << QStringList { "view" } << "none" << 1
        << QStringList { "Error: no se encuentra el programa nmblookup en el PATH (paquete smbclient)." }
        << QStringList { "Error: no se encuentra el programa nmblookup en el PATH (paquete smbclient)." };
    QTest::newRow("group name checked") << QStringList { "view", "/domain:A;B" } << "both" << 2
                                        << QStringList { "Error: nombre de grupo no válido: \"A;B\"." }
                                        << QStringList { "Error: nombre de grupo no válido: \"A;B\"." };
    const QStringList usage { "Uso: net send {equipo | * | /domain:grupo} mensaje", "     net view [/domain[:grupo]]" };
    QTest::newRow("more than view takes")
        << QStringList { "view", "/domain", "VENTAS" } << "both" << 2 << usage << usage;
}

void tst_netCommand::viewListsWhatTheNetworkAnswers()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, tools);
    QFETCH(int, exitCode);
    QFETCH(QStringList, out);
    QFETCH(QStringList, err);
    writeIni("[Opciones]\nGrupoTrabajo=VENTAS\nEspera=1\n");
    const QByteArray captures = "D='" SAMBA_CAPTURES "'\n";
    writeScript(QStringLiteral("nmblookup"), captures + R"(for last; do :; done
case "$*" in
*--lookup-by-ip*)
    case "$last" in
    10.232.0.2) cat "$D/nmblookup_estado_maestro.txt";;
    10.232.0.3) cat "$D/nmblookup_estado.txt";;
    10.232.0.4) cat "$D/nmblookup_estado_caja.txt";;
    10.232.0.5) cat "$D/nmblookup_estado_diseno.txt";;
    *) cat "$D/nmblookup_estado_vacio.txt"; exit 1;;
    esac;;
*--master-browser*)
    case "$last" in
    -) cat "$D/nmblookup_maestros.txt";;
    VENTAS) cat "$D/nmblookup_maestro.txt";;
    DISEÑO) cat "$D/nmblookup_maestro_diseno.txt";;
    LENTO) exec sleep 30;;
    *) cat "$D/nmblookup_maestro_vacio.txt"; exit 1;;
    esac;;
*)
    case "$last" in
    VENTAS) cat "$D/nmblookup_grupo.txt";;
    DISEÑO) cat "$D/nmblookup_grupo_diseno.txt";;
    LENTO) exec sleep 30;;
    *) cat "$D/nmblookup_grupo_vacio.txt"; exit 1;;
    esac;;
esac
)");
    if (tools == QLatin1String("both")) {
        writeScript(
            QStringLiteral("smbclient"), captures + R"(for a; do case "$a" in --list=*) l=${a#--list=};; esac; done
case "$l" in
10.232.0.2) cat "$D/smbclient_lista.txt";;
10.232.0.5) cat "$D/smbclient_lista_diseno.txt";;
*) cat "$D/smbclient_lista_rechaza_err.txt" >&2; exit 1;;
esac
)");
    }

    const Run run = runNet(arguments, tools != QLatin1String("none"));
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    QCOMPARE(run.err, err);
}

QTEST_GUILESS_MAIN(tst_netCommand)
#include "tst_netCommand.moc"
