#include "about/Ayuda.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"
#include "runtime/posix/AppActivate.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>

namespace {

// A stand-in help viewer: records how it was called (argument count, then each argument)
// under its own process id, then stays open like a viewer until it is stopped.
const char *const kFakeViewer = R"(#!/bin/sh
d=$(dirname "$0")
{ echo "$#"; printf '%s\n' "$@"; } > "$d/llamada-$$.tmp" && mv "$d/llamada-$$.tmp" "$d/llamada-$$.txt"
exec sleep 60
)";

// The arguments the fake viewer with that process id received; empty until it has run.
QStringList callOf(const QString &dir, qint64 pid)
{
    QFile f(QDir(dir).filePath(QStringLiteral("llamada-%1.txt").arg(pid)));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    lines.removeLast();
    return lines;
}

void stop(FakeRuntime &rt, qint64 pid)
{
    if (pid > 0) {
        ::kill(pid_t(pid), SIGTERM);
        rt.waitForProcess(pid);
    }
}

} // namespace

using namespace TestSupport;

class TestAyuda : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QByteArray m_path;

    QString makeDir(const QString &relative)
    {
        const QString dir = m_tmp.filePath(relative);
        QDir().mkpath(dir);
        return dir;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        QVERIFY(prepareEnvironment(m_tmp.path()));
        m_path = qgetenv("PATH");
    }

    void cleanup() { qputenv("PATH", m_path); }

    void pressesFollowTheViewersLife()
    {
        FakeRuntime rt;
        const QString dir = makeDir(QStringLiteral("vida"));
        QVERIFY(writeFile(dir + QStringLiteral("/hh"), kFakeViewer, kExecutable));
        rt.m_appPath = dir;
        Ayuda ayuda(rt);

        // First press: nothing to activate, one viewer starts with the help file.
        ayuda.cmdAyuda_Click(dir + QLatin1Char('/'));
        const qint64 first = ayuda.ProcesoAyuda;
        QVERIFY(first > 0);
        QCOMPARE(rt.m_activateCalls, QList<qint64>({ 0 }));
        QCOMPARE(rt.m_shellCalls, QStringList({ QStringLiteral("hh ") + dir + QStringLiteral("/ayuda.chm") }));
        QTRY_COMPARE(callOf(dir, first), QStringList({ QStringLiteral("1"), dir + QStringLiteral("/ayuda.chm") }));

        // Second press while it runs: it is brought forward, nothing new starts.
        ayuda.cmdAyuda_Click(dir + QLatin1Char('/'));
        QCOMPARE(ayuda.ProcesoAyuda, first);
        QCOMPARE(rt.m_shellCalls.size(), 1);
        QCOMPARE(rt.m_activateCalls, QList<qint64>({ 0, first }));

        // The user closes the viewer: the next press starts a new one and keeps its id.
        stop(rt, first);
        ayuda.cmdAyuda_Click(dir + QLatin1Char('/'));
        const qint64 second = ayuda.ProcesoAyuda;
        QVERIFY(second > 0);
        QVERIFY(second != first);
        QCOMPARE(rt.m_shellCalls.size(), 2);
        QCOMPARE(rt.m_activateCalls, QList<qint64>({ 0, first, first }));
        QTRY_VERIFY(!callOf(dir, second).isEmpty());
        QVERIFY(rt.m_boxes.isEmpty());
        stop(rt, second);
    }

    void pathWithBlanksStaysUnquoted_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("no blanks") << "simple";
        QTest::newRow("blanks") << "Program Files/X";
        QTest::newRow("blanks and accents") << "Archivos de programa/Ñandú año";
    }

    void pathWithBlanksStaysUnquoted()
    {
        QFETCH(QString, relative);
        FakeRuntime rt;
        const QString dir = makeDir(QStringLiteral("unquoted/") + relative);
        QVERIFY(writeFile(dir + QStringLiteral("/hh"), kFakeViewer, kExecutable));
        rt.m_appPath = dir;
        Ayuda ayuda(rt);
        ayuda.cmdAyuda_Click(dir + QLatin1Char('/'));
        const QString file = dir + QStringLiteral("/ayuda.chm");
        QCOMPARE(rt.m_shellCalls, QStringList({ QStringLiteral("hh ") + file }));
        QVERIFY(ayuda.ProcesoAyuda > 0);
        QTRY_VERIFY(!callOf(dir, ayuda.ProcesoAyuda).isEmpty());
        // hh gets the path cut at its blanks; joining the words with blanks gives it back.
        const QStringList call = callOf(dir, ayuda.ProcesoAyuda);
        QCOMPARE(call.first().toInt(), int(file.count(QLatin1Char(' '))) + 1);
        QCOMPARE(call.mid(1).join(QLatin1Char(' ')), file);
        stop(rt, ayuda.ProcesoAyuda);
    }

    void noViewerCommandGivesTheErrorBox()
    {
        FakeRuntime rt;
        rt.m_appPath = makeDir(QStringLiteral("sin hh"));
        qputenv("PATH", QFile::encodeName(makeDir(QStringLiteral("path vacio"))));
        Ayuda ayuda(rt);
        for (int press = 1; press <= 2; ++press) {
            ayuda.cmdAyuda_Click(rt.m_appPath + QLatin1Char('/'));
            QCOMPARE(ayuda.ProcesoAyuda, 0);
            QCOMPARE(rt.m_boxes.size(), press);
            QCOMPARE(rt.m_boxes.last().text, QStringLiteral("No se encontro el archivo de ayuda"));
            QCOMPARE(rt.m_boxes.last().title, QStringLiteral("Error"));
            QCOMPARE(rt.m_boxes.last().icon, Runtime::Icon::Critical);
        }
        QCOMPARE(rt.m_shellCalls.size(), 2);
    }

    void builtHelpFileIsACompiledHelpFile()
    {
        QFile chm(QStringLiteral(VELRISA_BINDIR "/ayuda.chm"));
        QVERIFY2(chm.open(QIODevice::ReadOnly), "ayuda.chm is built beside the program");
        QCOMPARE(chm.read(4), QByteArray("ITSF"));
        QVERIFY(chm.size() > 4096);
    }

    // The real hh beside the program, with stand-in viewers on the search path.
    void hhExecsTheFirstViewerFound_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("xchm") << QStringList { "xchm" } << "xchm";
        QTest::newRow("kchmviewer") << QStringList { "kchmviewer" } << "kchmviewer";
        QTest::newRow("xchm before kchmviewer") << QStringList { "kchmviewer", "xchm" } << "xchm";
        QTest::newRow("dedicated viewer before xdg-open") << QStringList { "xdg-open", "kchmviewer" } << "kchmviewer";
        QTest::newRow("xdg-open as the last resort") << QStringList { "xdg-open" } << "xdg-open";
    }

    void hhExecsTheFirstViewerFound()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, expected);
        static int round = 0;
        const QString dir = makeDir(QStringLiteral("real %1/Mis programas/Velrisa").arg(++round));
        const QString bin = makeDir(QStringLiteral("bin %1").arg(round));
        QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINDIR "/hh"), dir + QStringLiteral("/hh")));
        QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINDIR "/ayuda.chm"), dir + QStringLiteral("/ayuda.chm")));
        for (const QString &viewer : installed) {
            const QByteArray script = QByteArray("#!/bin/sh\n{ echo ") + viewer.toLatin1()
                + "; echo \"$#\"; printf '%s\\n' \"$@\"; } > \"" + QFile::encodeName(bin)
                + "/visto-$$\"\nexec /bin/sleep 60\n";
            QVERIFY(writeFile(bin + QLatin1Char('/') + viewer, script, kExecutable));
        }
        qputenv("PATH", QFile::encodeName(bin));
        FakeRuntime rt;
        rt.m_appPath = dir;
        Ayuda ayuda(rt);
        ayuda.cmdAyuda_Click(dir + QLatin1Char('/'));
        const qint64 pid = ayuda.ProcesoAyuda;
        QVERIFY(pid > 0);
        // Same process id: hh became the viewer, so the viewer can be found by it.
        QFile seen(bin + QStringLiteral("/visto-%1").arg(pid));
        QTRY_VERIFY(seen.exists());
        QTRY_VERIFY(seen.size() > 0);
        QVERIFY(seen.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(seen.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines, QStringList({ expected, QStringLiteral("1"), dir + QStringLiteral("/ayuda.chm") }));
        QVERIFY(rt.m_boxes.isEmpty());
        stop(rt, pid);
    }

    void hhReportsWhatItCannotOpen_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QString>("says");
        QTest::newRow("no viewer installed") << true << "visor";
        QTest::newRow("help file missing") << false << "ayuda.chm";
    }

    void hhReportsWhatItCannotOpen()
    {
        QFETCH(bool, fileExists);
        QFETCH(QString, says);
        const QString dir = makeDir(QStringLiteral("informe %1").arg(fileExists));
        if (fileExists)
            QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINDIR "/ayuda.chm"), dir + QStringLiteral("/ayuda.chm")));
        QProcess hh;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), makeDir(QStringLiteral("nada")));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        hh.setProcessEnvironment(env);
        // Called the way the program calls it: the path cut at its blanks.
        hh.start(QStringLiteral(VELRISA_BINDIR "/hh"), (dir + QStringLiteral("/ayuda.chm")).split(QLatin1Char(' ')));
        QVERIFY(hh.waitForFinished(10000));
        QVERIFY(hh.exitCode() != 0);
        const QString err = QString::fromUtf8(hh.readAllStandardError());
        QVERIFY2(err.contains(says), qPrintable(err));
        QVERIFY2(err.contains(dir + QStringLiteral("/ayuda.chm")), qPrintable(err));
    }

    // Impossible ids and processes without windows are never "activated"; off X11 no
    // window can be found at all, not even one of this very process.
    void activationNeedsAWindowOfThatProcess_data()
    {
        QTest::addColumn<QString>("which");
        QTest::newRow("no viewer yet") << "zero";
        QTest::newRow("negative id") << "negative";
        QTest::newRow("beyond any process id") << "huge";
        QTest::newRow("running process without windows") << "child";
        QTest::newRow("this process, window shown") << "self";
    }

    void activationNeedsAWindowOfThatProcess()
    {
        QFETCH(QString, which);
        const bool onX11 = QGuiApplication::platformName() == QLatin1String("xcb");
        QProcess child;
        QWidget window;
        qint64 pid = 0;
        bool expected = false;
        if (which == QLatin1String("negative")) {
            pid = -1;
        } else if (which == QLatin1String("huge")) {
            pid = qint64(1) << 40;
        } else if (which == QLatin1String("child")) {
            child.start(QStringLiteral("/bin/sleep"), { QStringLiteral("30") });
            QVERIFY(child.waitForStarted());
            pid = child.processId();
        } else if (which == QLatin1String("self")) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            pid = QCoreApplication::applicationPid();
            expected = onX11;
        }
        QCOMPARE(activateWindowOfProcess(pid), expected);
        if (child.state() != QProcess::NotRunning) {
            child.kill();
            child.waitForFinished();
        }
    }

    // Needs a real X server: ctest runs this one under xvfb-run with the xcb platform.
    void activationRaisesAndFocusesTheViewerOnX11()
    {
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t *c = x11 ? x11->connection() : nullptr;
        if (!c)
            QSKIP("not on X11");

        QProcess viewer;
        viewer.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--ventana") });
        QVERIFY(viewer.waitForStarted());
        const qint64 pid = viewer.processId();
        QTRY_VERIFY_WITH_TIMEOUT(activateWindowOfProcess(pid), 15000);
        const xcb_window_t viewerWindow = focusedWindow(c);
        QVERIFY(viewerWindow != XCB_WINDOW_NONE);
        QVERIFY(viewerWindow != XCB_INPUT_FOCUS_POINTER_ROOT);

        // Our own window comes up over it ...
        QWidget cover;
        cover.setGeometry(0, 0, 400, 300);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        const auto coverWindow = xcb_window_t(cover.winId());
        QVERIFY(stackedAbove(c, coverWindow, viewerWindow));

        // ... and activation by process id brings the viewer back on top, with the focus.
        QVERIFY(activateWindowOfProcess(pid));
        QVERIFY(stackedAbove(c, viewerWindow, coverWindow));
        QCOMPARE(focusedWindow(c), viewerWindow);

        viewer.kill();
        QVERIFY(viewer.waitForFinished());
        QTRY_VERIFY(!activateWindowOfProcess(pid));
    }

