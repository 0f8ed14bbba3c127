#include "fakes/TestSupport.h"

#include "receiver/Delivery.h"
#include "receiver/Recipients.h"
#include "receiver/Record.h"
#include "receiver/SafeFolder.h"
#include "runtime/posix/Folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

constexpr int64_t kNow = 1767225600; // 2026-01-01 00:00:00 UTC
const std::string kFFFD = "\xEF\xBF\xBD";

std::string s(const QString &text)
{
    return text.toStdString();
}

timespec wallClock()
{
    timespec t = {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return t;
}

QStringList entriesIn(const QString &mailbox)
{
    QStringList names;
    for (const QString &n :
        QDir(mailbox).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        names << n;
    return names;
}

} // namespace

// velrisa-recibe's logic: cleaning what smbd hands over, the record format, writing into a
// mailbox that may hold planted entries, and keeping the mailbox bounded.
class tst_Delivery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void textAndNamesAreCleaned_data();
    void textAndNamesAreCleaned();
    void recordSurvivesARoundTrip_data();
    void recordSurvivesARoundTrip();
    void oldRecordWithoutComputerIsRead();
    void alteredRecordIsRefused_data();
    void alteredRecordIsRefused();
    void userListMapsCalledNamesToUsers_data();
    void userListMapsCalledNamesToUsers();
    void doubtfulFolderOrUserListDeliversNothing_data();
    void doubtfulFolderOrUserListDeliversNothing();
    void argumentsGiveTheRequestOrAreRefused_data();
    void argumentsGiveTheRequestOrAreRefused();

    void deliveryStoresTheMessageAndRemovesTheFile();
    void tooLongMessageIsCutAndSaysSo();
    void smbclientTextArrivesAsItWasWritten_data();
    void smbclientTextArrivesAsItWasWritten();
    void plantedEntriesAreNeitherFollowedNorReplaced();
    void hostileMessageFileIsRefused_data();
    void hostileMessageFileIsRefused();
    void failedWriteLeavesNothingAndKeepsTheMessage();
    void prunesTheOldestOwnRecordsByCountAndAge();
    void futureDatedRecordsDoNotPushOutRealOnes();
    void eightDeliveriesAtOnceNeitherLoseNorRepeat();
    void mailboxIsSafeOnlyWhenTheFoldersAboveAre_data();
    void mailboxIsSafeOnlyWhenTheFoldersAboveAre();
    void whatIsNotDeliveredIsReportedAndRemoved_data();
    void whatIsNotDeliveredIsReportedAndRemoved();
    void folderListingStopsAtItsBoundAndStartsOverEachTime();

private:
    QString messageFile(const QByteArray &bytes);
    Delivery::Result deliver(const QString &file, int64_t seconds = kNow, int32_t ns = 0, long pid = 42,
        const Delivery::Limits &limits = {});

    QTemporaryDir m_root;
    QString m_mailbox;
    int m_serial = 0;
};

void tst_Delivery::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY(prepareEnvironment(m_root.path()));
}

void tst_Delivery::init()
{
    m_mailbox = m_root.filePath(QStringLiteral("buzon%1").arg(++m_serial));
    QVERIFY(QDir().mkpath(m_mailbox));
}

QString tst_Delivery::messageFile(const QByteArray &bytes)
{
    const QString path = m_root.filePath(QStringLiteral("msg.%1").arg(++m_serial));
    return writeFile(path, bytes) ? path : QString();
}

Delivery::Result tst_Delivery::deliver(
    const QString &file, int64_t seconds, int32_t ns, long pid, const Delivery::Limits &limits)
{
    Delivery::Request p;
    p.mailbox = s(m_mailbox);
    p.from = "ana";
    p.to = "oficina1";
    p.file = s(file);
    return Delivery::deliver(p, seconds, ns, pid, limits);
}

void tst_Delivery::textAndNamesAreCleaned_data()
{
    QTest::addColumn<bool>("isText");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("cut");

    const QByteArray fffd = QByteArray::fromStdString(kFFFD);
    QTest::newRow("text: UTF-8 intact") << true << QByteArray("Hola, ¿qué tal? Año 2026")
                                        << QByteArray("Hola, ¿qué tal? Año 2026") << false;
    QTest::newRow("text: broken bytes") << true << QByteArray("a\xC3(\xFF") << "a" + fffd + "(" + fffd << false;
    QTest::newRow("text: line ends") << true << QByteArray("a\r\nb\rc\nd\te") << QByteArray("a\nb\nc\nd\te") << false;
    QTest::newRow("text: controls") << true << QByteArray("a\x1b[31m\x00z\x7f", 9)
                                    << "a" + fffd + "[31m" + fffd + "z" + fffd << false;
    QTest::newRow("text: C1") << true << QByteArray("\xC2\x85x") << fffd + "x" << false;
    QTest::newRow("text: 1600 characters") << true << QByteArray(1600, 'x') << QByteArray(1600, 'x') << false;
    QTest::newRow("text: 1601 characters") << true << QByteArray(1601, 'x') << QByteArray(1600, 'x') << true;
    QTest::newRow("text: multibyte cut by characters")
        << true << QByteArray("€").repeated(1700) << QByteArray("€").repeated(1600) << true;
    QTest::newRow("name: line break") << false << QByteArray("ana\nDe: eva") << "ana" + fffd + "De: eva" << false;
    QTest::newRow("name: 65 characters") << false << QByteArray("ñ").repeated(65) << QByteArray("ñ").repeated(64)
                                         << true;
}

