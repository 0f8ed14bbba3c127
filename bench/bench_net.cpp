// Figures of the `net` command.
// 1. Group sends against fake Samba tools (any user): 20 members whose smbclient takes
//    100 ms, against one member and against the same 20 fakes started at once by sh
//    alone (what this machine allows at best); and 5 of the 20 never answering with Espera=2.
// 2. One delivery through `net` against `smbclient -M` alone, to the same smbd on
//    loopback; median of 20 each. Needs root (smbd on port 139) and Samba installed.
// Usage: bench_net [NET]   (NET: another build of the command, to compare two builds)
#include "Medidas.h"
#include "net/SambaHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace {

double runOnce(const QString &program, const QStringList &args, const QByteArray &input, bool *ok)
{
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    const bool finished = p.waitForFinished(30000);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0
        && !p.readAllStandardError().contains("cli_message");
    return ms;
}

bool writeExecutable(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size()
        && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// Median time of `PROGRAM ARGS` with PATH holding only the fakes; ok false unless every
// run exits with `expected`.
double timeRuns(
    const QString &program, const QString &tools, const QStringList &args, int rounds, int expected, bool *ok)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), tools);
        p.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        p.start(program, args);
        const bool finished = p.waitForFinished(120000);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != expected) {
            std::printf("  unexpected: %s %s -> %s\n", qPrintable(QFileInfo(program).fileName()),
                qPrintable(args.join(QLatin1Char(' '))), p.readAllStandardOutput().left(200).constData());
            *ok = false;
        }
    }
    return Medidas::median(times);
}