private:
    static xcb_window_t focusedWindow(xcb_connection_t *c)
    {
        xcb_get_input_focus_reply_t *reply = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        const xcb_window_t focus = reply ? reply->focus : xcb_window_t(XCB_WINDOW_NONE);
        std::free(reply);
        return focus;
    }

    // Whether `upper` comes later than `lower` in the root's stacking order (bottom first).
    static bool stackedAbove(xcb_connection_t *c, xcb_window_t upper, xcb_window_t lower)
    {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        if (!tree)
            return false;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        int upperAt = -1;
        int lowerAt = -1;
        for (int i = 0; i < count; ++i) {
            if (children[i] == upper)
                upperAt = i;
            if (children[i] == lower)
                lowerAt = i;
        }
        std::free(tree);
        return upperAt >= 0 && lowerAt >= 0 && upperAt > lowerAt;
    }
};

// "--ventana" makes this program a stand-in viewer: one ordinary top-level window.
int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--ventana") == 0) {
        QApplication app(argc, argv);
        QWidget window;
        window.setWindowTitle(QStringLiteral("Visor de prueba"));
        window.setGeometry(50, 50, 300, 200);
        window.show();
        return app.exec();
    }
    QApplication app(argc, argv);
    TestAyuda test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Ayuda.moc"