void tst_Delivery::textAndNamesAreCleaned()
{
    QFETCH(bool, isText);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, output);
    QFETCH(bool, cut);
    bool cutSeen = !cut;
    const std::string cleaned = isText ? Record::cleanText(input.toStdString(), &cutSeen)
                                       : Record::cleanName(input.toStdString(), &cutSeen);
    QCOMPARE(QByteArray::fromStdString(cleaned), output);
    QCOMPARE(cutSeen, cut);
}

void tst_Delivery::recordSurvivesARoundTrip_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QString>("computer");
    QTest::addColumn<QString>("address");
    QTest::newRow("normal") << "juan"
                            << "oficina1"
                            << "Hola, ¿qué tal?\nAño 2026" << false << "pc-juan"
                            << "10.0.0.7";
    QTest::newRow("empty, no computer") << ""
                                        << ""
                                        << "" << true << ""
                                        << "";
    QTest::newRow("final line and headers in the text") << "a b"
                                                        << "mi pc"
                                                        << "x\n\nDe: eva\nEquipo: pc\nLongitud: 3\n"
                                                        << false << ""
                                                        << "fe80::1";
}

void tst_Delivery::recordSurvivesARoundTrip()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, text);
    QFETCH(bool, cut);
    QFETCH(QString, computer);
    QFETCH(QString, address);
    const Record::Message m { s(from), s(to), kNow, 5, cut, s(text), s(computer), s(address) };
    const auto parsed = Record::parse(Record::compose(m));
    QVERIFY(parsed);
    QCOMPARE(QString::fromStdString(parsed->computer), computer);
    QCOMPARE(QString::fromStdString(parsed->address), address);
    QCOMPARE(QString::fromStdString(parsed->from), from);
    QCOMPARE(QString::fromStdString(parsed->to), to);
    QCOMPARE(QString::fromStdString(parsed->text), text);
    QCOMPARE(parsed->seconds, kNow);
    QCOMPARE(parsed->nanoseconds, 5);
    QCOMPARE(parsed->cut, cut);
}

void tst_Delivery::oldRecordWithoutComputerIsRead()
{
    // As receivers wrote them before they knew the sending computer.
    const auto m = Record::parse("velrisa-mensaje 1\nDe: ana\nPara: of\nLlegada: 1767225600.000000005\n"
                                      "Cortado: 0\nLongitud: 4\n\nhola");
    QVERIFY(m);
    QCOMPARE(m->from, std::string("ana"));
    QVERIFY(m->computer.empty());
    QVERIFY(m->address.empty());
    QCOMPARE(m->text, std::string("hola"));
}

void tst_Delivery::alteredRecordIsRefused_data()
{
    QTest::addColumn<QByteArray>("original");
    QTest::addColumn<QByteArray>("altered");
    QTest::newRow("header") << QByteArray("velrisa-mensaje 1") << QByteArray("velrisa-mensaje 2");
    QTest::newRow("length too long") << QByteArray("Longitud: 4") << QByteArray("Longitud: 5");
    QTest::newRow("non-numeric length") << QByteArray("Longitud: 4") << QByteArray("Longitud: +4");
    QTest::newRow("CR in the text") << QByteArray("\n\nhola") << QByteArray("\n\nho\rl");
    QTest::newRow("control in the name") << QByteArray("De: ana") << QByteArray("De: a\x1b");
    QTest::newRow("key order") << QByteArray("De: ana\nPara: of") << QByteArray("Para: of\nDe: ana");
    QTest::newRow("short nanoseconds") << QByteArray(".000000005") << QByteArray(".00000005");
    QTest::newRow("odd cut flag") << QByteArray("Cortado: 0") << QByteArray("Cortado: 2");
    QTest::newRow("year 2287") << QByteArray("Llegada: 1767225600") << QByteArray("Llegada: 10000000000");
    QTest::newRow("empty computer") << QByteArray("Equipo: pc1") << QByteArray("Equipo: ");
    QTest::newRow("computer after the address")
        << QByteArray("Equipo: pc1\nDireccion: 10.0.0.7") << QByteArray("Direccion: 10.0.0.7\nEquipo: pc1");
    QTest::newRow("control in the address") << QByteArray("Direccion: 10.0.0.7") << QByteArray("Direccion: 10\t0");
}

void tst_Delivery::alteredRecordIsRefused()
{
    QFETCH(QByteArray, original);
    QFETCH(QByteArray, altered);
    const Record::Message m { "ana", "of", kNow, 5, false, "hola", "pc1", "10.0.0.7" };
    QByteArray bytes = QByteArray::fromStdString(Record::compose(m));
    QVERIFY(Record::parse(bytes.toStdString()));
    QVERIFY(bytes.contains(original));
    bytes.replace(original, altered);
    QVERIFY(!Record::parse(bytes.toStdString()));
}

