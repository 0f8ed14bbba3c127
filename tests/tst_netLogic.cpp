#include "fakes/TestSupport.h"
#include "net/KnownMembers.h"
#include "net/MessageText.h"
#include "net/NameLookup.h"
#include "net/NetCommand.h"
#include "net/NetConfig.h"
#include "net/NetbiosWire.h"
#include "net/SmbClient.h"
#include "profile/Unicode.h"
#include "profile/Utf8Text.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

// The command works on UTF-8 std::string; the tests state their cases in Qt types.
std::string s(const QString &text)
{
    return text.toStdString();
}

QString q(const std::string &text)
{
    return QString::fromStdString(text);
}

QStringList q(const std::vector<std::string> &list)
{
    QStringList out;
    for (const std::string &item : list)
        out << q(item);
    return out;
}

} // namespace

// The parts of the net command that need no other program: message encoding and
// cutting, net.ini values, reading smbclient's and nmblookup's answers.
class tst_netLogic : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void messageIsEncodedInTheDosCodePage_data();
    void messageIsEncodedInTheDosCodePage();
    void longMessageIsCutAtTheWireLimit_data();
    void longMessageIsCutAtTheWireLimit();
    void unknownCodePageIsReported();
    void endpointParsing_data();
    void endpointParsing();
    void configReadsOptionsAndRejectsBadValues_data();
    void configReadsOptionsAndRejectsBadValues();
    void workgroupFallsBackToClientConfiguration();
    void smbclientAnswerIsClassified_data();
    void smbclientAnswerIsClassified();
    void smbclientArgumentsCannotBeTurnedIntoOptions();
    void nmblookupAnswersAreParsed();
    void capturedAnswersAreParsed_data();
    void capturedAnswersAreParsed();
    void requestsAndNameAnswersMatchSamba();
    void answersAreReadAsSambaSendsThem_data();
    void answersAreReadAsSambaSendsThem();
    void programIsFoundOnPath();
    void nameValidation_data();
    void nameValidation();
    void namesTheCodePageCannotCarryAreRefused_data();
    void namesTheCodePageCannotCarryAreRefused();
    void textRulesAgreeWithQString();
    void brokenUtf8IsReplacedAsQStringDoes();
    void numbersAreReadAsQStringReadsThem();
    void memberMemoryIsReadBackWhole();

private:
    // net.ini options in a file of the test's folder; its path.
    QString writeOptions(const QString &name, const QByteArray &options);

    QTemporaryDir m_dir;
};

QString tst_netLogic::writeOptions(const QString &name, const QByteArray &options)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write("[Opciones]\n" + options) < 0)
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void tst_netLogic::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(TestSupport::prepareEnvironment(m_dir.path()));
}

void tst_netLogic::messageIsEncodedInTheDosCodePage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("unmappable");

    QTest::newRow("ascii") << QStringLiteral("Hola a todos") << QByteArray("Hola a todos") << QString();
    QTest::newRow("spanish letters") << QStringLiteral("¿Qué tal? Año ÑÁÉÍÓÚü¡")
                                     << QByteArray("\xa8Qu\x82 tal? A\xa4o \xa5\xb5\x90\xd6\xe0\xe9\x81\xad")
                                     << QString();
    QTest::newRow("euro and check mark") << QStringLiteral("5 € ✓ €") << QByteArray("5 ? ? ?") << QStringLiteral("€✓");
    QTest::newRow("character outside the BMP is one character")
        << QStringLiteral("a\U0001F600b") << QByteArray("a?b") << QStringLiteral("\U0001F600");
    QTest::newRow("newline kept as LF") << QStringLiteral("a\nb") << QByteArray("a\nb") << QString();
}

void tst_netLogic::messageIsEncodedInTheDosCodePage()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, unmappable);
    const auto prepared = MessageText::prepare(s(text), "CP850");
    QVERIFY(prepared.codePageKnown);
    QCOMPARE(QByteArray::fromStdString(prepared.bytes), bytes);
    QCOMPARE(q(prepared.unmappable), unmappable);
    QCOMPARE(prepared.droppedChars, 0);
}

void tst_netLogic::longMessageIsCutAtTheWireLimit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("keptBytes");
    QTest::addColumn<int>("dropped");

    QTest::newRow("exactly the limit") << QString(1598, QLatin1Char('x')) << 1598 << 0;
    QTest::newRow("one over") << QString(1599, QLatin1Char('x')) << 1598 << 1;
    // Spanish letters are one byte each in the code page, not two as in UTF-8.
    QTest::newRow("accented letters count once") << QString(1600, QChar(0xf1)) << 1598 << 2;
    // Every LF costs a CR on the wire: 532 pairs "a\n" take 1596 bytes, one more "a" fits,
    // its LF would not.
    QTest::newRow("newlines count twice") << QStringLiteral("a\n").repeated(800) << 532 * 2 + 1 << 1600 - 1065;
    QTest::newRow("LF that would not fit is cut whole")
        << QString(1597, QLatin1Char('x')) + QStringLiteral("\nyz") << 1597 << 3;
}

