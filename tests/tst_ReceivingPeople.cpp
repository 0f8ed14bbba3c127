#include "net/DisplayWindows.h"
#include "net/PrivateNetwork.h"
#include "net/SambaHost.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534; // Samba's guest account, nobody:nogroup

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool prepareDir(const QString &path, uid_t uid, gid_t gid, mode_t mode)
{
    const QByteArray r = QFile::encodeName(path);
    return QDir().mkpath(path) && ::chown(r.constData(), uid, gid) == 0 && ::chmod(r.constData(), mode) == 0;
}

} // namespace

// An office as it works: one computer that two people use at once, each on a display of their
// own, and a second computer that writes to them, each in a network namespace of the test's
// own with real Samba. A message to one person's name pops up for that person alone (the other
// cannot even list it), one to the computer for both, and "&Responder" reaches the sender's
// Velrisa on the other computer: that person alone where the other computer has a name for
// the sender, the other computer as a whole where it has none.
class tst_ReceivingPeople : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void eachPersonSeesTheirOwnAndTheReplyReachesTheSender();

private:
    struct Person
    {
        QString user;
        uid_t uid = 0;
        QString display; // ":N"
        std::unique_ptr<QProcess> xvfb;
        std::unique_ptr<QProcess> velrisa;
        QStringList velrisaArguments; // for `ip`: Velrisa on the receiving computer, as this person
    };

    static bool startVelrisa(Person &p);

    QByteArray xdotool(const Person &p, const QStringList &args, int *exitCode = nullptr) const;
    QStringList windowsTitled(const Person &p, const QString &title) const;
    int runAsUser(const QString &user, const QStringList &command) const;
    bool sendFromTheOtherComputer(const QString &target, const QString &text, const QString &sender);
    QJsonArray senderHistory() const;
    // Answers "&Responder" in the person's one pop-up with text; the reply as the sender's
    // Velrisa received it, empty when it did not.
    QJsonObject replyFromPopUp(const Person &p, const QString &text);

    QTemporaryDir m_root;
    std::unique_ptr<PrivateNetwork> m_network;
    std::unique_ptr<SambaHost> m_receiving;
    std::unique_ptr<SambaHost> m_sender;
    QString m_mailbox;
    QString m_senderClientConf;
    QString m_senderMailbox;
    QString m_receivingClientConf;
    Person m_people[2];
    std::unique_ptr<QProcess> m_senderVelrisa; // Velrisa of the sender, offscreen on the other computer
};