void tst_Delivery::argumentsGiveTheRequestOrAreRefused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected"); // mailbox, from, to, file; empty: refused
    const QString def = QString::fromLatin1(Delivery::kDefaultMailbox);
    QTest::newRow("complete") << QStringList { "--buzon=/b", "ana", "of1", "/tmp/m" }
                              << QStringList { "/b", "ana", "of1", "/tmp/m" };
    QTest::newRow("default mailbox") << QStringList { "ana", "of1", "/tmp/m" }
                                     << QStringList { def, "ana", "of1", "/tmp/m" };
    // smbd puts %L in unquoted: a called name with a blank arrives as two words.
    QTest::newRow("recipient split in two")
        << QStringList { "ana", "mi", "pc", "/tmp/m" } << QStringList { def, "ana", "mi pc", "/tmp/m" };
    QTest::newRow("no recipient") << QStringList { "ana", "/tmp/m" } << QStringList { def, "ana", "", "/tmp/m" };
    QTest::newRow("-- and dash") << QStringList { "--", "--ana", "of1", "/tmp/m" }
                                 << QStringList { def, "--ana", "of1", "/tmp/m" };
    QTest::newRow("computer and address") << QStringList { "--equipo=pc2", "--direccion=10.0.0.3", "ana", "of1",
        "/tmp/m" } << QStringList { def, "ana", "of1", "/tmp/m", "pc2", "10.0.0.3" };
    // smbd leaves %m empty for a client that gave no name.
    QTest::newRow("empty computer") << QStringList { "--equipo=", "--usuarios=/u", "ana", "of1", "/tmp/m" }
                                    << QStringList { def, "ana", "of1", "/tmp/m", "", "", "/u" };
    QTest::newRow("empty list") << QStringList { "--usuarios=", "ana", "of1", "/tmp/m" } << QStringList();
    QTest::newRow("file missing") << QStringList { "--buzon=/b", "ana" } << QStringList();
    QTest::newRow("unknown option") << QStringList { "--buzón=/b", "ana", "of1", "/tmp/m" } << QStringList();
    QTest::newRow("empty mailbox") << QStringList { "--buzon=", "ana", "of1", "/tmp/m" } << QStringList();
}

void tst_Delivery::argumentsGiveTheRequestOrAreRefused()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    std::vector<std::string> v;
    for (const QString &a : args)
        v.push_back(s(a));
    std::string error;
    const auto p = Delivery::arguments(v, error);
    if (expected.isEmpty()) {
        QVERIFY(!p);
        QVERIFY(!error.empty());
        return;
    }
    QVERIFY2(p, error.c_str());
    QStringList seen { QString::fromStdString(p->mailbox), QString::fromStdString(p->from), QString::fromStdString(p->to),
        QString::fromStdString(p->file), QString::fromStdString(p->computer), QString::fromStdString(p->address),
        QString::fromStdString(p->users) };
    while (seen.size() > expected.size() && seen.last().isEmpty())
        seen.removeLast();
    QCOMPARE(seen, expected);
}

void tst_Delivery::userListMapsCalledNamesToUsers_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("calledName");
    QTest::addColumn<QString>("user"); // "!": the list is refused
    const QByteArray good = "# recepcion.sh\n\nJUAN juan\nOficina-2 maria\nmaria maria\nmaria maria\n";
    QTest::newRow("alias of a user, lower case") << good << "juan"
                                                 << "juan";
    QTest::newRow("upper case") << good << "OFICINA-2"
                                << "maria";
    QTest::newRow("the computer's name") << good << "oficina1"
                                         << "";
    QTest::newRow("no line end") << QByteArray("ana ana") << "ana"
                                 << "ana";
    QTest::newRow("no user") << QByteArray("juan\n") << "juan"
                             << "!";
    QTest::newRow("user that is a path") << QByteArray("juan ../etc\n") << "juan"
                                         << "!";
    QTest::newRow("name of 16") << QByteArray("abcdefghijklmnop juan\n") << "juan"
                                << "!";
    QTest::newRow("two blanks") << QByteArray("juan  juan\n") << "juan"
                                << "!";
    QTest::newRow("one name, two users") << QByteArray("juan juan\nJuan maria\n") << "juan"
                                         << "!";
}

void tst_Delivery::userListMapsCalledNamesToUsers()
{
    QFETCH(QByteArray, list);
    QFETCH(QString, calledName);
    QFETCH(QString, user);
    std::string error;
    const auto userMap = Recipients::parse(list.toStdString(), error);
    if (user == QLatin1String("!")) {
        QVERIFY(!userMap);
        QVERIFY(QString::fromStdString(error).contains(QStringLiteral("línea")));
        return;
    }
    QVERIFY2(userMap, error.c_str());
    QCOMPARE(QString::fromStdString(Recipients::userOf(*userMap, s(calledName))), user);
}

void tst_Delivery::doubtfulFolderOrUserListDeliversNothing_data()
{
    QTest::addColumn<QString>("scenario");
    for (const char *scenario : { "folder open to others", "no folder", "linked folder", "list writable by others",
             "list of another owner", "no list", "no such user" })
        QTest::newRow(scenario) << QString::fromUtf8(scenario);
}

