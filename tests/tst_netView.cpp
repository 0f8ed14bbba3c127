#include "fakes/TestSupport.h"
#include "net/PrivateNetwork.h"
#include "net/SambaHost.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

// The real net view on a network of its own: namespaces this test creates, with smbd and
// nmbd members of three workgroups, each group with its master browser. The tools get
// the test's own client configuration (the hub's bridge only) and its broadcast address.
class tst_netView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void viewFindsTheMembersAndTheWorkgroups();

private:
    QTemporaryDir m_root;
};

void tst_netView::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY(TestSupport::prepareEnvironment(m_root.path()));
    if (::geteuid() != 0)
        QSKIP("needs root: smbd and nmbd serve on their own ports inside network namespaces");
    if (QStandardPaths::findExecutable(QStringLiteral("smbd"), { QStringLiteral("/usr/sbin") }).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("smbclient")).isEmpty() || !PrivateNetwork::toolsPresent())
        QSKIP("needs samba, smbclient and iproute2");
    QVERIFY(QFile::setPermissions(m_root.path(), QFileDevice::Permissions(0x7755)));
}

void tst_netView::viewFindsTheMembersAndTheWorkgroups()
{
    PrivateNetwork network(QStringLiteral("vvw%1").arg(::getpid()), QStringLiteral("10.232.0"));
    if (!network.create(4) && network.cannotHere())
        QSKIP(qPrintable(QStringLiteral("cannot make network namespaces here: %1").arg(network.why())));
    QVERIFY2(network.why().isEmpty(), qPrintable(network.why()));

    // VENTAS: MIEMBRO1 (its master browser) and MIEMBRO2; COMPRAS: CAJA1; DISEÑO:
    // DISEÑO1, whose name nmblookup cannot show whole, so only its browse list names it.
    struct Member
    {
        const char *name;
        const char *group;
        bool master;
    };
    const Member members[] = { { "MIEMBRO1", "VENTAS", true }, { "MIEMBRO2", "VENTAS", false },
        { "CAJA1", "COMPRAS", true }, { "DISEÑO1", "DISEÑO", true } };
    std::vector<std::unique_ptr<SambaHost>> hosts;
    for (int i = 0; i < 4; ++i) {
        SambaHost::Settings s;
        s.netbiosName = QString::fromUtf8(members[i].name);
        s.workgroup = QString::fromUtf8(members[i].group);
        s.address = network.address(i);
        s.interfaces = s.address + QStringLiteral("/24");
        s.netns = network.member(i);
        s.nameService = true;
        s.extraGlobal = members[i].master
            ? QStringLiteral("local master = yes\npreferred master = yes\nos level = 65\n")
            : QStringLiteral("local master = no\n");
        const QString dir = m_root.filePath(s.netns);
        QVERIFY(QDir().mkpath(dir));
        hosts.push_back(std::make_unique<SambaHost>(dir, s));
        QVERIFY2(hosts.back()->start(), qPrintable(hosts.back()->error()));
    }

    const QString program = m_root.filePath(QStringLiteral("programa"));
    QVERIFY(QDir().mkpath(program));
    QVERIFY(QFile::copy(QStringLiteral(NET_BINARY), program + QStringLiteral("/net")));
    const QString conf = SambaHost::writeClientConfig(m_root.path(), QStringLiteral("br0"), QStringLiteral("VENTAS"));
    QFile ini(program + QStringLiteral("/net.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(
        "[Opciones]\nConfiguracion=" + conf.toUtf8() + "\nDifusion=" + network.broadcast().toUtf8() + "\nEspera=5\n");
    ini.close();

    // nmbd needs some seconds to claim its names and to win its group's election, and the
    // master browser to put itself on its list: wait for each, through the tools alone.
    const QStringList common { "--configfile=" + conf, QStringLiteral("--option=unix charset=UTF-8") };
    const auto ask = [&](const QString &tool, const QStringList &arguments) {
        return QString::fromUtf8(SambaHost::run(network.hub(), tool, common + arguments));
    };
    QString masters, salesMembers, list, accentedGroup;
    const QDeadlineTimer deadline(120000);
    while (!deadline.hasExpired()) {
        masters = ask(QStringLiteral("nmblookup"), { "--broadcast=" + network.broadcast(), "-M", "--", "-" });
        salesMembers = ask(QStringLiteral("nmblookup"), { "--broadcast=" + network.broadcast(), "--", "VENTAS" });
        list = ask(QStringLiteral("smbclient"),
            { QStringLiteral("--option=client min protocol=NT1"), QStringLiteral("--option=client use spnego=no"),
                "--list=" + network.address(3), QStringLiteral("--grepable"), QStringLiteral("--no-pass") });
        accentedGroup
            = ask(QStringLiteral("nmblookup"), { "--broadcast=" + network.broadcast(), "-M", "--", "DISEÑO" });
        for (const auto &host : hosts)
            QVERIFY2(host->ended().isEmpty(), qPrintable(host->ended()));
        if (masters.count(QStringLiteral("<01>")) == 3 && salesMembers.count(QStringLiteral("VENTAS<00>")) == 2
            && list.contains(QStringLiteral("Server|DISEÑO1|")) && accentedGroup.contains(QStringLiteral("DISEÑO<1d>")))
            break;
        QTest::qWait(1000);
    }
    QVERIFY2(!deadline.hasExpired(), qPrintable(masters + salesMembers + list + accentedGroup));

    // Its warnings go with any failure.
    const auto view = [&](const QStringList &arguments, QStringList *lines) {
        QProcess net;
        net.start(QStringLiteral("ip"),
            QStringList {
                QStringLiteral("netns"), QStringLiteral("exec"), network.hub(), program + QStringLiteral("/net") }
                + arguments);
        if (!net.waitForFinished(60000))
            return -1;
        *lines = QString::fromUtf8(net.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QString warnings = QString::fromUtf8(net.readAllStandardError());
        if (!warnings.isEmpty())
            qInfo("net %s:\n%s", qPrintable(arguments.join(QLatin1Char(' '))), qPrintable(warnings));
        return net.exitStatus() == QProcess::NormalExit ? net.exitCode() : -1;
    };
    QStringList out;
    QCOMPARE(view({ QStringLiteral("view") }, &out), 0);
    QCOMPARE(out, QStringList({ "Equipos del grupo VENTAS:", "MIEMBRO1", "MIEMBRO2" }));
    QCOMPARE(view({ QStringLiteral("view"), QStringLiteral("/domain:COMPRAS") }, &out), 0);
    QCOMPARE(out, QStringList({ "Equipos del grupo COMPRAS:", "CAJA1" }));
    QCOMPARE(view({ QStringLiteral("view"), QStringLiteral("/domain:DISEÑO") }, &out), 0);
    QCOMPARE(out, QStringList({ "Equipos del grupo DISEÑO:", "DISEÑO1" }));
    QCOMPARE(view({ QStringLiteral("view"), QStringLiteral("/domain") }, &out), 0);
    QCOMPARE(out, QStringList({ "Grupos de trabajo y dominios:", "COMPRAS", "DISEÑO", "VENTAS" }));
    QCOMPARE(view({ QStringLiteral("view"), QStringLiteral("/domain:NADIE") }, &out), 0);
    QCOMPARE(out, QStringList { "No se ha encontrado ningún equipo del grupo NADIE." });

    hosts.clear(); // the daemons stop before their namespaces go
}

QTEST_GUILESS_MAIN(tst_netView)
#include "tst_netView.moc"