void tst_netLogic::longMessageIsCutAtTheWireLimit()
{
    QFETCH(QString, text);
    QFETCH(int, keptBytes);
    QFETCH(int, dropped);
    const auto prepared = MessageText::prepare(s(text), "CP850");
    QCOMPARE(int(prepared.bytes.size()), keptBytes);
    QCOMPARE(prepared.droppedChars, dropped);
    QVERIFY(int(prepared.bytes.size() + std::count(prepared.bytes.begin(), prepared.bytes.end(), '\n'))
        <= MessageText::kMaxWireBytes);
}

void tst_netLogic::unknownCodePageIsReported()
{
    QVERIFY(!MessageText::prepare("hola", "NO-SUCH-PAGE").codePageKnown);
    // Another DOS page works as well: the same letter has another byte there.
    const auto cp437 = MessageText::prepare(s(QStringLiteral("Á")), "CP437");
    QVERIFY(cp437.codePageKnown);
    QCOMPARE(q(cp437.unmappable), QStringLiteral("Á"));
}

void tst_netLogic::endpointParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");

    QTest::newRow("address") << "127.0.0.2" << true << "127.0.0.2" << 0;
    QTest::newRow("address and port") << "127.0.0.2:1139" << true << "127.0.0.2" << 1139;
    QTest::newRow("bare ipv6") << "::1" << true << "::1" << 0;
    QTest::newRow("bracketed ipv6 and port") << "[::1]:1139" << true << "::1" << 1139;
    QTest::newRow("bracketed ipv6") << "[::1]" << true << "::1" << 0;
    QTest::newRow("host name") << "pc-oficina.local" << true << "pc-oficina.local" << 0;
    QTest::newRow("empty port") << "127.0.0.2:" << false << "" << 0;
    QTest::newRow("port zero") << "127.0.0.2:0" << false << "" << 0;
    QTest::newRow("port too big") << "127.0.0.2:65536" << false << "" << 0;
    QTest::newRow("port not a number") << "127.0.0.2:x" << false << "" << 0;
    QTest::newRow("looks like an option") << "--configfile=/tmp/x" << false << "" << 0;
    QTest::newRow("blank inside") << "127.0.0.2 -d10" << false << "" << 0;
    QTest::newRow("unclosed bracket") << "[::1:1139" << false << "" << 0;
    QTest::newRow("junk after bracket") << "[::1]x" << false << "" << 0;
}

void tst_netLogic::endpointParsing()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, address);
    QFETCH(int, port);
    const auto endpoint = NetConfig::parseEndpoint(s(text));
    QCOMPARE(endpoint.has_value(), valid);
    if (valid) {
        QCOMPARE(q(endpoint->address), address);
        QCOMPARE(endpoint->port, port);
    }
}

void tst_netLogic::configReadsOptionsAndRejectsBadValues_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<QString>("codePage");

    QTest::newRow("defaults") << "" << true << 5 << "CP850";
    QTest::newRow("all given") << "Espera=2\nPaginaCodigos=CP437\n" << true << 2 << "CP437";
    QTest::newRow("shortest timeout") << "Espera=1\n" << true << 1 << "CP850";
    QTest::newRow("longest timeout") << "Espera=3600\n" << true << 3600 << "CP850";
    QTest::newRow("timeout zero") << "Espera=0\n" << false << 5 << "CP850";
    QTest::newRow("timeout over an hour") << "Espera=3601\n" << false << 5 << "CP850";
    QTest::newRow("timeout text") << "Espera=pronto\n" << false << 5 << "CP850";
    QTest::newRow("timeout huge") << "Espera=99999\n" << false << 5 << "CP850";
    QTest::newRow("code page like an option") << "PaginaCodigos=-d10\n" << false << 5 << "CP850";
    QTest::newRow("missing client config") << "Configuracion=no-such.conf\n" << false << 5 << "CP850";
}

void tst_netLogic::configReadsOptionsAndRejectsBadValues()
{
    QFETCH(QString, options);
    QFETCH(bool, valid);
    QFETCH(int, timeout);
    QFETCH(QString, codePage);
    const QString ini = writeOptions(QStringLiteral("opciones.ini"), options.toUtf8());

    const NetConfig config(s(ini));
    QCOMPARE(config.error().empty(), valid);
    QCOMPARE(config.timeoutSeconds(), timeout);
    QCOMPARE(q(config.codePage()), codePage);
}