// Where the person's folder or the list cannot be trusted the message must not reach the
// wrong eyes: nothing is delivered, it says why, and smbd's file stays.
void tst_Delivery::doubtfulFolderOrUserListDeliversNothing()
{
    QFETCH(QString, scenario);
    const QString me = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    const QString user = scenario == QLatin1String("no such user") ? QStringLiteral("nadie-velrisa") : me;
    const QString list = m_root.filePath(QStringLiteral("usuarios%1").arg(m_serial));
    if (scenario != QLatin1String("no list"))
        QVERIFY(writeFile(list, "mi-alias " + user.toLocal8Bit() + '\n'));
    if (scenario == QLatin1String("list writable by others"))
        QCOMPARE(::chmod(QFile::encodeName(list).constData(), 0666), 0);
    const QString ownFolder = m_mailbox + QLatin1Char('/') + user;
    if (scenario == QLatin1String("linked folder")) {
        const QString otherFolder = m_root.filePath(QStringLiteral("otra%1").arg(m_serial));
        QVERIFY(QDir().mkpath(otherFolder));
        QCOMPARE(::chmod(QFile::encodeName(otherFolder).constData(), 0700), 0);
        QVERIFY(QFile::link(otherFolder, ownFolder));
    } else if (scenario != QLatin1String("no folder")) {
        QVERIFY(QDir().mkpath(ownFolder));
        QCOMPARE(::chmod(QFile::encodeName(ownFolder).constData(),
                     scenario == QLatin1String("folder open to others") ? 0775 : 0770),
            0);
    }
    Delivery::Limits limits;
    limits.usersOwner = scenario == QStringLiteral("list of another owner") ? ::geteuid() + 1 : ::geteuid();
    Delivery::Request p;
    p.mailbox = s(m_mailbox);
    p.from = "ana";
    p.to = "mi-alias";
    p.users = s(list);
    p.file = s(messageFile("hola"));
    const QStringList before = entriesIn(m_mailbox);
    const Delivery::Result r = Delivery::deliver(p, kNow, 1, 42, limits);
    QVERIFY(!r.delivered);
    QVERIFY(!r.error.empty());
    QVERIFY(QFile::exists(QString::fromStdString(p.file)));
    QCOMPARE(entriesIn(m_mailbox), before);
    if (QFileInfo(ownFolder).isDir())
        QVERIFY(entriesIn(ownFolder).isEmpty());
}

void tst_Delivery::deliveryStoresTheMessageAndRemovesTheFile()
{
    const QString file = messageFile("Hola, \xC2\xBFqu\xC3\xA9 tal?\r\nA\xC3\xB1o 2026");
    ::umask(0077); // smbd's is 0; the readers' rights must not depend on it
    const Delivery::Result r = deliver(file, kNow, 123, 4242);
    ::umask(0022);
    QVERIFY2(r.delivered, r.error.c_str());
    QVERIFY(r.warnings.empty());
    QVERIFY(!QFile::exists(file));
    QCOMPARE(entriesIn(m_mailbox), QStringList { "m1767225600.000000123.4242" });
    QCOMPARE(QString::fromStdString(r.record), QStringLiteral("m1767225600.000000123.4242"));
    const QString path = m_mailbox + QStringLiteral("/") + QString::fromStdString(r.record);
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0644));
    const auto m = Record::parse(readFile(path).toStdString());
    QVERIFY(m);
    QCOMPARE(m->from, std::string("ana"));
    QCOMPARE(m->to, std::string("oficina1"));
    QCOMPARE(QString::fromStdString(m->text), QStringLiteral("Hola, ¿qué tal?\nAño 2026"));
    QCOMPARE(m->seconds, kNow);
    QCOMPARE(m->nanoseconds, 123);
    QVERIFY(!m->cut);
}

void tst_Delivery::tooLongMessageIsCutAndSaysSo()
{
    // Past what the read takes at all (four bytes a character), and past 1600 characters.
    for (const QByteArray &bytes : { QByteArray(Record::kMaxTextBytes + 1000, 'x'), QByteArray(2000, 'y') }) {
        const Delivery::Result r = deliver(messageFile(bytes), kNow, ++m_serial);
        QVERIFY2(r.delivered, r.error.c_str());
        QCOMPARE(r.warnings.size(), size_t(1));
        QVERIFY(QString::fromStdString(r.warnings[0]).contains(QStringLiteral("1600")));
        const auto m = Record::parse(
            readFile(m_mailbox + QLatin1Char('/') + QString::fromStdString(r.record)).toStdString());
        QVERIFY(m);
        QVERIFY(m->cut);
        QCOMPARE(m->text, std::string(1600, bytes[0]));
    }
}