void tst_ReceivingPeople::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root: it creates users, network namespaces and runs smbd on port 139");
    for (const char *tool : { "smbd", "smbclient", "Xvfb", "xdotool", "useradd", "userdel", "runuser" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool),
                { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin") })
                .isEmpty())
            QSKIP(qPrintable(
                QStringLiteral("%1 is not installed (scripts/deps.sh installs it)").arg(QLatin1String(tool))));
    }
    if (!PrivateNetwork::toolsPresent())
        QSKIP("ip or nmbd is not installed");
    QVERIFY(m_root.isValid());
    QCOMPARE(::chmod(QFile::encodeName(m_root.path()).constData(), 0755), 0);

    // Names and addresses of this process alone.
    const int pid = int(::getpid());
    m_network = std::make_unique<PrivateNetwork>(
        QStringLiteral("vpe%1").arg(pid), QStringLiteral("10.234.%1").arg(pid % 250 + 1));
    if (!m_network->create(2)) {
        if (m_network->cannotHere())
            QSKIP(qPrintable(QStringLiteral("cannot make network namespaces here: %1").arg(m_network->why())));
        QFAIL(qPrintable(m_network->why()));
    }

    // Two people of the receiving computer; removed in cleanupTestCase.
    for (int i = 0; i < 2; ++i) {
        Person &p = m_people[i];
        p.user = QStringLiteral("vp%1%2").arg(QChar(u'a' + i)).arg(pid);
        int exitCode = -1;
        SambaHost::run(
            QString(), QStringLiteral("useradd"), { "-M", "-N", "-s", "/usr/sbin/nologin", p.user }, &exitCode);
        if (exitCode != 0)
            QSKIP(qPrintable(QStringLiteral("useradd cannot create the test's users here (exit %1)").arg(exitCode)));
        const passwd *pw = ::getpwnam(p.user.toLocal8Bit().constData());
        QVERIFY(pw);
        p.uid = pw->pw_uid;
    }

    // The mailbox as recepcion.sh lays it out: the guest's, and in it one folder per person.
    m_mailbox = m_root.filePath(QStringLiteral("buzon"));
    QVERIFY(prepareDir(m_mailbox, kNobody, kNobody, 0755));
    QByteArray list = "# names that are one person's\n";
    for (const Person &p : m_people) {
        QVERIFY(prepareDir(m_mailbox + QLatin1Char('/') + p.user, p.uid, kNobody, 02770));
        list += p.user.toLatin1() + ' ' + p.user.toLatin1() + '\n';
    }
    const QString usersFile = m_root.filePath(QStringLiteral("velrisa-usuarios"));
    QVERIFY(writeBytes(usersFile, list));
    QCOMPARE(::chmod(QFile::encodeName(usersFile).constData(), 0644), 0);

    const QString receivingDir = m_root.filePath(QStringLiteral("recibe"));
    QVERIFY(prepareDir(receivingDir, 0, 0, 0755));
    SambaHost::Settings receivingSettings = SambaHost::receiving(QStringLiteral("RECIBE"), QStringLiteral("OFICINA"),
        m_network->address(0), QStringLiteral(RECEIVER_BINARY), m_mailbox);
    receivingSettings.interfaces = m_network->address(0) + QStringLiteral("/24");
    receivingSettings.netns = m_network->member(0);
    receivingSettings.messageCommand
        = QStringLiteral("%1 --buzon=%2 --usuarios=%3 '--equipo=%m' '--direccion=%I' '%f' '%L' '%s'")
              .arg(QStringLiteral(RECEIVER_BINARY), m_mailbox, usersFile);
    m_receiving = std::make_unique<SambaHost>(receivingDir, receivingSettings);
    QVERIFY2(m_receiving->start(), qPrintable(m_receiving->error()));

    // The other computer: JEFA is the name of its own of the person there (root, who runs its
    // Velrisa); everything else to it goes to its shared mailbox. Its nmbd answers for its names.
    const QString senderMailbox = m_root.filePath(QStringLiteral("buzon-emisor"));
    m_senderMailbox = senderMailbox;
    QVERIFY(prepareDir(senderMailbox, kNobody, kNobody, 0755));
    QVERIFY(prepareDir(senderMailbox + QStringLiteral("/root"), 0, kNobody, 02770));
    const QString senderUsers = m_root.filePath(QStringLiteral("emisor-usuarios"));
    QVERIFY(writeBytes(senderUsers, "jefa root\n"));
    QCOMPARE(::chmod(QFile::encodeName(senderUsers).constData(), 0644), 0);
    const QString senderDir = m_root.filePath(QStringLiteral("emisor"));
    QVERIFY(prepareDir(senderDir, 0, 0, 0755));
    SambaHost::Settings senderSettings = SambaHost::receiving(QStringLiteral("EMISOR"), QStringLiteral("OFICINA"),
        m_network->address(1), QStringLiteral(RECEIVER_BINARY), senderMailbox);
    senderSettings.interfaces = m_network->address(1) + QStringLiteral("/24");
    senderSettings.netns = m_network->member(1);
    senderSettings.nameService = true;
    senderSettings.extraGlobal = QStringLiteral("netbios aliases = JEFA\n");
    senderSettings.messageCommand
        = QStringLiteral("%1 --buzon=%2 --usuarios=%3 '--equipo=%m' '--direccion=%I' '%f' '%L' '%s'")
              .arg(QStringLiteral(RECEIVER_BINARY), senderMailbox, senderUsers);
    m_sender = std::make_unique<SambaHost>(senderDir, senderSettings);
    QVERIFY2(m_sender->start(), qPrintable(m_sender->error()));
    m_senderClientConf = SambaHost::writeClientConfig(
        m_root.filePath(QStringLiteral("cliente-emisor")), m_network->address(1) + QStringLiteral("/24"), "OFICINA");
    // Its smbclient calls itself by the computer's name, as on a computer of its own.
    QFile senderClient(m_senderClientConf);
    QVERIFY(senderClient.open(QIODevice::Append));
    QVERIFY(senderClient.write("netbios name = EMISOR\n") > 0);
    senderClient.close();

    // The receiving computer's program folder: its net reaches the sender's name at that computer.
    const QString programDir = m_root.filePath(QStringLiteral("programa"));
    QVERIFY(prepareDir(programDir, 0, 0, 0755));
    QVERIFY(QFile::copy(QStringLiteral(NET_BINARY), programDir + QStringLiteral("/net")));
    QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINARY), programDir + QStringLiteral("/velrisa")));
    const QString clientDir = m_root.filePath(QStringLiteral("cliente-recibe"));
    const QString clientConf = SambaHost::writeClientConfig(
        clientDir, m_network->address(0) + QStringLiteral("/24"), QStringLiteral("OFICINA"));
    m_receivingClientConf = clientConf;
    // Each person's smbclient keeps its state there.
    QCOMPARE(::chmod(QFile::encodeName(clientDir).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(clientDir + QStringLiteral("/client")).constData(), 01777), 0);
    QVERIFY(writeBytes(programDir + QStringLiteral("/net.ini"),
        "[Equipos]\nJEFA=" + m_network->address(1).toLatin1() + "\nEMISOR=" + m_network->address(1).toLatin1()
            + "\n[Opciones]\nConfiguracion=" + clientConf.toUtf8() + "\nEspera=10\n"));

    // Each person on a display of their own, running Velrisa inside the receiving computer.
    for (Person &p : m_people) {
        // Xvfb picks a free display itself and says which: no other server can take it between
        // a look and the start. Without -noreset it resets when its last client leaves (the
        // probe below), and refuses a connection that comes during the reset.
        p.xvfb = std::make_unique<QProcess>();
        p.xvfb->start(QStringLiteral("Xvfb"),
            { "-displayfd", "1", "-noreset", "-ac", "-nolisten", "tcp", "-screen", "0", "1024x768x24" });
        QVERIFY(p.xvfb->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(p.xvfb->canReadLine(), 10000);
        p.display = QLatin1Char(':') + QString::fromLatin1(p.xvfb->readLine()).trimmed();

        const QString home = m_root.filePath(p.user);
        QVERIFY(prepareDir(home, p.uid, kNobody, 0700));
        for (const char *sub : { "run", "config", "data" })
            QVERIFY(prepareDir(home + QLatin1Char('/') + QLatin1String(sub), p.uid, kNobody, 0700));
        // The display must take a connection from where Velrisa will run (that computer's
        // network, the person's account) before Velrisa starts on it; what refuses is said.
        QByteArray probe;
        int exitCode = -1;
        for (int attempt = 0; attempt < 40 && exitCode != 0; ++attempt) {
            if (attempt > 0)
                QTest::qWait(250);
            probe = SambaHost::run(m_network->member(0), QStringLiteral("runuser"),
                { "-u", p.user, "--", "env", "DISPLAY=" + p.display, "xdotool", "getdisplaygeometry" }, &exitCode,
                10000);
        }
        QVERIFY2(exitCode == 0, probe.constData());
        p.velrisaArguments = { "netns", "exec", m_network->member(0), "runuser", "-u", p.user, "--", "env",
            "DISPLAY=" + p.display, "HOME=" + home, "XDG_RUNTIME_DIR=" + home + "/run",
            "XDG_CONFIG_HOME=" + home + "/config", "XDG_DATA_HOME=" + home + "/data", "VELRISA_BUZON=" + m_mailbox,
            "QT_QPA_PLATFORM=xcb", "LANG=C.UTF-8", programDir + QStringLiteral("/velrisa") };
        QVERIFY(startVelrisa(p));
    }

    // The sender's own Velrisa, on the other computer (offscreen: only its history is looked at).
    const QString home = m_root.filePath(QStringLiteral("remitente"));
    for (const char *sub : { "run", "config", "data" })
        QVERIFY(prepareDir(home + QLatin1Char('/') + QLatin1String(sub), 0, 0, 0700));
    m_senderVelrisa = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("VELRISA_BUZON"), senderMailbox);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_senderVelrisa->setProcessEnvironment(env);
    m_senderVelrisa->setProcessChannelMode(QProcess::ForwardedChannels);
    m_senderVelrisa->start(programDir + QStringLiteral("/velrisa"), {});
    QVERIFY(m_senderVelrisa->waitForStarted());

    // Everybody up: each person's main window is there, the sender's history written.
    // Now and then (about once in ten runs under the sanitizers, with other X servers starting
    // beside it) Velrisa finds the display refusing its connection although the probe above
    // was just let in, and Qt ends the program. That is the test machine's display, not
    // receiving: the person's Velrisa is started again, at most twice, and each retry is said.
    for (Person &p : m_people) {
        for (int start = 1;; ++start) {
            QDeadlineTimer up(15000);
            while (windowsTitled(p, QStringLiteral("elrisa")).isEmpty() && !up.hasExpired()
                && p.velrisa->state() != QProcess::NotRunning)
                QTest::qWait(100);
            if (!windowsTitled(p, QStringLiteral("elrisa")).isEmpty())
                break;
            QVERIFY2(p.velrisa->state() == QProcess::NotRunning && start < 3,
                qPrintable(p.user + QStringLiteral("'s Velrisa shows no main window")));
            qWarning("%s's Velrisa ended (exit %d) before showing its window: started again", qPrintable(p.user),
                p.velrisa->exitCode());
            QVERIFY(startVelrisa(p));
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home + QStringLiteral("/data/velrisa/recibidos.json")), 15000);
}

