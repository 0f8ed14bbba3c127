// Time of one delivery through `net` against `smbclient -M` alone, to the same smbd on
// loopback; median of 20 each. Needs root (smbd on port 139) and Samba installed.
// Usage: bench_net [NET]   (NET: another build of the command, to compare two builds)
#include "net/SambaHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
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

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::printf("bench_net: skipped, needs root (smbd on port 139)\n");
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
    const QString netBinary = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(NET_BINARY);
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
    const double mSmb = median(smb), mNet = median(net);
    std::printf("bench_net: one delivery to smbd on loopback, median of %d\n", rounds);
    std::printf("  smbclient -M alone : %8.2f ms\n", mSmb);
    std::printf("  net send           : %8.2f ms\n", mNet);
    std::printf("  added by net       : %8.2f ms (goal: under 10 ms)\n", mNet - mSmb);
    std::printf("  net start and exit : %8.2f ms (no arguments, no delivery)\n", median(bare));
    std::printf("  /bin/true          : %8.2f ms (start and exit of any process)\n", median(trueRuns));
    std::printf("  deliveries ok      : %s (%d messages received)\n", ok ? "yes" : "NO", received);
    return ok ? 0 : 1;
}