void tst_netLogic::workgroupFallsBackToClientConfiguration()
{
    const QString conf = m_dir.filePath(QStringLiteral("cliente.conf"));
    QFile c(conf);
    QVERIFY(c.open(QIODevice::WriteOnly | QIODevice::Truncate));
    c.write("[global]\n   workgroup = CONTABILIDAD\n   interfaces = lo\n");
    c.close();
    const QString ini = m_dir.filePath(QStringLiteral("grupo.ini"));
    QFile i(ini);
    QVERIFY(i.open(QIODevice::WriteOnly | QIODevice::Truncate));
    i.write("[Opciones]\nConfiguracion=cliente.conf\n");
    i.close();

    // A relative configuration path is taken beside net.ini.
    NetConfig config(s(ini));
    QVERIFY2(config.error().empty(), config.error().c_str());
    QCOMPARE(q(config.clientConfig()), conf);
    QCOMPARE(q(config.workgroup()), QStringLiteral("CONTABILIDAD"));

    QVERIFY(i.open(QIODevice::Append));
    i.write("GrupoTrabajo=OFICINA\n");
    i.close();
    QCOMPARE(q(NetConfig(s(ini)).workgroup()), QStringLiteral("OFICINA"));
}

void tst_netLogic::smbclientAnswerIsClassified_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("detail");

    using O = SmbClient::Outcome;
    QTest::newRow("delivered") << 0 << QByteArray("Type your message, ending it with a Control-D\n") << QByteArray()
                               << int(O::Delivered) << QString();
    QTest::newRow("refused after connecting, exit 0")
        << 0 << QByteArray("Type your message, ending it with a Control-D\n")
        << QByteArray("cli_message returned NT_STATUS_NOT_SUPPORTED\n") << int(O::Refused)
        << QStringLiteral("NT_STATUS_NOT_SUPPORTED");
    QTest::newRow("connection refused") << 1
                                        << QByteArray("Connection to X failed. Error NT_STATUS_CONNECTION_REFUSED\n")
                                        << QByteArray() << int(O::NoAnswer)
                                        << QStringLiteral("NT_STATUS_CONNECTION_REFUSED");
    QTest::newRow("name not found") << 1 << QByteArray("Connection to X failed. Error NT_STATUS_NOT_FOUND\n")
                                    << QByteArray() << int(O::NotFound) << QStringLiteral("NT_STATUS_NOT_FOUND");
    QTest::newRow("io timeout") << 1 << QByteArray("Connection to X failed. Error NT_STATUS_IO_TIMEOUT\n")
                                << QByteArray() << int(O::TimedOut) << QStringLiteral("NT_STATUS_IO_TIMEOUT");
    QTest::newRow("unknown failure keeps smbclient's words")
        << 1 << QByteArray() << QByteArray("Can't load /x.conf - run testparm to debug it\n") << int(O::Failed)
        << QStringLiteral("Can't load /x.conf - run testparm to debug it");
    QTest::newRow("silent failure") << 3 << QByteArray() << QByteArray() << int(O::Failed)
                                    << QStringLiteral("smbclient terminó con el código 3");
}

void tst_netLogic::smbclientAnswerIsClassified()
{
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(int, outcome);
    QFETCH(QString, detail);
    BoundedProcess::Result run;
    run.found = run.started = true;
    run.exitCode = exitCode;
    run.out = out.toStdString();
    run.err = err.toStdString();
    const auto delivery = SmbClient::classify(run);
    QCOMPARE(int(delivery.outcome), outcome);
    QCOMPARE(q(delivery.detail), detail);

    BoundedProcess::Result timedOut = run;
    timedOut.timedOut = true;
    timedOut.exitCode = -1;
    QCOMPARE(SmbClient::classify(timedOut).outcome, SmbClient::Outcome::TimedOut);
    BoundedProcess::Result missing;
    QCOMPARE(SmbClient::classify(missing).outcome, SmbClient::Outcome::Missing);
}

void tst_netLogic::smbclientArgumentsCannotBeTurnedIntoOptions()
{
    const SmbClient::Target target { "-s/etc/x", "127.0.0.2", 1139 };
    const SmbClient::Options options { "/tmp/c.conf", "CP850", "ana", 3 };
    const QStringList args = q(SmbClient::arguments(target, options));
    // Every value is glued to its option, so none stands alone where smbclient could
    // read it as an option of its own.
    for (const QString &arg : args)
        QVERIFY2(arg.startsWith(QLatin1String("--")), qPrintable(arg));
    QVERIFY(args.contains(QStringLiteral("--message=-s/etc/x")));
    QVERIFY(args.contains(QStringLiteral("--ip-address=127.0.0.2")));
    QVERIFY(args.contains(QStringLiteral("--port=1139")));
    QVERIFY(args.contains(QStringLiteral("--configfile=/tmp/c.conf")));
    QVERIFY(args.contains(QStringLiteral("--option=unix charset=CP850")));
    QVERIFY(args.contains(QStringLiteral("--user=ana")));
    QVERIFY(args.contains(QStringLiteral("--no-pass")));
    QVERIFY(args.contains(QStringLiteral("--timeout=3")));
}