void tst_ReceivingPeople::cleanupTestCase()
{
    std::vector<QProcess *> processes { m_senderVelrisa.get() };
    for (Person &p : m_people)
        processes.push_back(p.velrisa.get());
    for (QProcess *p : processes) {
        if (p && p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished(2000);
            }
        }
    }
    for (Person &p : m_people) {
        // Whatever still runs as a user this test made was started by this test.
        if (p.uid != 0) {
            for (const QString &e : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                struct stat st = {};
                bool numeric = false;
                const int pid = e.toInt(&numeric);
                if (numeric && ::stat(QFile::encodeName(QStringLiteral("/proc/") + e).constData(), &st) == 0
                    && st.st_uid == p.uid)
                    ::kill(pid, SIGKILL);
            }
        }
        if (p.xvfb) {
            p.xvfb->terminate();
            p.xvfb->waitForFinished(5000);
        }
        if (!p.user.isEmpty() && p.uid != 0)
            SambaHost::run(QString(), QStringLiteral("userdel"), { p.user });
    }
    m_receiving.reset();
    m_sender.reset();
    m_network.reset();
}

QByteArray tst_ReceivingPeople::xdotool(const Person &p, const QStringList &args, int *exitCode) const
{
    return SambaHost::run(
        QString(), QStringLiteral("env"), QStringList { "DISPLAY=" + p.display, "xdotool" } + args, exitCode, 10000)
        .trimmed();
}

