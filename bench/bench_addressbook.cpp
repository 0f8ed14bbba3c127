// Saves and loads address books of 3,276 and 32,767 entries in each list and prints the
// times and their ratio (a linear store gives about 10).

#include "addressbook/Module.h"
#include "runtime/posix/PosixRuntime.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

// Failures are counted and printed instead of shown in a window.
class BenchRuntime final : public PosixRuntime
{
public:
    void msgBox(const QString &, Icon, const QString &) override { ++m_boxes; }
    int m_boxes = 0;
};

struct Figures
{
    double saveMs = 0;
    double loadMs = 0;
    double cpuMs = 0; // save + load, process CPU time: less disturbed by a busy machine
    qint64 bytes = 0;
};

double cpuMs()
{
    struct timespec t
    {
    };
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

Figures run(qint16 entries)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    BenchRuntime rt;
    Module m(rt, folder);
    for (int i = 1; i <= entries; ++i) {
        m.add(0, QStringLiteral("EQUIPO-%1 Sección €").arg(i));
        m.add(1, QStringLiteral("GRUPO%1").arg(i));
    }

    Figures f;
    const double cpuStart = cpuMs();
    QElapsedTimer t;
    t.start();
    m.GuardarListas(); // new file
    m.GuardarListas(); // every key rewritten in place
    f.saveMs = t.nsecsElapsed() / 2e6;
    const double cpuSave = (cpuMs() - cpuStart) / 2;
    f.bytes = QFileInfo(m.addressBookPath()).size();

    t.restart();
    m.CargarListas();
    f.loadMs = t.nsecsElapsed() / 1e6;
    f.cpuMs = cpuSave + (cpuMs() - cpuStart - 2 * cpuSave);

    if (rt.m_boxes != 0 || m.TotalEquipos() != entries || m.TotalRedes() != entries
        || m.ListaRedes().value(entries - 1) != QStringLiteral("GRUPO%1").arg(entries))
        std::printf("ERROR: %d failed writes, %d/%d entries loaded\n", rt.m_boxes, m.TotalEquipos(), m.TotalRedes());
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    run(100); // warm-up
    const Figures small = run(3276);
    const Figures large = run(Module::kMaxEntries);
    std::printf("entries/list  file bytes  GuardarListas ms  CargarListas ms  total ms  total CPU ms\n");
    for (const auto &[n, f] : { std::pair { 3276, small }, std::pair { 32767, large } })
        std::printf("%12d  %10lld  %16.1f  %15.1f  %8.1f  %12.1f\n", n, static_cast<long long>(f.bytes), f.saveMs,
            f.loadMs, f.saveMs + f.loadMs, f.cpuMs);
    std::printf("ratio large/small (save + load): %.2f  (goal: large under 500 ms, ratio under 15)\n",
        (large.saveMs + large.loadMs) / (small.saveMs + small.loadMs));
    return 0;
}