void tst_netLogic::nmblookupAnswersAreParsed()
{
    const QByteArray group = "querying OFICINA on 10.231.0.255\n"
                             "10.231.0.2 OFICINA<00>\n"
                             "10.231.0.3 OFICINA<00>\n"
                             "10.231.0.3 OFICINA<00>\n";
    QCOMPARE(q(NameLookup::parseGroupAnswer(group.toStdString())), (QStringList { "10.231.0.2", "10.231.0.3" }));
    QVERIFY(NameLookup::parseGroupAnswer("querying X on 10.0.0.255\nname_query failed to find name X\n").empty());
}

// What the Samba tools really print (tests/data/samba/README.md says how each was taken),
// whole, empty, cut short and garbled.
void tst_netLogic::capturedAnswersAreParsed_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("parser");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("group members") << "nmblookup_grupo.txt"
                                   << "group" << QStringList { "10.232.0.3", "10.232.0.2" };
    QTest::newRow("group nobody answers") << "nmblookup_grupo_vacio.txt"
                                          << "group" << QStringList();
    QTest::newRow("group garbled: only the sound line") << "nmblookup_grupo_basura.txt"
                                                        << "group" << QStringList { "10.232.0.2" };
    QTest::newRow("master of a group") << "nmblookup_maestro.txt"
                                       << "master" << QStringList { "10.232.0.2" };
    QTest::newRow("every master browser") << "nmblookup_maestros.txt"
                                          << "master" << QStringList { "10.232.0.2", "10.232.0.4", "10.232.0.5" };
    QTest::newRow("no master") << "nmblookup_maestro_vacio.txt"
                               << "master" << QStringList();
    QTest::newRow("members are no masters") << "nmblookup_grupo.txt"
                                            << "master" << QStringList();
    QTest::newRow("status: computer name") << "nmblookup_estado.txt"
                                           << "computer" << QStringList { "MIEMBRO2" };
    QTest::newRow("status: name beyond ascii") << "nmblookup_estado_diseno.txt"
                                               << "computer" << QStringList { "DISE..O1" };
    QTest::newRow("status: no reply") << "nmblookup_estado_vacio.txt"
                                      << "computer" << QStringList();
    QTest::newRow("status: cut short") << "nmblookup_estado_cortado.txt"
                                       << "computer" << QStringList { "MIEMBRO1" };
    QTest::newRow("status: the group a master serves") << "nmblookup_estado_maestro.txt"
                                                       << "mastered" << QStringList { "VENTAS" };
    QTest::newRow("status: a member serves none") << "nmblookup_estado.txt"
                                                  << "mastered" << QStringList();
    QTest::newRow("browse list: servers") << "smbclient_lista.txt"
                                          << "servers" << QStringList { "MIEMBRO1", "MIEMBRO2" };
    QTest::newRow("browse list: workgroups") << "smbclient_lista.txt"
                                             << "workgroups" << QStringList { "COMPRAS", "DISEÑO", "VENTAS" };
    QTest::newRow("browse list: names beyond ascii") << "smbclient_lista_diseno.txt"
                                                     << "servers" << QStringList { "DISEÑO1" };
    QTest::newRow("browse list: cut in a name") << "smbclient_lista_cortada.txt"
                                                << "servers" << QStringList { "MIEMBRO1" };
    QTest::newRow("browse list: refused") << "smbclient_lista_rechaza.txt"
                                          << "servers" << QStringList();
    QTest::newRow("browse list: error text") << "smbclient_lista_rechaza_err.txt"
                                             << "workgroups" << QStringList();
    QTest::newRow("browse list is no status") << "smbclient_lista.txt"
                                              << "computer" << QStringList();
}

void tst_netLogic::capturedAnswersAreParsed()
{
    QFETCH(QString, file);
    QFETCH(QString, parser);
    QFETCH(QStringList, expected);
    QFile capture(QStringLiteral(SAMBA_CAPTURES "/") + file);
    QVERIFY2(capture.open(QIODevice::ReadOnly), qPrintable(capture.fileName()));
    const std::string output = capture.readAll().toStdString();

    QStringList got;
    if (parser == QLatin1String("group")) {
        got = q(NameLookup::parseGroupAnswer(output));
    } else if (parser == QLatin1String("master")) {
        got = q(NameLookup::parseMasterAnswer(output));
    } else if (parser == QLatin1String("computer")) {
        const std::string name = NameLookup::computerName(NameLookup::parseNodeStatus(output));
        if (!name.empty())
            got << q(name);
    } else if (parser == QLatin1String("mastered")) {
        got = q(NameLookup::masteredGroups(NameLookup::parseNodeStatus(output)));
    } else {
        const SmbClient::BrowseList list = SmbClient::parseBrowseList(output);
        got = q(parser == QLatin1String("servers") ? list.servers : list.workgroups);
    }
    QCOMPARE(got, expected);
}