bool tst_ReceivingPeople::startVelrisa(Person &p)
{
    p.velrisa = std::make_unique<QProcess>();
    p.velrisa->setProcessChannelMode(QProcess::ForwardedChannels);
    p.velrisa->start(QStringLiteral("ip"), p.velrisaArguments);
    return p.velrisa->waitForStarted();
}

QStringList tst_ReceivingPeople::windowsTitled(const Person &p, const QString &title) const
{
    return DisplayWindows::search({ "--onlyvisible", "--name", title }, p.display);
}

int tst_ReceivingPeople::runAsUser(const QString &user, const QStringList &command) const
{
    int exitCode = -1;
    SambaHost::run(QString(), QStringLiteral("runuser"), QStringList { "-u", user, "--" } + command, &exitCode);
    return exitCode;
}

// From the other computer, as sender, with Samba's own client.
bool tst_ReceivingPeople::sendFromTheOtherComputer(const QString &target, const QString &text, const QString &sender)
{
    QProcess smbclient;
    smbclient.setProcessChannelMode(QProcess::MergedChannels);
    smbclient.start(QStringLiteral("ip"),
        { "netns", "exec", m_network->member(1), "smbclient", "-s", m_senderClientConf, "-M", target, "-I",
            m_network->address(0), "-p", "139", "-N", "-U", sender });
    if (!smbclient.waitForStarted())
        return false;
    smbclient.write(text.toUtf8());
    smbclient.closeWriteChannel();
    if (!smbclient.waitForFinished(30000))
        return false;
    const QByteArray output = smbclient.readAll();
    if (smbclient.exitCode() != 0 || output.contains("cli_message returned")) {
        qWarning("smbclient: %s", output.constData());
        return false;
    }
    return true;
}