// What Samba's own client sends, as the receiving smbd hands it over (tests/data/mensajes,
// README.md there says how each was taken), arrives in the record as it was written.
void tst_Delivery::smbclientTextArrivesAsItWasWritten_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("expected");
    const auto capture = [](const char *name, const char *extension) {
        return readFile(
            QStringLiteral(CAPTURED_MESSAGES "/%1.%2").arg(QLatin1String(name), QLatin1String(extension)));
    };
    for (const char *name :
        { "ascii", "cp850_espanol", "cp850_cajas", "vacio", "corte_pieza", "cjk_emoji", "mixto", "lineas_euro" })
        QTest::newRow(name) << capture(name, "recibido") << capture(name, "enviado");
    // smbclient stops at the zero byte, and reads 1,598 bytes: the last is the lead of a letter.
    QTest::newRow("hola_cero") << capture("hola_cero", "recibido") << QByteArray("Hola");
    QTest::newRow("euro_acentos") << capture("euro_acentos", "recibido")
                                  << capture("euro_acentos", "enviado").left(1597);
    // Other peers.
    QTest::newRow("trailing zero") << QByteArray("Hola", 5) << QByteArray("Hola");
    QTest::newRow("already UTF-8") << QByteArray("A\xC3\xB1o \xE2\x82\xAC") << QByteArray("A\xC3\xB1o \xE2\x82\xAC");
    // What smbclient sends converted for "├▒ ┬á": were it raw UTF-8 ("ñ á"), it could have been
    // converted, so it was not raw.
    QTest::newRow("convertible box letters") << QByteArray("\xE2\x94\x9C\xE2\x96\x92 \xE2\x94\xAC\xC3\xA1")
                                             << QByteArray("\xE2\x94\x9C\xE2\x96\x92 \xE2\x94\xAC\xC3\xA1");
    // A peer that sends CP850 whole: the 127th byte of input would fall inside the "ñ", so this is
    // not smbclient's, and the "€" that "Ôé¼" would be is not taken either.
    const QByteArray cp850 = QByteArray(126, 'x') + "\xC3\xB1\xC3\x94\xC3\xA9\xC2\xBC";
    QTest::newRow("CP850 of another client") << cp850 << cp850;
}

void tst_Delivery::smbclientTextArrivesAsItWasWritten()
{
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, expected);
    QVERIFY(received != "<missing>" && expected != "<missing>");
    const Delivery::Result r = deliver(messageFile(received));
    QVERIFY2(r.delivered, r.error.c_str());
    const auto m
        = Record::parse(readFile(m_mailbox + QLatin1Char('/') + QString::fromStdString(r.record)).toStdString());
    QVERIFY(m);
    QCOMPARE(QByteArray::fromStdString(m->text), expected);
}

void tst_Delivery::plantedEntriesAreNeitherFollowedNorReplaced()
{
    // A local user who could write the mailbox plants the names the receiver will use: the
    // temporary of the first attempt (a link to a file of the victim's) and the record name
    // of the second (a fifo). The receiver writes under a third name and touches neither.
    const QString victim = m_root.filePath(QStringLiteral("victima"));
    QVERIFY(writeFile(victim, "intacto"));
    QVERIFY(QFile::link(victim, m_mailbox + QStringLiteral("/.m1767225600.000000000.42")));
    QCOMPARE(::mkfifo(QFile::encodeName(m_mailbox + QStringLiteral("/m1767225600.000000001.42")).constData(), 0666), 0);

    const Delivery::Result r = deliver(messageFile("hola"));
    QVERIFY2(r.delivered, r.error.c_str());
    QCOMPARE(QString::fromStdString(r.record), QStringLiteral("m1767225600.000000002.42"));
    QCOMPARE(readFile(victim), QByteArray("intacto"));
    QCOMPARE(entriesIn(m_mailbox),
        QStringList({ ".m1767225600.000000000.42", "m1767225600.000000001.42", "m1767225600.000000002.42" }));
    QVERIFY(QFileInfo(m_mailbox + QStringLiteral("/.m1767225600.000000000.42")).isSymLink());

    // A mailbox that is itself a link is not followed.
    const QString linkPath = m_root.filePath(QStringLiteral("enlace-buzon"));
    QVERIFY(QFile::link(m_mailbox, linkPath));
    Delivery::Request p;
    p.mailbox = s(linkPath);
    p.from = "ana";
    p.file = s(messageFile("hola"));
    const Delivery::Result viaLink = Delivery::deliver(p, kNow, 0, 7);
    QVERIFY(!viaLink.delivered);
    QVERIFY(QString::fromStdString(viaLink.error).contains(linkPath));
    QVERIFY(QFile::exists(QString::fromStdString(p.file)));
}

void tst_Delivery::hostileMessageFileIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("link") << "link";
    QTest::newRow("fifo (does not block)") << "fifo";
    QTest::newRow("folder") << "folder";
    QTest::newRow("does not exist") << "missing";
}

void tst_Delivery::hostileMessageFileIsRefused()
{
    QFETCH(QString, kind);
    const QString path = m_root.filePath(QStringLiteral("hostil.%1").arg(++m_serial));
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(messageFile("secreto"), path));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));

    const Delivery::Result r = deliver(path);
    QVERIFY(!r.delivered);
    QVERIFY(QString::fromStdString(r.error).contains(path));
    QVERIFY(entriesIn(m_mailbox).isEmpty());
    // What is not a message is not removed either.
    QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), kind != QLatin1String("missing"));
}