namespace {

std::string hex(const char *text)
{
    return QByteArray::fromHex(text).toStdString();
}

} // namespace

// The requests, byte for byte as smbclient -M and nmblookup sent them, and nmbd's answers
// (captured with tcpdump against smbd on loopback and nmbd in a network namespace).
void tst_netLogic::requestsAndNameAnswersMatchSamba()
{
    QCOMPARE(NetbiosWire::sessionRequest("OFICINA1", "VM"),
        hex("810000442045504547454a4544454a454f454244424341434143414341434143414341414400"
            "204647454e4341434143414341434143414341434143414341434143414341414100"));
    QCOMPARE(NetbiosWire::sendStart("pepe", "OFICINA1", 0x39ab),
        hex("00000033ff534d42d5000000000000000000000000000000000000000000ab3900000000001000047065706500044f4649"
            "43494e413100"));
    // CP850 text with a line end: the CR goes in before the LF.
    const std::vector<std::string> pieces = NetbiosWire::pieces("Hola, \xa8qu\x82 tal?\nsegunda");
    QCOMPARE(pieces.size(), size_t(1));
    QCOMPARE(NetbiosWire::sendText(pieces.front(), 0, 0x39ab),
        hex("00000040ff534d42d7000000000000000000000000000000000000000000ab39000000000100001b00011800486f6c612c"
            "20a87175822074616c3f0d0a736567756e6461"));
    QCOMPARE(NetbiosWire::sendEnd(0, 0x39ab),
        hex("00000025ff534d42d6000000000000000000000000000000000000000000ab39000000000100000000"));
    // 300 bytes went as 127 + 127 + 46, and a line end split between two pieces stays split.
    std::vector<size_t> sizes;
    for (const std::string &piece : NetbiosWire::pieces(std::string(300, 'x')))
        sizes.push_back(piece.size());
    QCOMPARE(sizes, (std::vector<size_t> { 127, 127, 46 }));
    const std::vector<std::string> split = NetbiosWire::pieces(std::string(126, 'x') + "\ny");
    QCOMPARE(split.size(), size_t(2));
    QCOMPARE(split.at(0).back(), '\r');
    QCOMPARE(split.at(1), std::string("\ny"));

    QCOMPARE(NetbiosWire::nodeStatusRequest(0x2a6c),
        hex("2a6c0000000100000000000020434b4141414141414141414141414141414141414141414141414141414141410000210001"));
    QCOMPARE(NetbiosWire::nameQuery(0x3ae9, "DISE\xa5O", 0x00, true),
        hex("3ae901100001000000000000204545454a464445464b46455043414341434143414341434143414341434141410000200001"));

    // nmbd's node status answer for DISEÑO1 (CP850), and its answer to a group query.
    const std::string nodeStatus = hex(
        "2a6c8400000000010000000020434b41414141414141414141414141414141414141414141414141414141414100002100010000000000"
        "890544495345a54f31202020202020202000040044495345a54f31202020202020202003040044495345a54f3120202020202020202004"
        "0044495345a54f20202020202020202000840044495345a54f2020202020202020201e8400000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000");
    const auto names = NetbiosWire::readNodeStatus(nodeStatus);
    QVERIFY(names);
    QCOMPARE(names->id, uint16_t(0x2a6c));
    QCOMPARE(names->names.size(), size_t(5));
    QCOMPARE(NetbiosWire::messengerName(names->names), std::string("DISE\xa5O1"));
    QVERIFY(names->names.at(3).group);
    QVERIFY(!NetbiosWire::readNodeStatus(nodeStatus.substr(0, 100)));
    QVERIFY(!NetbiosWire::readNameAnswer(nodeStatus));

    const std::string group = hex("3ae985800000000100000000204545454a464445464b4645504341434143414341434143414341434143"
                                  "41414100002000010003f480000680000adb4d02");
    const auto members = NetbiosWire::readNameAnswer(group);
    QVERIFY(members);
    QCOMPARE(members->addresses, std::vector<std::string> { "10.219.77.2" });
    QVERIFY(!NetbiosWire::readNameAnswer(group.substr(0, group.size() - 1)));
    QVERIFY(!NetbiosWire::readNodeStatus(group));
}

