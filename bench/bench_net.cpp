// Figures of the `net` command.
// 1. A simulated LAN of real Samba computers (network namespaces made and removed here):
//    a group of 25 (then `net send *` to 40) against one computer, wall time and the CPU of
//    net with all it starts; the first send to the group, before net knows its members, apart.
// 2. Groups of 25 and of 4,000 computers played on loopback addresses by a fake messenger,
//    all answering at once: net's own CPU a member (the fake runs in this process, not counted;
//    nor is entering a namespace, which the figures of 1 include).
// 3. One delivery through `net` against `smbclient -M` alone, to the same smbd on
//    loopback; median of 20 each. Needs root (smbd on port 139) and Samba installed.
// Usage: bench_net [NET] [--fake-only]   (NET: another build of the command, to compare two
// builds; --fake-only: the groups of fake computers alone)
#include "Measurements.h"
#include "net/FakeMessenger.h"
#include "net/PrivateNetwork.h"
#include "net/SambaHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>
#include <sys/resource.h>
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

struct Cost
{
    double wallMs = 0;
    double cpuMs = 0; // of the program and everything it started
    double machineCpuMs = 0; // of every process of the machine: net and the simulated members
    bool ok = false;
    QByteArray out;
};

double childrenCpuMs()
{
    rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// The CPU time the whole machine has spent so far, every core added up (10 ms steps).
double machineCpuMs()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    double busy = 0;
    for (const int i : { 1, 2, 3, 6, 7, 8 }) // user nice system irq softirq steal
        busy += fields.value(i).toDouble();
    return busy * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

// One run of net inside netns; its CPU from the children's usage of this process, which
// counts every descendant waited for.
Cost runIn(const QString &netns, const QString &net, const QStringList &args)
{
    Cost cost;
    const double cpuBefore = childrenCpuMs();
    const double machineBefore = machineCpuMs();
    QElapsedTimer clock;
    clock.start();
    int code = -1;
    cost.out = SambaHost::run(netns, net, args, &code, 120000);
    cost.wallMs = double(clock.nsecsElapsed()) / 1e6;
    cost.cpuMs = childrenCpuMs() - cpuBefore;
    cost.machineCpuMs = machineCpuMs() - machineBefore;
    cost.ok = code == 0;
    return cost;
}

// A simulated office: network namespaces of its own joined by a bridge, each member with
// real smbd and nmbd; `members` computers in GRUPO and one in UNO. net runs in the hub.
bool lanFigures(const QString &netBinary, int members, int rounds, bool star)
{
    if (!PrivateNetwork::toolsPresent()) {
        std::printf("bench_net: simulated LAN skipped, needs ip and nmbd\n");
        return true;
    }
    QTemporaryDir root;
    QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7755));
    const int pid = int(::getpid());
    PrivateNetwork network(
        QStringLiteral("bnt%1").arg(pid), QStringLiteral("10.%1.%2").arg(200 + pid % 50).arg((pid / 50) % 250));
    if (!network.create(members + 1)) {
        std::printf("bench_net: simulated LAN skipped: %s\n", qPrintable(network.why()));
        return network.cannotHere();
    }
    std::vector<std::unique_ptr<SambaHost>> hosts;
    for (int i = 0; i <= members; ++i) {
        SambaHost::Settings s;
        s.netbiosName
            = i < members ? QStringLiteral("MIEMBRO%1").arg(i + 1, 2, 10, QLatin1Char('0')) : QStringLiteral("SOLO");
        s.workgroup = i < members ? QStringLiteral("GRUPO") : QStringLiteral("UNO");
        s.address = network.address(i);
        s.interfaces = s.address + QStringLiteral("/24");
        s.netns = network.member(i);
        s.nameService = true;
        const QString dir = root.filePath(s.netns);
        QDir().mkpath(dir);
        hosts.push_back(std::make_unique<SambaHost>(dir, s));
        if (!hosts.back()->start()) {
            std::printf("bench_net: a member did not start: %s\n", qPrintable(hosts.back()->error()));
            return false;
        }
    }
    const QString conf = SambaHost::writeClientConfig(root.path(), QStringLiteral("br0"), QStringLiteral("GRUPO"));
    const QString program = root.filePath(QStringLiteral("programa"));
    QDir().mkpath(program);
    const QString net = program + QStringLiteral("/net");
    QFile::copy(netBinary, net);
    QFile ini(program + QStringLiteral("/net.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Equipos]\nMIEMBRO01=" + network.address(0).toLatin1() + "\n[Opciones]\nConfiguracion=" + conf.toUtf8()
        + "\nDifusion=" + network.broadcast().toLatin1() + "\nEspera=5\n");
    ini.close();

    // nmbd answers group queries some seconds after it starts.
    QElapsedTimer ready;
    ready.start();
    int answering = 0;
    while (ready.elapsed() < 90000) {
        const QByteArray answer = SambaHost::run(network.hub(), QStringLiteral("nmblookup"),
            { "--configfile=" + conf, "--broadcast=" + network.broadcast(), QStringLiteral("GRUPO") });
        answering = int(answer.count("GRUPO<00>"));
        if (answering == members)
            break;
        QThread::msleep(500);
    }
    std::printf("bench_net: simulated LAN of %d computers with smbd and nmbd (%d answer the group after %.1f s)\n",
        members + 1, answering, ready.elapsed() / 1000.0);

    const QString text = QStringLiteral("Reunión a las diez");
    // The GRUPO is the own workgroup of the client configuration: `net send *` reaches it too.
    const QString groupTarget = star ? QStringLiteral("*") : QStringLiteral("/domain:GRUPO");
    // net remembers the members of each group here; the first round finds none.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root.filePath(QStringLiteral("cache"))));
    std::vector<double> oneWall, oneCpu, soloWall, soloCpu, groupWall, groupCpu, oneMachine, groupMachine;
    double firstGroupMs = 0;
    bool ok = answering == members;
    for (int i = 0; i < rounds + 1; ++i) {
        const Cost one = runIn(network.hub(), net, { QStringLiteral("send"), QStringLiteral("MIEMBRO01"), text });
        const Cost solo = runIn(network.hub(), net, { QStringLiteral("send"), QStringLiteral("/domain:UNO"), text });
        const Cost group = runIn(network.hub(), net, { QStringLiteral("send"), groupTarget, text });
        if (!one.ok || !solo.ok || !group.ok || !group.out.contains(QByteArray::number(members) + " equipos")) {
            std::printf("  unexpected: %s %s %s\n", one.out.constData(), solo.out.constData(), group.out.constData());
            ok = false;
        }
        if (i == 0) {
            firstGroupMs = group.wallMs;
            continue; // the first round warms the caches and lets net learn the members
        }
        oneWall.push_back(one.wallMs);
        oneCpu.push_back(one.cpuMs);
        soloWall.push_back(solo.wallMs);
        soloCpu.push_back(solo.cpuMs);
        groupWall.push_back(group.wallMs);
        groupCpu.push_back(group.cpuMs);
        oneMachine.push_back(one.machineCpuMs - one.cpuMs);
        groupMachine.push_back(group.machineCpuMs - group.cpuMs);
    }
    int received = 0;
    for (const auto &host : hosts)
        received += int(host->messages().size());
    const double one = Measurements::median(oneWall), group = Measurements::median(groupWall);
    std::printf("  median of %d; CPU counts net and everything it starts\n", rounds);
    std::printf("  one computer by address   : %8.1f ms, CPU %6.1f ms\n", one, Measurements::median(oneCpu));
    std::printf("  group of one (UNO)        : %8.1f ms, CPU %6.1f ms\n", Measurements::median(soloWall),
        Measurements::median(soloCpu));
    std::printf("  %-25s : %8.1f ms (the first time: members not known yet, listened to in full)\n",
        qPrintable(QStringLiteral("net send %1, first").arg(groupTarget)), firstGroupMs);
    std::printf("  %-25s : %8.1f ms, CPU %6.1f ms (%.2fx one computer; goal: under 3x)\n",
        qPrintable(QStringLiteral("net send %1 (%2)").arg(groupTarget).arg(members)), group,
        Measurements::median(groupCpu), group / one);
    std::printf(
        "  CPU per member of GRUPO   : %8.2f ms (goal: under 3 ms)\n", Measurements::median(groupCpu) / members);
    // Every simulated member runs on this machine's cores: what their smbd, nmbd and message
    // command cost is time a real office spends on each member's own computer.
    std::printf("  the members' own CPU      : %8.1f ms for one computer, %.1f ms for the group (the rest of the"
                " machine during the run, %ld cores)\n",
        Measurements::median(oneMachine), Measurements::median(groupMachine), ::sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("  messages received         : %d (expected %d)\n", received, (rounds + 1) * (members + 2));
    std::printf("  runs ok                   : %s\n", ok ? "yes" : "NO");
    hosts.clear(); // the daemons go before their namespaces
    return ok && received == (rounds + 1) * (members + 2);
}

// A group of fake computers on loopback, on the standard ports (so that an older net, which
// knows no others, is measured alike).
bool fakeGroupFigures(const QString &netBinary, int members, int rounds)
{
    QList<FakeMessenger::Computer> list;
    for (int i = 0; i < members; ++i)
        list.append({ QStringLiteral("M%1").arg(i, 4, 10, QLatin1Char('0')).toLatin1() });
    FakeMessenger computers;
    FakeMessenger::Options options;
    options.nameServicePort = 137;
    options.sessionPort = 139;
    if (!computers.start(list, options)) {
        std::printf("bench_net: fake computers did not start: %s\n", qPrintable(computers.error()));
        return false;
    }
    QTemporaryDir root;
    const QString net = root.filePath(QStringLiteral("net"));
    QFile::copy(netBinary, net);
    QFile ini(root.filePath(QStringLiteral("net.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Opciones]\nDifusion=" + computers.nameServer().toLatin1() + "\nEspera=5\n");
    ini.close();
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root.filePath(QStringLiteral("cache"))));
    std::vector<double> wall, cpu;
    bool ok = true;
    for (int i = 0; i < rounds + 1; ++i) {
        computers.clear();
        const Cost run
            = runIn({}, net, { QStringLiteral("send"), QStringLiteral("/domain:GRANDE"), QStringLiteral("hola") });
        const bool all = run.ok && computers.received().size() == members;
        if (!all)
            std::printf(
                "  unexpected: %d received; %s\n", int(computers.received().size()), run.out.left(200).constData());
        ok = ok && all;
        if (i == 0)
            continue; // the first round learns the members
        wall.push_back(run.wallMs);
        cpu.push_back(run.cpuMs);
    }
    std::printf(
        "bench_net: a group of %d fake computers on loopback, all answering at once, median of %d\n", members, rounds);
    std::printf("  net send /domain:GRANDE   : %8.1f ms, CPU %7.1f ms\n", Measurements::median(wall),
        Measurements::median(cpu));
    std::printf("  CPU per member            : %8.3f ms (goal: under 0.5 ms)\n", Measurements::median(cpu) / members);
    std::printf("  every member reached      : %s\n", ok ? "yes" : "NO");
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool fakeOnly = args.contains(QStringLiteral("--fake-only"));
    const QStringList nets = args.filter(QRegularExpression(QStringLiteral("^[^-]")));
    const QString netBinary = nets.isEmpty() ? QStringLiteral(NET_BINARY) : nets.first();
    if (::geteuid() != 0) {
        std::printf("bench_net: skipped, needs root (smbd on port 139, network namespaces)\n");
        return 0;
    }
    const bool fakeOk = fakeGroupFigures(netBinary, 25, 10) & fakeGroupFigures(netBinary, 4000, 3);
    if (fakeOnly)
        return fakeOk ? 0 : 1;
    if (!lanFigures(netBinary, 25, 5, false) || !lanFigures(netBinary, 40, 3, true) || !fakeOk)
        return 1;
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
    const double mSmb = Measurements::median(smb), mNet = Measurements::median(net);
    std::printf("bench_net: one delivery to smbd on loopback, median of %d\n", rounds);
    std::printf("  smbclient -M alone : %8.2f ms\n", mSmb);
    std::printf("  net send           : %8.2f ms\n", mNet);
    std::printf("  added by net       : %8.2f ms (goal: under 10 ms)\n", mNet - mSmb);
    std::printf("  net start and exit : %8.2f ms (no arguments, no delivery)\n", Measurements::median(bare));
    std::printf("  /bin/true          : %8.2f ms (start and exit of any process)\n", Measurements::median(trueRuns));
    std::printf("  deliveries ok      : %s (%d messages received)\n", ok ? "yes" : "NO", received);
    return ok ? 0 : 1;
}