QJsonArray tst_ReceivingPeople::senderHistory() const
{
    // The history file, and the messages its journal added since it was written whole.
    QJsonArray messages;
    QFile f(m_root.filePath(QStringLiteral("remitente/data/velrisa/recibidos.json")));
    if (f.open(QIODevice::ReadOnly))
        messages = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("mensajes")).toArray();
    QFile journal(m_root.filePath(QStringLiteral("remitente/data/velrisa/recibidos.diario")));
    if (journal.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : journal.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.contains(QStringLiteral("texto")))
                messages.append(o);
        }
    }
    return messages;
}

void tst_ReceivingPeople::eachPersonSeesTheirOwnAndTheReplyReachesTheSender()
{
    const QString popUpTitle = QStringLiteral("^Mensaje recibido$");
    Person &a = m_people[0];
    Person &b = m_people[1];

    // To each person's name: a pop-up for that person, none for the other.
    for (int i = 0; i < 2; ++i) {
        const Person &p = m_people[i];
        const Person &other = m_people[1 - i];
        // smbclient sends the called name as typed; smbd hands it over in lower case.
        QVERIFY(sendFromTheOtherComputer(
            p.user.toUpper(), QStringLiteral("solo para %1").arg(p.user), QStringLiteral("jefa")));
        QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(p, popUpTitle).size(), 1, 5000);
        const QStringList records
            = QDir(m_mailbox + QLatin1Char('/') + p.user).entryList({ QStringLiteral("m*") }, QDir::Files);
        QCOMPARE(records.size(), 1);
        // The person reads it; the other one can neither list the folder nor open the record.
        QCOMPARE(runAsUser(p.user, { "ls", m_mailbox + QLatin1Char('/') + p.user }), 0);
        QVERIFY(runAsUser(other.user, { "ls", m_mailbox + QLatin1Char('/') + p.user }) != 0);
        QVERIFY(
            runAsUser(other.user, { "cat", m_mailbox + QLatin1Char('/') + p.user + QLatin1Char('/') + records.first() })
            != 0);
    }
    QTest::qWait(1000);
    QCOMPARE(windowsTitled(a, popUpTitle).size(), 1);
    QCOMPARE(windowsTitled(b, popUpTitle).size(), 1);

    // The other computer names its messenger names once nmbd has registered them.
    QElapsedTimer registering;
    registering.start();
    QByteArray names;
    while (registering.elapsed() < 30000) {
        names = SambaHost::run(m_network->member(0), QStringLiteral("nmblookup"),
            { "-s", m_receivingClientConf, "-A", m_network->address(1) }, nullptr, 10000);
        int active = 0;
        for (const QByteArray &line : names.split('\n'))
            active += line.contains("<03>") && line.contains("<ACTIVE>") && !line.contains("<GROUP>");
        if (active >= 2)
            break;
        QTest::qWait(250);
    }
    QVERIFY2(names.contains("JEFA"), names.constData());

    // JEFA is a name of that computer's for its person: the reply reaches her alone, in her
    // own folder of that computer's mailbox.
    const QStringList records = QDir(m_senderMailbox).entryList({ QStringLiteral("m*") }, QDir::Files);
    const QJsonObject toPerson = replyFromPopUp(a, QStringLiteral("de acuerdo"));
    QVERIFY2(!toPerson.isEmpty(), "the reply did not reach the sender's Velrisa");
    QCOMPARE(toPerson[QStringLiteral("para")].toString(), QStringLiteral("jefa"));
    QCOMPARE(toPerson[QStringLiteral("de")].toString(), a.user);
    QCOMPARE(toPerson[QStringLiteral("direccion")].toString(), m_network->address(0));
    QCOMPARE(
        QDir(m_senderMailbox + QStringLiteral("/root")).entryList({ QStringLiteral("m*") }, QDir::Files).size(), 1);
    QCOMPARE(QDir(m_senderMailbox).entryList({ QStringLiteral("m*") }, QDir::Files), records);

    // Pedro has no name of his own there: the reply goes to the computer, for all its people.
    QVERIFY(sendFromTheOtherComputer(a.user, QStringLiteral("¿y tú?"), QStringLiteral("pedro")));
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(a, popUpTitle).size(), 1, 5000);
    const QJsonObject toComputer = replyFromPopUp(a, QStringLiteral("vale, pedro"));
    QVERIFY2(!toComputer.isEmpty(), "the reply did not reach the sender's computer");
    QCOMPARE(toComputer[QStringLiteral("para")].toString().toUpper(), QStringLiteral("EMISOR"));
    QCOMPARE(QDir(m_senderMailbox).entryList({ QStringLiteral("m*") }, QDir::Files).size(), records.size() + 1);

    // To the computer: a pop-up for each person.
    QVERIFY(sendFromTheOtherComputer(QStringLiteral("RECIBE"), QStringLiteral("para todos"), QStringLiteral("jefa")));
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(a, popUpTitle).size(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(b, popUpTitle).size(), 2, 5000);
}