void tst_netLogic::answersAreReadAsSambaSendsThem_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("status");

    using Kind = NetbiosWire::Frame::Kind;
    QTest::newRow("session accepted") << QByteArray::fromHex("82000000") << int(Kind::Positive) << QString();
    QTest::newRow("called name not present") << QByteArray::fromHex("8300000182") << int(Kind::Negative) << QString();
    QTest::newRow("keep-alive") << QByteArray::fromHex("85000000") << int(Kind::KeepAlive) << QString();
    QTest::newRow("message started") << QByteArray::fromHex(
        "00000023ff534d42d5000000008003400000000000000000000000000000ab3900000000000000")
                                     << int(Kind::Message) << QString();
    // smbd without a message command answers with a DOS error.
    QTest::newRow("message refused") << QByteArray::fromHex(
        "00000023ff534d42d5010047008003000000000000000000000000000000b23900000000000000")
                                     << int(Kind::Message) << QStringLiteral("NT_STATUS_REQUEST_NOT_ACCEPTED");
    QTest::newRow("NT status") << QByteArray::fromHex(
        "00000023ff534d42d5220000c08001400000000000000000000000000000b23900000000000000")
                               << int(Kind::Message) << QStringLiteral("NT_STATUS_ACCESS_DENIED");
    QTest::newRow("cut short") << QByteArray::fromHex("00000023ff534d42d50000000080") << int(Kind::Incomplete)
                               << QString();
    QTest::newRow("a request, not a reply")
        << QByteArray::fromHex("00000023ff534d42d5000000000003400000000000000000000000000000ab3900000000000000")
        << int(Kind::Invalid) << QString();
    QTest::newRow("longer than any reply") << QByteArray::fromHex("0001ffff") << int(Kind::Invalid) << QString();
    QTest::newRow("not SMB") << QByteArray::fromHex(
        "00000023fe534d42d5000000008003400000000000000000000000000000ab3900000000000000")
                             << int(Kind::Invalid) << QString();
}

void tst_netLogic::answersAreReadAsSambaSendsThem()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(QString, status);
    const NetbiosWire::Frame frame = NetbiosWire::readFrame(bytes.toStdString());
    QCOMPARE(int(frame.kind), kind);
    QCOMPARE(q(frame.statusName), status);
    QCOMPARE(frame.ntStatus != 0, !status.isEmpty());
    if (kind == int(NetbiosWire::Frame::Kind::Message))
        QCOMPARE(frame.size, size_t(bytes.size()));
}