void tst_Delivery::failedWriteLeavesNothingAndKeepsTheMessage()
{
    // A file-size limit makes the write fail as a full disk does, after the file exists.
    const QString file = messageFile(QByteArray(1000, 'z'));
    struct rlimit before = {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = before;
    limit.rlim_cur = 100;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const Delivery::Result r = deliver(file);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!r.delivered);
    QVERIFY(QString::fromStdString(r.error).contains(m_mailbox));
    QVERIFY(QString::fromStdString(r.error).contains(file));
    QVERIFY(entriesIn(m_mailbox).isEmpty());
    QCOMPARE(readFile(file), QByteArray(1000, 'z'));
}

void tst_Delivery::prunesTheOldestOwnRecordsByCountAndAge()
{
    if (::geteuid() != 0)
        QSKIP("needs root: one of the records is given to another user");
    const int fd = ::open(QFile::encodeName(m_mailbox).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(fd >= 0);
    const auto name
        = [](int64_t seconds, long pid) { return QString::fromStdString(Record::fileName(seconds, 0, pid)); };
    const auto create = [this](const QString &n) { return writeFile(m_mailbox + QLatin1Char('/') + n, "x"); };
    // 8 records a minute apart, the first one 31 days old; and entries that are not ours.
    QStringList own;
    for (int i = 0; i < 8; ++i) {
        own << name(kNow - (i == 0 ? 31 * 86400 : (8 - i) * 60), 1);
        QVERIFY(create(own.last()));
    }
    const QString foreign = name(kNow - 40 * 86400, 2);
    QVERIFY(create(foreign));
    QCOMPARE(::chown(QFile::encodeName(m_mailbox + QLatin1Char('/') + foreign).constData(), 65534, 65534), 0);
    const QString linkName = name(kNow - 50 * 86400, 3);
    QVERIFY(QFile::link(m_root.filePath(QStringLiteral("x")), m_mailbox + QLatin1Char('/') + linkName));
    QVERIFY(create(QStringLiteral("otra-cosa")));
    // Temporaries of ours: one left by a crash two hours ago, one of a delivery under way.
    const QString stale = QLatin1Char('.') + name(kNow - 7200, 4);
    const QString recent = QLatin1Char('.') + name(kNow, 5);
    QVERIFY(create(stale) && create(recent));
    struct timespec times[2] = { { kNow - 7200, 0 }, { kNow - 7200, 0 } };
    QCOMPARE(::utimensat(fd, QFile::encodeName(stale).constData(), times, 0), 0);

    const auto remaining = [&](int firstKept) {
        QStringList expected = own.mid(firstKept);
        expected << foreign << linkName << QStringLiteral("otra-cosa") << recent;
        expected.sort();
        QStringList seen = entriesIn(m_mailbox);
        seen.sort();
        return seen == expected;
    };
    std::vector<std::string> warnings;
    // By age alone: the 31-day-old record and the crash's temporary.
    Delivery::prune(fd, kNow, Delivery::Limits { 10, 30 * 86400, 1 }, warnings);
    QVERIFY(remaining(1));
    // By count, down to the limit less the slack: the others' entries are neither removed nor counted.
    Delivery::prune(fd, kNow, Delivery::Limits { 6, 30 * 86400, 1 }, warnings);
    QVERIFY(remaining(3));
    ::close(fd);
    QVERIFY(warnings.empty());
}

void tst_Delivery::futureDatedRecordsDoNotPushOutRealOnes()
{
    // A hundred records dated 2031 (a sender's clock, a restored backup, a hand-made file) are
    // already there, past the limit, when the real messages come.
    const Delivery::Limits limits { 20, 30 * 86400, 2 };
    const Record::Message future { "eva", "of", 1938000000, 0, false, "del futuro", {}, {} };
    for (int i = 0; i < 100; ++i) {
        QVERIFY(writeFile(
            m_mailbox + QLatin1Char('/') + QString::fromStdString(Record::fileName(future.seconds + i, 0, 9)),
            QByteArray::fromStdString(Record::compose(future))));
    }
    ::usleep(20000); // the files' change times, kept in clock ticks, are behind what comes next
    QStringList realOnes;
    for (int i = 0; i < 15; ++i) {
        const timespec t = wallClock();
        const Delivery::Result r
            = deliver(messageFile("real " + QByteArray::number(i)), t.tv_sec, t.tv_nsec, 42, limits);
        QVERIFY2(r.delivered, r.error.c_str());
        realOnes << QString::fromStdString(r.record);
    }
    // The computer's clock set back a day: what arrives now is still the newest.
    const timespec t = wallClock();
    const Delivery::Result setBack = deliver(messageFile("atrasado"), t.tv_sec - 86400, t.tv_nsec, 42, limits);
    QVERIFY2(setBack.delivered, setBack.error.c_str());
    realOnes << QString::fromStdString(setBack.record);

    const QStringList remaining = entriesIn(m_mailbox);
    for (const QString &real : realOnes)
        QVERIFY2(remaining.contains(real), qPrintable(real));
    QVERIFY(remaining.size() <= int(limits.maxRecords));
}

void tst_Delivery::eightDeliveriesAtOnceNeitherLoseNorRepeat()
{
    // 8 senders at once, 250 messages each, as smbd starts one receiver for each: 2,000
    // deliveries into one mailbox that they prune together past 1,000 records.
    constexpr int kChildren = 8;
    constexpr int kEach = 250;
    std::vector<pid_t> children;
    for (int h = 0; h < kChildren; ++h) {
        const QByteArray folder = QFile::encodeName(m_root.filePath(QStringLiteral("hijo%1").arg(h)));
        QVERIFY(QDir().mkpath(QString::fromLocal8Bit(folder)));
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            int failure = 0;
            for (int i = 0; i < kEach && !failure; ++i) {
                const std::string file = folder.toStdString() + "/msg." + std::to_string(i);
                const std::string text = std::to_string(h) + ' ' + std::to_string(i);
                const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
                failure = fd < 0 || ::write(fd, text.data(), text.size()) != ssize_t(text.size()) ? 2 : 0;
                ::close(fd);
                Delivery::Request p;
                p.mailbox = s(m_mailbox);
                p.from = "ana";
                p.file = file;
                const timespec t = wallClock();
                const Delivery::Result r = Delivery::deliver(p, t.tv_sec, int32_t(t.tv_nsec), long(::getpid()));
                // Each record is there when its delivery returns, whatever the others pruned.
                if (!failure
                    && (!r.delivered || !r.warnings.empty()
                        || ::access((s(m_mailbox) + '/' + r.record).c_str(), F_OK) != 0))
                    failure = 3;
            }
            ::_exit(failure);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = -1;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    // Each kept once, and of each sender its newest ones, with no gap: what pruning took
    // were always the oldest.
    const QStringList remaining = entriesIn(m_mailbox);
    QVERIFY2(remaining.size() >= 900 && remaining.size() <= 1000, qPrintable(QString::number(remaining.size())));
    QSet<QString> texts;
    std::vector<int> first(kChildren, kEach);
    for (const QString &name : remaining) {
        QVERIFY2(Record::isRecordName(s(name)), qPrintable(name));
        const auto m = Record::parse(readFile(m_mailbox + QLatin1Char('/') + name).toStdString());
        QVERIFY(m);
        const QStringList parts = QString::fromStdString(m->text).split(QLatin1Char(' '));
        QCOMPARE(parts.size(), 2);
        QVERIFY2(!texts.contains(QString::fromStdString(m->text)), m->text.c_str());
        texts.insert(QString::fromStdString(m->text));
        const int h = parts[0].toInt();
        first[size_t(h)] = std::min(first[size_t(h)], parts[1].toInt());
    }
    int expectedCount = 0;
    for (int h = 0; h < kChildren; ++h)
        expectedCount += kEach - first[size_t(h)];
    QCOMPARE(int(texts.size()), expectedCount);
}

void tst_Delivery::mailboxIsSafeOnlyWhenTheFoldersAboveAre_data()
{
    // The folders above the mailbox, from the test's own folder down: mode and owner of each.
    QTest::addColumn<QList<uint>>("modes");
    QTest::addColumn<uint>("owner");
    QTest::addColumn<bool>("safe");
    QTest::newRow("protected") << QList<uint> { 0755, 0700 } << 0u << true;
    QTest::newRow("/tmp further up") << QList<uint> { 01777, 0755 } << 0u << true;
    QTest::newRow("parent open to all, sticky") << QList<uint> { 0755, 01777 } << 0u << false;
    QTest::newRow("parent open to all") << QList<uint> { 0755, 0777 } << 0u << false;
    QTest::newRow("grandparent open to all, not sticky") << QList<uint> { 0777, 0755 } << 0u << false;
    QTest::newRow("parent writable by the group") << QList<uint> { 0755, 0775 } << 0u << false;
    QTest::newRow("parent of another user") << QList<uint> { 0755, 0755 } << 65534u << false;
}

void tst_Delivery::mailboxIsSafeOnlyWhenTheFoldersAboveAre()
{
    QFETCH(QList<uint>, modes);
    QFETCH(uint, owner);
    QFETCH(bool, safe);
    if (owner != 0 && ::geteuid() != 0)
        QSKIP("needs root: the folder is given to another user");
    QString path = m_mailbox;
    for (const uint mode : modes) {
        path += QStringLiteral("/c");
        QVERIFY(QDir().mkpath(path));
        QVERIFY(setMode(path, mode));
    }
    if (owner != 0)
        QCOMPARE(::chown(QFile::encodeName(path).constData(), owner, owner), 0);
    // The test's own folders belong to whoever runs it.
    const uid_t me = ::geteuid();
    const std::string mailbox = s(path + QStringLiteral("/buzon"));
    const std::string problem = SafeFolder::problem(mailbox, me);
    QVERIFY2(problem.empty() == safe, problem.c_str());
    // Through a link, the folders it leads to count.
    const QString linkPath = m_mailbox + QStringLiteral("/enlace");
    QVERIFY(QFile::link(path, linkPath));
    QCOMPARE(SafeFolder::problem(s(linkPath + QStringLiteral("/buzon")), me).empty(), safe);
    // The owner itself may own them all.
    if (owner != 0)
        QVERIFY(SafeFolder::problem(mailbox, owner).empty());

    // The test's own folders are safe (the temporary folder is only in /tmp); the default
    // mailbox is; relative paths are not.
    QVERIFY2(SafeFolder::problem(s(m_mailbox + QStringLiteral("/buzon")), me).empty(), "test folder");
    QVERIFY(SafeFolder::problem(Delivery::kDefaultMailbox, 0).empty());
    QVERIFY(!SafeFolder::problem("buzon", 0).empty());
    QVERIFY(!SafeFolder::problem("/tmp/buzon", 0).empty());
}

void tst_Delivery::whatIsNotDeliveredIsReportedAndRemoved_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<QStringList>("said");
    QTest::newRow("mailbox does not exist") << "no-mailbox" << true << QStringList { "no se puede abrir el buzón" };
    QTest::newRow("mailbox in a folder open to all")
        << "open-to-all" << true << QStringList { "se rechaza el buzón", "(permisos 1777)" };
    QTest::newRow("disk full") << "full" << true << QStringList { "no se puede guardar el mensaje de ana" };
    QTest::newRow("link in place of the message")
        << "link" << false << QStringList { "no se puede leer", "no se borra", "enlace simbólico" };
    QTest::newRow("message of another user")
        << "foreign" << false << QStringList { "no se puede abrir el buzón", "no se borra", "es del usuario 65534" };
}

void tst_Delivery::whatIsNotDeliveredIsReportedAndRemoved()
{
    // The real velrisa-recibe, as smbd runs it: what it cannot deliver it says (where the
    // message was and why), then removes, so that smbd's folder does not fill up; but only
    // a regular file of its own.
    QFETCH(QString, scenario);
    QFETCH(bool, removed);
    QFETCH(QStringList, said);
    if (scenario == QLatin1String("foreign") && ::geteuid() != 0)
        QSKIP("needs root: the message file is given to another user");
    const QString victim = m_root.filePath(QStringLiteral("victima"));
    QVERIFY(writeFile(victim, "intacto"));
    QString file = messageFile(QByteArray(1000, 'z'));
    QString mailbox = m_mailbox;
    QProcess receiver;
    if (scenario == QLatin1String("no-mailbox") || scenario == QLatin1String("foreign"))
        mailbox = m_mailbox + QStringLiteral("/no-existe");
    if (scenario == QLatin1String("foreign"))
        QCOMPARE(::chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
    if (scenario == QLatin1String("open-to-all")) {
        QVERIFY(setMode(m_mailbox, 01777));
        mailbox = m_mailbox + QStringLiteral("/buzon");
        QVERIFY(QDir().mkpath(mailbox));
    }
    if (scenario == QLatin1String("link")) {
        QVERIFY(QFile::remove(file));
        QVERIFY(QFile::link(victim, file));
    }
    if (scenario == QLatin1String("full")) {
        receiver.setChildProcessModifier([] {
            ::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = { 100, 100 };
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    receiver.start(QStringLiteral(RECEIVER_BINARY), { QStringLiteral("--buzon=") + mailbox, "ana", "oficina1", file });
    QVERIFY(receiver.waitForFinished(10000));
    QCOMPARE(receiver.exitCode(), 1);
    const QString error = QString::fromUtf8(receiver.readAllStandardError());
    QVERIFY2(error.contains(file), qPrintable(error));
    for (const QString &part : said)
        QVERIFY2(error.contains(part), qPrintable(error));
    QCOMPARE(error.contains(QStringLiteral("velrisa-recibe: se borra ") + file), removed);
    QCOMPARE(QFileInfo(file).exists() || QFileInfo(file).isSymLink(), !removed);
    QCOMPARE(readFile(victim), QByteArray("intacto"));
    QVERIFY(entriesIn(mailbox).isEmpty());
}

// Every reader of the mailbox lists it through the one open folder, more than once, and gives up
// past its bound rather than read a folder that is no mailbox any more.
void tst_Delivery::folderListingStopsAtItsBoundAndStartsOverEachTime()
{
    const QString dir = newFolder(m_root.path());
    for (const char *name : { "a", "b", "c" })
        QVERIFY(writeFile(dir + QLatin1String(name), "x"));
    const Descriptor folder = Folder::open(s(dir));
    QVERIFY(folder.isOpen());
    QStringList seen;
    const auto visit = [&](const char *name) { seen << QString::fromLatin1(name); };
    // Five entries with "." and "..": all of them, twice over, and the bound cuts the sixth.
    QCOMPARE(Folder::forEachEntry(folder.get(), 5, visit), Folder::Listing::Whole);
    QCOMPARE(Folder::forEachEntry(folder.get(), 5, visit), Folder::Listing::Whole);
    QCOMPARE(seen.size(), 10);
    QCOMPARE(QSet<QString>(seen.begin(), seen.end()), (QSet<QString> { ".", "..", "a", "b", "c" }));
    seen.clear();
    QCOMPARE(Folder::forEachEntry(folder.get(), 4, visit), Folder::Listing::Cut);
    QCOMPARE(seen.size(), 4);
    const Descriptor file(::open(QFile::encodeName(dir + QStringLiteral("a")).constData(), O_RDONLY | O_CLOEXEC));
    QCOMPARE(Folder::forEachEntry(file.get(), 5, visit), Folder::Listing::Unreadable);
    QCOMPARE(seen.size(), 4);
}

QTEST_GUILESS_MAIN(tst_Delivery)
#include "tst_Delivery.moc"