QJsonObject tst_ReceivingPeople::replyFromPopUp(const Person &p, const QString &text)
{
    // "&Responder" in the person's pop-up: it closes once the sender's computer has said whom
    // to write to, and the main window has the recipient; the reply is typed over whatever
    // the message box holds, and sent.
    const QString popUpTitle = QStringLiteral("^Mensaje recibido$");
    const QStringList popUps = windowsTitled(p, popUpTitle);
    if (popUps.size() != 1)
        return {};
    xdotool(p, { "windowfocus", "--sync", popUps.first() });
    xdotool(p, { "key", "--window", popUps.first(), "alt+r" });
    QDeadlineTimer closed(5000);
    while (!windowsTitled(p, popUpTitle).isEmpty() && !closed.hasExpired())
        QTest::qWait(50);
    const QStringList mainWindows = windowsTitled(p, QStringLiteral("elrisa"));
    if (!windowsTitled(p, popUpTitle).isEmpty() || mainWindows.isEmpty())
        return {};
    xdotool(p, { "windowfocus", "--sync", mainWindows.first() });
    xdotool(p, { "key", "ctrl+a" });
    xdotool(p, { "type", "--delay", "20", text });
    xdotool(p, { "key", "Return" });
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        for (const QJsonValue &v : senderHistory()) {
            if (v[QStringLiteral("texto")].toString() == text)
                return v.toObject();
        }
        QTest::qWait(100);
    }
    return {};
}

QTEST_GUILESS_MAIN(tst_ReceivingPeople)
#include "tst_ReceivingPeople.moc"