// Only an executable file will do; a folder or a plain file of that name is passed over,
// and relative entries are taken from the current folder.
void tst_netLogic::programIsFoundOnPath()
{
    const QString base = m_dir.filePath(QStringLiteral("ruta"));
    for (const char *folder : { "folder", "plain", "exec", "rel/bin" })
        QVERIFY(QDir().mkpath(base + QLatin1Char('/') + QLatin1String(folder)));
    QVERIFY(QDir().mkpath(base + QStringLiteral("/folder/herramienta")));
    QFile plain(base + QStringLiteral("/plain/herramienta"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    for (const QString &path :
        { base + QStringLiteral("/exec/herramienta"), base + QStringLiteral("/rel/bin/herramienta") }) {
        QFile tool(path);
        QVERIFY(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\n");
        tool.close();
        QVERIFY(tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    }
    const QByteArray savedPath = qgetenv("PATH");
    const QString savedDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(base));
    const auto find = [](const QByteArray &path) {
        qputenv("PATH", path);
        return q(BoundedProcess::findExecutable("herramienta"));
    };
    const QByteArray b = base.toUtf8();
    const QString inExec = find("::" + b + "/folder:" + b + "/plain:" + b + "//exec/./:/usr/bin");
    const QString inRel = find(b + "/folder:rel/bin:" + b + "/exec");
    const QString none = find(b + "/folder:" + b + "/plain");
    qputenv("PATH", savedPath);
    QDir::setCurrent(savedDir);
    QCOMPARE(inExec, base + QStringLiteral("/exec/herramienta"));
    QCOMPARE(inRel, base + QStringLiteral("/rel/bin/herramienta"));
    QVERIFY(none.isEmpty());
}

void tst_netLogic::nameValidation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "OFICINA1" << true;
    QTest::newRow("fifteen characters") << "ABCDEFGHIJKLMNO" << true;
    QTest::newRow("sixteen characters") << "ABCDEFGHIJKLMNOP" << false;
    QTest::newRow("hyphen inside") << "PC-ANA" << true;
    QTest::newRow("leading hyphen") << "-s" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blank") << "PC ANA" << false;
    QTest::newRow("tab") << "PC\tANA" << false;
    for (const char c : QByteArrayView("\\/:*?\"<>|+=;,"))
        QTest::addRow("forbidden %c", c) << QStringLiteral("PC%1ANA").arg(QLatin1Char(c)) << false;
    QTest::newRow("star alone") << "*" << false;
    QTest::newRow("newline") << "PC\nANA" << false;
    QTest::newRow("accented letters") << "JOSÉ-ÑANDÚ" << true;
    QTest::newRow("no-break space") << "PC\u00a0ANA" << false;
    QTest::newRow("C1 control") << "PC\u0085" << false;
    // Fifteen characters, but one beyond the BMP counts twice.
    QTest::newRow("fourteen and an emoji") << "ABCDEFGHIJKLMN\U0001F600" << false;
    QTest::newRow("thirteen and an emoji") << "ABCDEFGHIJKLM\U0001F600" << true;
}

void tst_netLogic::nameValidation()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(NetCommand::validName(s(name)), valid);
}

void tst_netLogic::namesTheCodePageCannotCarryAreRefused_data()
{
    QTest::addColumn<QString>("codePage");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("firstLine");

    const QString why = QStringLiteral(" tiene caracteres que la página de códigos CP850 no tiene: ");
    QTest::newRow("called name") << "CP850"
                                 << "ana" << QStringLiteral("DISEŁO") << 2
                                 << "Error: el nombre de destino \"DISEŁO\"" + why + "Ł.";
    QTest::newRow("group name") << "CP850"
                                << "ana" << QStringLiteral("/domain:ŁÓDŹ") << 2
                                << "Error: el nombre de destino \"ŁÓDŹ\"" + why + "ŁŹ.";
    QTest::newRow("sender") << "CP850" << QStringLiteral("Łukasz") << "OFICINA1" << 1
                            << "Error: el nombre del remitente \"Łukasz\"" + why + "Ł.";
    // A NetBIOS name holds 15 bytes; smbclient would cut a longer one to another name.
    QTest::newRow("name over 15 bytes")
        << "CP932"
        << "ana" << QStringLiteral("日本語日本語日本語") << 2
        << QStringLiteral("Error: el nombre de destino \"日本語日本語日本語\" ocupa más de 15 bytes en la página de "
                          "códigos CP932.");
    // Names the code page carries get as far as smbclient, which is missing here.
    QTest::newRow("names the code page carries")
        << "CP850" << QStringLiteral("Muñoz") << QStringLiteral("DISEÑO") << 1
        << QStringLiteral("Error: no se encuentra el programa smbclient en el PATH (paquete smbclient).");
}

void tst_netLogic::namesTheCodePageCannotCarryAreRefused()
{
    QFETCH(QString, codePage);
    QFETCH(QString, sender);
    QFETCH(QString, target);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);
    const QString ini = writeOptions(QStringLiteral("pagina.ini"), "PaginaCodigos=" + codePage.toLatin1() + "\n");

    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", m_dir.filePath(QStringLiteral("sin-herramientas")).toUtf8());
    const NetCommand::Result result = NetCommand(s(ini), s(sender)).run({ "send", s(target), "hola" });
    qputenv("PATH", savedPath);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(q(result.out), QStringList { firstLine });
}

// The command's own text rules stand in for QString's, which decided before what net
// accepts and prints: blanks, control characters, trimming, lengths, case and UTF-8.
void tst_netLogic::textRulesAgreeWithQString()
{
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        if (Utf8Text::isSpace(c) != QChar::isSpace(c)
            || Utf8Text::isControl(c) != (QChar::category(c) == QChar::Other_Control))
            QFAIL(qPrintable(QStringLiteral("U+%1 is classified differently").arg(uint(c), 4, 16, QLatin1Char('0'))));
        const QString one = QStringView(QChar::fromUcs4(c)).toString(); // fromUcs4 would drop a BOM
        std::string utf8;
        Unicode::appendUtf8(utf8, c);
        if (QByteArray::fromStdString(utf8) != one.toUtf8())
            QFAIL(qPrintable(QStringLiteral("U+%1 is encoded differently").arg(uint(c), 4, 16, QLatin1Char('0'))));
        // "send" and "/domain:" are matched without regard to case.
        for (const char letter : { 's', 'e', 'n', 'd', 'o', 'm', 'a', 'i', '/', ':' }) {
            const bool qt = QString::compare(one, QLatin1String(&letter, 1), Qt::CaseInsensitive) == 0;
            if (Utf8Text::equalsIgnoringCase(s(one), std::string(1, letter)) != qt)
                QFAIL(qPrintable(QStringLiteral("U+%1 against %2").arg(uint(c), 4, 16, QLatin1Char('0')).arg(letter)));
        }
    }
    const QStringList samples { QString(), QStringLiteral(" \t\n"), QStringLiteral("\u3000 a b\u00a0"),
        QStringLiteral("\u2028x\u0085"), QStringLiteral("\u200bx\u200b"), QStringLiteral("a\U0001F600\u2003"),
        QStringLiteral("Año\r\n") };
    for (const QString &sample : samples) {
        QCOMPARE(q(std::string(Utf8Text::trimmed(s(sample)))), sample.trimmed());
        QCOMPARE(qsizetype(Utf8Text::utf16Length(s(sample))), sample.size());
        QCOMPARE(qsizetype(Utf8Text::characters(s(sample))), qsizetype(sample.toUcs4().size()));
        QCOMPARE(QByteArray::fromStdString(Utf8Text::toLatin1(s(sample))), sample.toLatin1());
    }
    QVERIFY(Utf8Text::prefixIgnoringCase("/DOMAIN:grupo", "/domain:") == size_t(8));
    QVERIFY(!Utf8Text::prefixIgnoringCase("/DOMAIN", "/domain:"));
    QVERIFY(!Utf8Text::equalsIgnoringCase("sendx", "send"));
}

