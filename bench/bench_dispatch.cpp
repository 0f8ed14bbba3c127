// Figures for sending: the cost of one recipient in a send run against the bare cost of
// starting the same batch line under /bin/sh and waiting for it, and the cost of the
// sent-messages log at 100,000 rows against its first 1,000.
#include "dispatch/Dispatch.h"
#include "dispatch/SendWait.h"
#include "dispatch/BatchLine.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"
#include "fakes/TestSendWindow.h"
#include "runtime/posix/ProcessStart.h"
#include "sentlog/MessagesModel.h"
#include "sentlog/frmMensajes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <memory>

#include <sys/resource.h>

namespace {

// Processor time of this process and of its reaped children, in microseconds: steadier than
// the wall clock on a machine that other work shares.
struct Cpu
{
    double ownUs = 0;
    double childrenUs = 0;
};

Cpu cpuNow()
{
    auto us = [](const timeval &t) { return double(t.tv_sec) * 1e6 + double(t.tv_usec); };
    rusage self {};
    rusage children {};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return { us(self.ru_utime) + us(self.ru_stime), us(children.ru_utime) + us(children.ru_stime) };
}

double usPerRow(frmMensajes &logWindow, int from, int to)
{
    QElapsedTimer t;
    t.start();
    for (int k = from; k <= to; ++k) {
        logWindow.addRow(QStringLiteral("EQUIPO%1").arg(k));
        logWindow.completeLastRow(
            2, QStringLiteral("Hola a todos"), QStringLiteral("Enviado"), QStringLiteral("14:05:33"));
        logWindow.repaintRows();
        QCoreApplication::processEvents();
    }
    return double(t.nsecsElapsed()) / 1e3 / (to - from + 1);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv(
        "QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    // The session directory and anything written go to a folder of this run, never to the user's own.
    QTemporaryDir dir;
    if (!TestSupport::prepareEnvironment(dir.path())) {
        std::fprintf(stderr, "cannot prepare %s\n", qPrintable(dir.path()));
        return 1;
    }
    QApplication app(argc, argv);
    // The offscreen platform warns at every raise(); the figures are what this program prints.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int recipients = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;

    const QString prog = dir.path() + QStringLiteral("/programa/");
    QDir().mkpath(prog);
    if (!TestSupport::writeFile(
            prog + QStringLiteral("net"), "#!/bin/sh\necho \"Mensaje enviado a $2.\"\n", TestSupport::kExecutable)) {
        std::fprintf(stderr, "cannot write the fake net\n");
        return 1;
    }

    // Processes are real; boxes are only counted and settings stay in memory.
    FakeRuntime rt;
    rt.m_appPath = prog.chopped(1);
    TestSendWindow window;
    window.m_path = prog;
    window.m_window.resize(584, 303);
    window.m_window.show();
    QStringList names;
    for (int k = 0; k < recipients; ++k)
        names << QStringLiteral("EQUIPO%1").arg(k);
    window.m_recipient = names.join(QLatin1Char(' '));
    window.m_message = QStringLiteral("Hola a todos");

    // The bare loop: the same one-line batch file, /bin/sh started and waited for.
    const QString batchFile = prog + QStringLiteral("ejecuta.bat");
    QElapsedTimer t;
    Cpu before = cpuNow();
    t.start();
    for (int k = 0; k < recipients; ++k) {
        TestSupport::writeFile(batchFile,
            BatchLine::contents(BatchLine::arm(names.at(k), false, QStringLiteral("Hola a todos"), prog)));
        ProcessStart::wait(ProcessStart::start(ProcessStart::resolve(batchFile, prog)));
    }
    const double bareUs = double(t.nsecsElapsed()) / 1e3 / recipients;
    Cpu after = cpuNow();
    const Cpu cpuBare { (after.ownUs - before.ownUs) / recipients,
        (after.childrenUs - before.childrenUs) / recipients };

    before = cpuNow();
    t.restart();
    Dispatch(rt, window).EnviarMensajes();
    const double runUs = double(t.nsecsElapsed()) / 1e3 / recipients;
    after = cpuNow();
    const Cpu cpuRun { (after.ownUs - before.ownUs) / recipients, (after.childrenUs - before.childrenUs) / recipients };
    const int rows = window.messages().rows();
    int ok = 0;
    for (int k = 0; k < rows; ++k)
        ok += window.messages().model().row(k).Resultado == QLatin1String("Enviado");

    std::printf("send run: %d recipients, %d rows, %d sent, %lld boxes\n", recipients, rows, ok,
        static_cast<long long>(rt.m_boxes.size()));
    std::printf("bare sh loop:          %9.1f us per recipient\n", bareUs);
    std::printf("send run (EnviarMensajes): %9.1f us per recipient\n", runUs);
    std::printf("ratio run / bare:      %9.2f (wall clock: a loaded machine moves it)\n", runUs / bareUs);
    std::printf(
        "cpu bare:              %9.1f us self + %9.1f us children per recipient\n", cpuBare.ownUs, cpuBare.childrenUs);
    std::printf(
        "cpu send run:          %9.1f us self + %9.1f us children per recipient\n", cpuRun.ownUs, cpuRun.childrenUs);
    std::printf("cpu ratio run / bare:  %9.2f (goal <= 1.5)\n",
        (cpuRun.ownUs + cpuRun.childrenUs) / (cpuBare.ownUs + cpuBare.childrenUs));

    // The log on its own, in a fresh window: rows 1-1000, then fill to 99,000, then 99,001-100,000.
    frmMensajes logWindow(&window.m_window, [&window] { return window.m_hide; });
    logWindow.showWindow();
    const double earlyUs = usPerRow(logWindow, 1, 1000);
    for (int k = 1001; k <= 99000; ++k) {
        logWindow.addRow(QStringLiteral("EQUIPO%1").arg(k));
        logWindow.completeLastRow(
            2, QStringLiteral("Hola a todos"), QStringLiteral("Enviado"), QStringLiteral("14:05:33"));
    }
    QCoreApplication::processEvents();
    const double lateUs = usPerRow(logWindow, 99001, 100000);
    std::printf("log rows 1-1000:       %9.1f us per row (append, complete, repaint)\n", earlyUs);
    std::printf("log rows 99001-100000: %9.1f us per row\n", lateUs);
    std::printf("ratio late / early:    %9.2f (goal < 2), %d rows\n", lateUs / earlyUs, logWindow.rows());
    return 0;
}
