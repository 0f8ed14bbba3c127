#include "about/HelpButton.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"
#include "runtime/posix/AppActivate.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
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

class TestHelpButton : public QObject
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
        HelpButton help(rt);

        // First press: nothing to activate, one viewer starts with the help file.
        help.cmdAyuda_Click(dir + QLatin1Char('/'));
        const qint64 first = help.viewerProcess();
        QVERIFY(first > 0);
        QCOMPARE(rt.m_activateCalls, QList<qint64>({ 0 }));
        QCOMPARE(rt.m_shellCalls, QStringList({ QStringLiteral("hh ") + dir + QStringLiteral("/ayuda.chm") }));
        QTRY_COMPARE(callOf(dir, first), QStringList({ QStringLiteral("1"), dir + QStringLiteral("/ayuda.chm") }));

        // Second press while it runs: it is brought forward, nothing new starts.
        help.cmdAyuda_Click(dir + QLatin1Char('/'));
        QCOMPARE(help.viewerProcess(), first);
        QCOMPARE(rt.m_shellCalls.size(), 1);
        QCOMPARE(rt.m_activateCalls, QList<qint64>({ 0, first }));

        // The user closes the viewer: the next press starts a new one and keeps its id.
        stop(rt, first);
        help.cmdAyuda_Click(dir + QLatin1Char('/'));
        const qint64 second = help.viewerProcess();
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
        HelpButton help(rt);
        help.cmdAyuda_Click(dir + QLatin1Char('/'));
        const QString file = dir + QStringLiteral("/ayuda.chm");
        QCOMPARE(rt.m_shellCalls, QStringList({ QStringLiteral("hh ") + file }));
        QVERIFY(help.viewerProcess() > 0);
        QTRY_VERIFY(!callOf(dir, help.viewerProcess()).isEmpty());
        // hh gets the path cut at its blanks; joining the words with blanks gives it back.
        const QStringList call = callOf(dir, help.viewerProcess());
        QCOMPARE(call.first().toInt(), int(file.count(QLatin1Char(' '))) + 1);
        QCOMPARE(call.mid(1).join(QLatin1Char(' ')), file);
        stop(rt, help.viewerProcess());
    }

    void noViewerCommandGivesTheErrorBox()
    {
        FakeRuntime rt;
        rt.m_appPath = makeDir(QStringLiteral("sin hh"));
        qputenv("PATH", QFile::encodeName(makeDir(QStringLiteral("path vacio"))));
        HelpButton help(rt);
        for (int press = 1; press <= 2; ++press) {
            help.cmdAyuda_Click(rt.m_appPath + QLatin1Char('/'));
            QCOMPARE(help.viewerProcess(), 0);
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

    // The real hh beside the program, with stand-in viewers on the search path, in the
    // installed layout: the help's web pages two folders up, under share/.
    void hhExecsTheFirstViewerFound_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<bool>("pages");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("opens");
        const QString chm = QStringLiteral("Velrisa/ayuda.chm");
        const QString web = QStringLiteral("share/velrisa/ayuda/index.htm");
        QTest::newRow("xchm") << QStringList { "xchm" } << true << "xchm" << chm;
        QTest::newRow("kchmviewer") << QStringList { "kchmviewer" } << false << "kchmviewer" << chm;
        QTest::newRow("xchm before kchmviewer") << QStringList { "kchmviewer", "xchm" } << false << "xchm" << chm;
        QTest::newRow("dedicated viewer before the web pages")
            << QStringList { "xdg-open", "kchmviewer" } << true << "kchmviewer" << chm;
        QTest::newRow("web pages in the browser") << QStringList { "xdg-open" } << true << "xdg-open" << web;
        QTest::newRow("xdg-open on the file as the last resort")
            << QStringList { "xdg-open" } << false << "xdg-open" << chm;
    }

    void hhExecsTheFirstViewerFound()
    {
        QFETCH(QStringList, installed);
        QFETCH(bool, pages);
        QFETCH(QString, expected);
        QFETCH(QString, opens);
        static int round = 0;
        const QString root = makeDir(QStringLiteral("real %1/Mis programas").arg(++round));
        const QString dir = makeDir(QStringLiteral("real %1/Mis programas/lib/Velrisa").arg(round));
        const QString bin = makeDir(QStringLiteral("bin %1").arg(round));
        QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINDIR "/hh"), dir + QStringLiteral("/hh")));
        QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINDIR "/ayuda.chm"), dir + QStringLiteral("/ayuda.chm")));
        if (pages)
            QVERIFY(writeFile(root + QStringLiteral("/share/velrisa/ayuda/index.htm"), "<HTML></HTML>\n"));
        for (const QString &viewer : installed) {
            const QByteArray script = QByteArray("#!/bin/sh\n{ echo ") + viewer.toLatin1()
                + "; echo \"$#\"; printf '%s\\n' \"$@\"; } > \"" + QFile::encodeName(bin)
                + "/visto-$$\"\nexec /bin/sleep 60\n";
            QVERIFY(writeFile(bin + QLatin1Char('/') + viewer, script, kExecutable));
        }
        qputenv("PATH", QFile::encodeName(bin));
        FakeRuntime rt;
        rt.m_appPath = dir;
        HelpButton help(rt);
        help.cmdAyuda_Click(dir + QLatin1Char('/'));
        const qint64 pid = help.viewerProcess();
        QVERIFY(pid > 0);
        // Same process id: hh became the viewer, so the viewer can be found by it.
        QFile seen(bin + QStringLiteral("/visto-%1").arg(pid));
        QTRY_VERIFY(seen.exists());
        QTRY_VERIFY(seen.size() > 0);
        QVERIFY(seen.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(seen.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QString file = opens == QLatin1String("Velrisa/ayuda.chm") ? dir + QStringLiteral("/ayuda.chm")
                                                                         : root + QLatin1Char('/') + opens;
        QCOMPARE(lines, QStringList({ expected, QStringLiteral("1"), file }));
        QVERIFY(rt.m_boxes.isEmpty());
        stop(rt, pid);
    }

    // What hh cannot open it says on standard error and, on a desktop, in a window: whole,
    // in UTF-8 where the dialog tool shows it, in plain ASCII for xmessage, which cannot.
    void hhReportsWhatItCannotOpen_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("says");
        QTest::newRow("no viewer installed") << true << QString() << "ningún visor";
        QTest::newRow("help file missing") << false << QString() << "ayuda.chm";
        QTest::newRow("no viewer, zenity") << true << "zenity"
                                           << "ningún visor";
        QTest::newRow("no viewer, kdialog") << true << "kdialog"
                                            << "ningún visor";
        QTest::newRow("no viewer, xmessage") << true << "xmessage"
                                             << "ningun visor";
        QTest::newRow("help file missing, xmessage") << false << "xmessage"
                                                     << "No se puede leer";
    }

    void hhReportsWhatItCannotOpen()
    {
        QFETCH(bool, fileExists);
        QFETCH(QString, dialog);
        QFETCH(QString, says);
        static int round = 0;
        const QString dir = makeDir(QStringLiteral("informe %1/Ñandú & año <b>").arg(++round));
        const QString bin = makeDir(QStringLiteral("dialogo %1").arg(round));
        const QString file = dir + QStringLiteral("/ayuda.chm");
        if (fileExists)
            QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINDIR "/ayuda.chm"), file));
        // The stand-in dialog tool writes its arguments, one per line, and returns at once.
        if (!dialog.isEmpty()) {
            QVERIFY(writeFile(bin + QLatin1Char('/') + dialog,
                "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(bin) + "/dialogo.txt'\n", kExecutable));
        }
        QProcess hh;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // What hh needs of the system (sed, iconv), but no viewer and no other dialog tool.
        const QString tools = makeDir(QStringLiteral("herramientas"));
        for (const char *tool : { "sed", "iconv" })
            QFile::link(
                QStandardPaths::findExecutable(QLatin1String(tool)), tools + QLatin1Char('/') + QLatin1String(tool));
        env.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + tools);
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (dialog.isEmpty())
            env.remove(QStringLiteral("DISPLAY"));
        else
            env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
        hh.setProcessEnvironment(env);
        // Called the way the program calls it: the path cut at its blanks.
        hh.start(QStringLiteral(VELRISA_BINDIR "/hh"), file.split(QLatin1Char(' ')));
        QVERIFY(hh.waitForFinished(10000));
        QVERIFY(hh.exitCode() != 0);
        const QString err = QString::fromUtf8(hh.readAllStandardError());
        QVERIFY2(
            err.contains(fileExists ? QStringLiteral("ningún visor") : QStringLiteral("ayuda.chm")), qPrintable(err));
        QVERIFY2(err.contains(file), qPrintable(err));
        if (dialog.isEmpty())
            return;

        const QByteArray shown = readFile(bin + QStringLiteral("/dialogo.txt"));
        QVERIFY2(shown.contains(says.toUtf8()), shown.constData());
        if (dialog == QLatin1String("xmessage")) {
            for (const char c : shown)
                QVERIFY2(uchar(c) < 0x80, shown.constData());
            QVERIFY2(shown.contains(QFile::encodeName(dir).replace("Ñandú", "Nandu").replace("año", "ano")),
                shown.constData());
        } else if (dialog == QLatin1String("zenity")) {
            // zenity reads markup: "&" and "<" must come escaped to show as themselves.
            QVERIFY2(
                shown.contains(QFile::encodeName(file).replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")),
                shown.constData());
        } else {
            QVERIFY2(shown.contains(QFile::encodeName(file)), shown.constData());
        }
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
    TestHelpButton test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_HelpButton.moc"