// Arguments and the tools' output may hold any bytes: they are read as QString::fromUtf8
// reads them, one U+FFFD for each byte that does not begin a valid sequence.
void tst_netLogic::brokenUtf8IsReplacedAsQStringDoes()
{
    const QByteArray alphabet("\x41\x00\x80\x8f\xa0\xbf\xc0\xc1\xc2\xdf\xe0\xe2\xed\xef\xf0\xf4\xf5\xff", 18);
    const auto check = [](const QByteArray &bytes) {
        const QByteArray expected = QString::fromUtf8(bytes).toUtf8();
        if (QByteArray::fromStdString(Utf8Text::valid(bytes.toStdString())) != expected)
            QFAIL(qPrintable(QStringLiteral("bytes %1").arg(QString::fromLatin1(bytes.toHex(' ')))));
    };
    for (const char a : alphabet)
        for (const char b : alphabet)
            for (const char c : alphabet)
                for (const char d : alphabet) {
                    const char four[] = { a, b, c, d };
                    check(QByteArray(four, 4));
                }
    QRandomGenerator random(20261207);
    for (int i = 0; i < 20000; ++i) {
        QByteArray bytes(random.bounded(12), Qt::Uninitialized);
        for (char &b : bytes)
            b = char(random.bounded(256));
        check(bytes);
    }
    // A caller's UTF-8 text, valid or not, reaches the messages as that same text.
    QCOMPARE(q(Utf8Text::valid("Jos\xc3\xa9 \xe9")), QStringLiteral("José \ufffd"));
}

// Ports and time-outs are whole numbers as QString::toInt reads them: blanks around, a sign.
void tst_netLogic::numbersAreReadAsQStringReadsThem()
{
    const QStringList samples { "5", "+5", "-5", "05", " 5", "5 ", "\t5\n", "0x10", "1e3", "1,000", "1.0", "5 5", "+ 5",
        "+-5", "2147483647", "2147483648", "-2147483648", "-2147483649", "99999999999999999999", "", " ", "+", "-0",
        "\u00a05", "5\u3000", "\uff15", "\u0665", "00000000000000000000007" };
    for (const QString &sample : samples) {
        bool ok = false;
        const int expected = sample.toInt(&ok);
        const std::optional<int> got = Utf8Text::toInt(s(sample));
        QVERIFY2(got.has_value() == ok, qPrintable(sample));
        if (ok)
            QCOMPARE(*got, expected);
    }
}

// Groups full of members are more than the memory may hold: what it writes it reads back
// whole, the groups heard from longest ago left out.
void tst_netLogic::memberMemoryIsReadBackWhole()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string path = QFile::encodeName(folder.filePath(QStringLiteral("grupos"))).toStdString();
    const long long day = 24 * 3600;
    const long long start = 1'700'000'000;
    std::vector<std::string> members;
    for (size_t i = 0; i < KnownMembers::kMaxMembers; ++i)
        members.push_back("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
    // Every ten minutes another group answered by as many members as a group send takes.
    const int groups = 4;
    for (int g = 0; g < groups; ++g) {
        KnownMembers known = KnownMembers::load(path, start + g * 600);
        known.answered("GRUPO" + std::to_string(g), "10.1.255.255", members, true);
        std::string error;
        QVERIFY2(known.save(error), error.c_str());
        QVERIFY(QFileInfo(folder.filePath(QStringLiteral("grupos"))).size() <= qint64(KnownMembers::kMaxBytes));
    }
    const KnownMembers read = KnownMembers::load(path, start + day / 2);
    QCOMPARE(read.expected("GRUPO" + std::to_string(groups - 1), "10.1.255.255"), members);
    QVERIFY(read.expected("GRUPO0", "10.1.255.255").empty());
}

QTEST_GUILESS_MAIN(tst_netLogic)
#include "tst_netLogic.moc"