// Group sends against a fake nmblookup that knows GRUPO (20 members, MIEMBRO01..20) and
// UNO (MIEMBRO01 alone), and a fake smbclient that takes 100 ms, or never answers for
// the members listed in the file "mudos" beside it.
bool groupFigures(const QString &netBinary)
{
    QTemporaryDir root;
    const QString tools = root.filePath(QStringLiteral("herramientas"));
    const QString program = root.filePath(QStringLiteral("programa"));
    QDir().mkpath(tools);
    QDir().mkpath(program);
    const QByteArray mudos = (tools + QStringLiteral("/mudos")).toUtf8();
    bool ok = writeExecutable(tools + QStringLiteral("/nmblookup"), R"(#!/bin/sh
for last; do :; done
case "$*" in
*--lookup-by-ip*)
    n=${last##*.}
    printf '	MIEMBRO%02d      <03> -         B <ACTIVE>
' "$n";;
*" GRUPO") i=1; while [ $i -le 20 ]; do echo "10.0.0.$i GRUPO<00>"; i=$((i+1)); done;;
*" UNO") echo "10.0.0.1 UNO<00>";;
*) exit 1;;
esac
)")
        && writeExecutable(tools + QStringLiteral("/smbclient"),
            "#!/bin/sh\nPATH=/usr/bin:/bin\nfor a; do case \"$a\" in --message=*) m=${a#--message=};; esac; done\n"
            "if grep -qx \"$m\" '"
                + mudos + "' 2>/dev/null; then exec sleep 600; fi\nsleep 0.1\n");
    QFile mute(QString::fromUtf8(mudos));
    ok = ok && mute.open(QIODevice::WriteOnly) && mute.write("") == 0;
    mute.close();
    const QString net = program + QStringLiteral("/net");
    ok = ok && QFile::copy(netBinary, net);
    QFile ini(program + QStringLiteral("/net.ini"));
    ok = ok && ini.open(QIODevice::WriteOnly) && ini.write("[Equipos]\nMIEMBRO01=10.0.0.1\n[Opciones]\nEspera=2\n") > 0;
    ini.close();
    if (!ok) {
        std::printf("bench_net: cannot prepare the fake tools\n");
        return false;
    }

    constexpr int rounds = 7;
    const QString text = QStringLiteral("hola");
    timeRuns(net, tools, { QStringLiteral("send"), QStringLiteral("/domain:UNO"), text }, 1, 0, &ok); // warm-up
    const double one
        = timeRuns(net, tools, { QStringLiteral("send"), QStringLiteral("MIEMBRO01"), text }, rounds, 0, &ok);
    const double oneGroup
        = timeRuns(net, tools, { QStringLiteral("send"), QStringLiteral("/domain:UNO"), text }, rounds, 0, &ok);
    const double twenty
        = timeRuns(net, tools, { QStringLiteral("send"), QStringLiteral("/domain:GRUPO"), text }, rounds, 0, &ok);
    // The floor: the same 20 fake deliveries, with as many arguments as net gives them and the
    // same input, started at once by sh. What a group takes beyond this is net's; the rest is the machine's.
    const QString input = root.filePath(QStringLiteral("entrada"));
    QFile inputFile(input);
    ok = ok && inputFile.open(QIODevice::WriteOnly) && inputFile.write(text.toUtf8()) == text.toUtf8().size();
    inputFile.close();
    QString script;
    for (int i = 1; i <= 20; ++i)
        script += QStringLiteral("\"$0\" '--option=dos charset=CP850' '--option=unix charset=CP850' "
                                 "--message=MIEMBRO%1 --ip-address=10.0.0.%2 --timeout=2 --no-pass "
                                 "--user=usuario < \"$1\" &\n")
                      .arg(i, 2, 10, QLatin1Char('0'))
                      .arg(i);
    script += QStringLiteral("wait\n");
    const double bySh = timeRuns(QStringLiteral("/bin/sh"), tools,
        { QStringLiteral("-c"), script, tools + QStringLiteral("/smbclient"), input }, rounds, 0, &ok);

    mute.open(QIODevice::WriteOnly);
    mute.write("MIEMBRO03\nMIEMBRO07\nMIEMBRO11\nMIEMBRO15\nMIEMBRO19\n");
    mute.close();
    const double silent
        = timeRuns(net, tools, { QStringLiteral("send"), QStringLiteral("/domain:GRUPO"), text }, 3, 1, &ok);

    std::printf("bench_net: group sends against fake tools (smbclient takes 100 ms), median of %d\n", rounds);
    std::printf("  one member by name           : %8.1f ms\n", one);
    std::printf("  group of one member          : %8.1f ms\n", oneGroup);
    std::printf("  group of 20 members          : %8.1f ms (%.2fx one by name, %.2fx group of one; goal: under 2x)\n",
        twenty, twenty / one, twenty / oneGroup);
    std::printf("  20 fake deliveries by sh     : %8.1f ms (%.2fx one by name; all at once, no net: the floor here)\n",
        bySh, bySh / one);
    std::printf("  20 members, 5 silent, Espera=2: %7.1f ms (median of 3; goal: under 3000 ms)\n", silent);
    std::printf("  runs ok                      : %s\n", ok ? "yes" : "NO");
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString netBinary = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(NET_BINARY);
    if (!groupFigures(netBinary))
        return 1;
    if (::geteuid() != 0) {
        std::printf("bench_net: delivery to smbd skipped, needs root (smbd on port 139)\n");
        return 0;
    }
    QTemporaryDir root;
    QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7755));
    const QString hostDir = root.filePath(QStringLiteral("host"));
    QDir().mkpath(hostDir);
    SambaHost::Settings s;
    s.netbiosName = QStringLiteral("BANCO");
    s.workgroup = QStringLiteral("PRUEBAS");
    s.address = QStringLiteral("127.0.0.5");
    s.interfaces = QStringLiteral("127.0.0.5/8");
    SambaHost host(hostDir, s);
    if (!host.start()) {
        std::printf("bench_net: smbd did not start: %s\n", qPrintable(host.error()));
        return 1;
    }
    const QString conf = SambaHost::writeClientConfig(root.path(), QStringLiteral("lo"), QStringLiteral("PRUEBAS"));
    const QString program = root.filePath(QStringLiteral("programa"));
    QDir().mkpath(program);
    if (!QFile::copy(netBinary, program + QStringLiteral("/net"))) {
        std::printf("bench_net: cannot copy %s\n", qPrintable(netBinary));
        return 1;
    }
    QFile ini(program + QStringLiteral("/net.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Equipos]\nBANCO=127.0.0.5\n[Opciones]\nConfiguracion=" + conf.toUtf8() + "\n");
    ini.close();

    const QString text = QStringLiteral("Hola, ¿qué tal? Año 2026");
    const QStringList direct { QStringLiteral("-s"), conf, QStringLiteral("-M"), QStringLiteral("BANCO"),
        QStringLiteral("-I"), QStringLiteral("127.0.0.5"), QStringLiteral("-N"), QStringLiteral("-U"),
        QStringLiteral("banco") };
    const QStringList viaNet { QStringLiteral("send"), QStringLiteral("BANCO"), text };
    constexpr int rounds = 20;
    std::vector<double> smb, net, bare, trueRuns;
    bool ok = true;
    // Alternate the two, so that a slow moment of the machine hits both alike.
    for (int i = 0; i < rounds + 1; ++i) {
        bool a = false, b = false;
        const double t1 = runOnce(QStringLiteral("smbclient"), direct, text.toUtf8(), &a);
        const double t2 = runOnce(program + QStringLiteral("/net"), viaNet, {}, &b);
        bool usage = false;
        // net with no arguments: start, print its usage, end; the floor of any net run.
        const double t3 = runOnce(program + QStringLiteral("/net"), {}, {}, &usage);
        // The cheapest program there is: what starting any process costs on this machine.
        bool trueOk = false;
        const double t4 = runOnce(QStringLiteral("/bin/true"), {}, {}, &trueOk);
        ok = ok && a && b && !usage && trueOk;
        if (i > 0) { // the first round warms the caches
            smb.push_back(t1);
            net.push_back(t2);
            bare.push_back(t3);
            trueRuns.push_back(t4);
        }
    }
    const int received = int(host.messages().size());
    host.stop();
    const double mSmb = Medidas::median(smb), mNet = Medidas::median(net);
    std::printf("bench_net: one delivery to smbd on loopback, median of %d\n", rounds);
    std::printf("  smbclient -M alone : %8.2f ms\n", mSmb);
    std::printf("  net send           : %8.2f ms\n", mNet);
    std::printf("  added by net       : %8.2f ms (goal: under 10 ms)\n", mNet - mSmb);
    std::printf("  net start and exit : %8.2f ms (no arguments, no delivery)\n", Medidas::median(bare));
    std::printf("  /bin/true          : %8.2f ms (start and exit of any process)\n", Medidas::median(trueRuns));
    std::printf("  deliveries ok      : %s (%d messages received)\n", ok ? "yes" : "NO", received);
    return ok ? 0 : 1;
}
