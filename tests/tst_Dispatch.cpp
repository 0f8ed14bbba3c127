#include "dispatch/Dispatch.h"
#include "dispatch/Module1.h"
#include "fakes/FakeRuntime.h"
#include "fakes/FakeSendWindow.h"
#include "fakes/TestSupport.h"
#include "runtime/Text.h"
#include "runtime/posix/ProcessStart.h"
#include "sentlog/MessagesModel.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kWriteErrorText = QStringLiteral(
    "No se pudo escribir en el directorio del programa. Asegurese de que tiene permisos y no este bloqueado contra "
    "escritura.");

// The id of a process that has ended and been reaped: nobody has it any more.
qint64 reapedPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

} // namespace

using namespace TestSupport;

// One recipient and whole send runs, through a real /bin/sh, a real ejecuta.bat and a fake
// `net` in a temporary program directory.
class tst_Dispatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void oneRecipientFollowsTheOutput_data();
    void oneRecipientFollowsTheOutput();
    void writtenLineIsTrimmedAndCarriesTheGroup_data();
    void writtenLineIsTrimmedAndCarriesTheGroup();
    void refusedWriteEndsTheProgram_data();
    void refusedWriteEndsTheProgram();
    void processThatNeverStartedIsNoSend();
    void processAlreadyEndedReadsTheOutputAtOnce();
    void earlierOutputDoesNotPassForASend();
    void outputThatIsNotAFileIsNotWaitedFor();
    void windowIsLockedDuringTheWait();
    void eachSendShowsTheListAgain();
    void waitRepaintsOnlyAfterARealWait();

    void runSplitsAtEachBlank_data();
    void runSplitsAtEachBlank();
    void runCompletesRowsAndStoresTheOption();
    void runReadsMessageAndLineAfresh();
    void eachRowKeepsItsAnswer();
    void runStopsWhenTheProgramEnds();
    void freshWaitForEachRecipient();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeRuntime> m_rt;
    std::unique_ptr<FakeSendWindow> m_window;
    QString m_prog;
};

void tst_Dispatch::initTestCase()
{
    QVERIFY(prepareEnvironment());
}

void tst_Dispatch::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_prog = m_dir->path() + QStringLiteral("/programa/");
    QVERIFY(prepareProgram(m_prog));
    m_rt = std::make_unique<FakeRuntime>();
    m_rt->m_appPath = m_prog.chopped(1);
    m_window = std::make_unique<FakeSendWindow>();
    m_window->m_path = m_prog;
}

void tst_Dispatch::cleanup()
{
    setMode(m_prog, 0755);
    m_window.reset();
    m_rt.reset();
    m_dir.reset();
}

void tst_Dispatch::oneRecipientFollowsTheOutput_data()
{
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("boxTitle"); // empty: no message box

    QTest::newRow("sent") << "PEPE" << 1 << "";
    QTest::newRow("answer in lower case") << "minus" << 1 << "";
    QTest::newRow("slow: only once done") << "lento" << 1 << "";
    QTest::newRow("not delivered") << "falla" << 0 << "";
    QTest::newRow("short first line") << "corto" << 0 << "";
    QTest::newRow("empty output") << "vacio" << 0 << "Error: 62";
}

void tst_Dispatch::oneRecipientFollowsTheOutput()
{
    QFETCH(QString, recipient);
    QFETCH(int, result);
    QFETCH(QString, boxTitle);

    Dispatch dispatch(*m_rt, *m_window);
    QCOMPARE(int(dispatch.EnviarADestino(recipient, QStringLiteral("hola"))), result);

    QCOMPARE(netCalls(m_prog), QList<QStringList> { (QStringList { "send", recipient, "hola" }) });
    QCOMPARE(m_window->messages().rows(), 1);
    QCOMPARE(m_window->messages().m_model.row(0).Para, recipient);
    QVERIFY(m_window->messages().m_model.row(0).Resultado.isEmpty());
    if (boxTitle.isEmpty()) {
        QCOMPARE(m_rt->m_boxes.size(), 0);
    } else {
        QCOMPARE(m_rt->m_boxes.size(), 1);
        QCOMPARE(m_rt->m_boxes.at(0).title, boxTitle);
        QCOMPARE(m_rt->m_boxes.at(0).icon, Runtime::Icon::Critical);
        QVERIFY2(m_rt->m_boxes.at(0).text.contains(m_prog + QStringLiteral("mensaje.txt")),
            qPrintable(m_rt->m_boxes.at(0).text));
    }
    QCOMPARE(m_window->m_waiting, 0);
    QVERIFY(!m_rt->m_hourglass);
}

void tst_Dispatch::writtenLineIsTrimmedAndCarriesTheGroup_data()
{
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<bool>("group");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("blanks around") << "  PEPE   " << false << "net send PEPE Hola a todos > \"%1mensaje.txt\"\n"
                                   << QStringList { "send", "PEPE", "Hola", "a", "todos" };
    QTest::newRow("group") << "OFICINA" << true << "net send /domain:OFICINA Hola a todos > \"%1mensaje.txt\"\n"
                           << QStringList { "send", "/domain:OFICINA", "Hola", "a", "todos" };
}

void tst_Dispatch::writtenLineIsTrimmedAndCarriesTheGroup()
{
    QFETCH(QString, recipient);
    QFETCH(bool, group);
    QFETCH(QString, line);
    QFETCH(QStringList, arguments);

    m_window->m_group = group;
    Dispatch dispatch(*m_rt, *m_window);
    QCOMPARE(int(dispatch.EnviarADestino(recipient, QStringLiteral("Hola a todos"))), 1);
    QCOMPARE(QString::fromUtf8(readFile(m_prog + QStringLiteral("ejecuta.bat"))), line.arg(m_prog));
    QCOMPARE(netCalls(m_prog), QList<QStringList> { arguments });
    QCOMPARE(m_window->messages().m_model.row(0).Para, Text::trimBlanks(recipient));
    QCOMPARE(m_rt->m_shellCalls, QStringList { m_prog + QStringLiteral("ejecuta.bat") });
}

void tst_Dispatch::refusedWriteEndsTheProgram_data()
{
    QTest::addColumn<bool>("fileOnly");
    QTest::newRow("read-only ejecuta.bat") << true;
    QTest::newRow("protected folder") << false;
}

void tst_Dispatch::refusedWriteEndsTheProgram()
{
    QFETCH(bool, fileOnly);
    const QString batchFile = m_prog + QStringLiteral("ejecuta.bat");
    QVERIFY(writeFile(batchFile, "anterior\n"));
    QVERIFY(fileOnly ? setMode(batchFile, 0400) : setMode(m_prog, 0555));

    m_window->m_close = 2;
    m_rt->m_endThrows = true;
    Dispatch dispatch(*m_rt, *m_window);
    QVERIFY_THROWS_EXCEPTION(FakeRuntime::Ended, dispatch.EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("x")));

    QCOMPARE(m_rt->m_endCalls, 1);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).text, kWriteErrorText);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error de escritura"));
    QCOMPARE(m_rt->m_boxes.at(0).icon, Runtime::Icon::Critical);
    QCOMPARE(m_rt->m_shellCalls.size(), 0);
    QCOMPARE(m_window->messages().rows(), 0);
    QCOMPARE(readFile(batchFile), QByteArray("anterior\n"));
    // The setting was stored before the write was tried.
    QCOMPARE(m_rt->m_settings.value(QStringLiteral("EnviarMensaje/Opciones/Cerrar")), QStringLiteral("2"));
    QCOMPARE(m_window->m_waiting, 0);
    QVERIFY(!m_rt->m_hourglass);
}

void tst_Dispatch::processThatNeverStartedIsNoSend()
{
    // A stale success from an earlier recipient must not count for one whose command never ran.
    QVERIFY(writeFile(m_prog + QStringLiteral("mensaje.txt"), "Mensaje enviado a OTRO.\n"));
    m_rt->m_realShell = false;
    m_rt->m_shellPid = 0;

    Dispatch dispatch(*m_rt, *m_window);
    QCOMPARE(int(dispatch.EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("x"))), 0);
    QCOMPARE(m_rt->m_yields, 0);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error: 53"));
    QVERIFY(m_rt->m_boxes.at(0).text.contains(QStringLiteral("ejecuta.bat")));
    QCOMPARE(m_window->messages().rows(), 1);
    QCOMPARE(m_window->m_waiting, 0);
}

void tst_Dispatch::processAlreadyEndedReadsTheOutputAtOnce()
{
    m_rt->m_realShell = false;
    m_rt->m_shellPid = reapedPid();

    Dispatch dispatch(*m_rt, *m_window);
    QCOMPARE(int(dispatch.EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("x"))), 0);
    // Only the dispatch's own yield: the wait found no process, so it did not yield.
    QCOMPARE(m_rt->m_yields, 1);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error: 53"));
    QVERIFY(m_rt->m_boxes.at(0).text.contains(QStringLiteral("mensaje.txt")));
    QCOMPARE(m_window->messages().rows(), 1);
}

void tst_Dispatch::earlierOutputDoesNotPassForASend()
{
    // The shell starts but is killed before it runs the line: the success an earlier
    // recipient left in mensaje.txt must not count for this one.
    QVERIFY(writeFile(m_prog + QStringLiteral("mensaje.txt"), "Mensaje enviado a OTRO.\n"));
    const QString dyingScript = m_prog + QStringLiteral("muere.sh");
    QVERIFY(writeFile(dyingScript, "#!/bin/sh\nkill -9 $$\n", kExecutable));
    m_rt->m_realShell = false;
    m_rt->m_shellPid = ProcessStart::start(ProcessStart::resolve(dyingScript, m_prog));
    QVERIFY(m_rt->m_shellPid > 0);

    Dispatch dispatch(*m_rt, *m_window);
    QCOMPARE(int(dispatch.EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("x"))), 0);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error: 53"));
    QVERIFY(m_rt->m_boxes.at(0).text.contains(QStringLiteral("mensaje.txt")));
    QCOMPARE(m_window->messages().rows(), 1);
}

void tst_Dispatch::outputThatIsNotAFileIsNotWaitedFor()
{
    // Whoever opens the pipe to read it is answered "sent"; nobody must.
    std::atomic<bool> finished = false;
    std::thread writer([&] {
        const QByteArray pipe = QFile::encodeName(m_prog + QStringLiteral("mensaje.txt"));
        while (!finished) {
            struct stat st = {};
            const int fd = ::stat(pipe.constData(), &st) == 0 && S_ISFIFO(st.st_mode)
                ? ::open(pipe.constData(), O_WRONLY | O_NONBLOCK)
                : -1;
            if (fd >= 0) {
                (void)!::write(fd, "Mensaje enviado a tuberia.\n", 27);
                ::close(fd);
                return;
            }
            ::usleep(10000);
        }
    });
    Dispatch dispatch(*m_rt, *m_window);
    const qint16 result = dispatch.EnviarADestino(QStringLiteral("tuberia"), QStringLiteral("hola"));
    finished = true;
    writer.join();

    QCOMPARE(int(result), 0);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error: 53"));
    QVERIFY2(m_rt->m_boxes.at(0).text.contains(QStringLiteral("no es un archivo normal")),
        qPrintable(m_rt->m_boxes.at(0).text));
    QCOMPARE(m_window->messages().rows(), 1);
}

void tst_Dispatch::windowIsLockedDuringTheWait()
{
    struct State
    {
        int waiting;
        bool hourglass;
    };
    QList<State> seen;
    m_rt->m_onYield = [&](int) { seen << State { m_window->m_waiting, m_rt->m_hourglass }; };
    Dispatch dispatch(*m_rt, *m_window);
    QCOMPARE(int(dispatch.EnviarADestino(QStringLiteral("lento"), QStringLiteral("x"))), 1);

    // Two yields, after the wait and after it in the dispatch: both with the main window locked.
    QCOMPARE(seen.size(), 2);
    for (const State &e : std::as_const(seen)) {
        QCOMPARE(e.waiting, 1);
        QVERIFY(e.hourglass);
    }
    QCOMPARE(m_window->m_waitsShown, 1);
    QCOMPARE(m_window->m_waiting, 0);
    QVERIFY(!m_rt->m_hourglass);
    QCOMPARE(m_rt->m_hourglassChanges, 2);
}

void tst_Dispatch::eachSendShowsTheListAgain()
{
    Dispatch dispatch(*m_rt, *m_window);
    dispatch.EnviarADestino(QStringLiteral("A"), QStringLiteral("x"));
    QCOMPARE(m_window->m_log.m_shows, 1);
    dispatch.EnviarADestino(QStringLiteral("B"), QStringLiteral("x"));
    QCOMPARE(m_window->m_log.m_shows, 2);
    QCOMPARE(m_window->m_log.rows(), 2);
}

void tst_Dispatch::waitRepaintsOnlyAfterARealWait()
{
    FakeSendLog log;
    // A process that is gone: back at once, no repaint, no yield, no message.
    EsperarProceso(*m_rt, qint32(reapedPid()), log);
    QCOMPARE(log.m_repaints, 0);
    QCOMPARE(m_rt->m_yields, 0);

    // A real child that takes its time: back only once it has ended, then repainted.
    const qint64 pid = ProcessStart::start(ProcessStart::resolve(QStringLiteral("/bin/sleep 0.4"), m_prog));
    QVERIFY(pid > 0);
    EsperarProceso(*m_rt, qint32(pid), log);
    QCOMPARE(::kill(pid_t(pid), 0), -1);
    QCOMPARE(log.m_repaints, 1);
    QCOMPARE(m_rt->m_yields, 1);
    QCOMPARE(m_rt->m_boxes.size(), 0);
}

void tst_Dispatch::runSplitsAtEachBlank_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("recipients");

    QTest::newRow("three names") << "ANA BEA CIRO" << QStringList { "ANA", "BEA", "CIRO" };
    QTest::newRow("one name") << "SOLO" << QStringList { "SOLO" };
    QTest::newRow("one character") << "X" << QStringList { "X" };
    QTest::newRow("trailing blank") << "UNO " << QStringList { "UNO" };
    QTest::newRow("two blanks in a row") << "ANA  BEA" << QStringList { "ANA", "BEA" };
    QTest::newRow("leading blank") << " ANA" << QStringList { "ANA" };
    QTest::newRow("blanks only") << "   " << QStringList {};
    QTest::newRow("tab is part of the name") << "A\tB C" << QStringList { "A\tB", "C" };
}

void tst_Dispatch::runSplitsAtEachBlank()
{
    QFETCH(QString, line);
    QFETCH(QStringList, recipients);

    m_window->m_recipient = line;
    m_window->m_message = QStringLiteral("hola");
    Dispatch(*m_rt, *m_window).EnviarMensajes();

    QStringList sent;
    for (const QStringList &args : netCalls(m_prog))
        sent << args.value(1);
    QCOMPARE(sent, recipients);
    QStringList rows;
    for (int k = 0; k < m_window->messages().rows(); ++k)
        rows << m_window->messages().m_model.row(k).Para;
    QCOMPARE(rows, recipients);
    QCOMPARE(m_window->m_mruCalls, (QStringList { "Guardar:" + line, "Cargar" }));
    QVERIFY(m_window->m_log.m_shows > 0);
}

void tst_Dispatch::runCompletesRowsAndStoresTheOption()
{
    // Rows from an earlier run stay above.
    m_window->messages().addRow(QStringLiteral("ANTERIOR"));
    m_window->m_group = true;
    m_window->m_close = 0;
    m_window->m_recipient = QStringLiteral("falla1 BIEN falla2");
    m_window->m_message = QStringLiteral("Hola a todos");
    int second = 0;
    m_rt->m_onYield = [&](int yieldNo) {
        // Every third yield is the run's, after a row was completed: the clock moves on.
        if (yieldNo % 3 == 0)
            m_rt->m_time = QTime(10, 0, ++second);
    };
    m_rt->m_time = QTime(10, 0, 0);
    Dispatch(*m_rt, *m_window).EnviarMensajes();

    QCOMPARE(m_rt->m_settings.value(QStringLiteral("EnviarMensaje/Opciones/Cerrar")), QStringLiteral("0"));
    const MessagesModel &model = m_window->messages().m_model;
    QCOMPARE(model.rowCount(), 4);
    const QStringList expectedTo { "falla1", "BIEN", "falla2" };
    const QStringList results { "Error", "Enviado", "Error" };
    const QList<int> expectedStates { 3, 2, 3 };
    for (int k = 0; k < 3; ++k) {
        const auto &row = model.row(k + 1);
        QCOMPARE(row.Para, expectedTo.at(k));
        QCOMPARE(row.Mensaje, QStringLiteral("Hola a todos"));
        QCOMPARE(row.Resultado, results.at(k));
        QCOMPARE(int(row.Estado), expectedStates.at(k));
        QCOMPARE(row.Hora, QStringLiteral("10:00:0%1").arg(k));
        QCOMPARE(model.data(model.index(k + 1, 0), Qt::UserRole).toInt(), expectedStates.at(k));
        QVERIFY(!model.data(model.index(k + 1, 0), Qt::DecorationRole).isValid());
    }
    QCOMPARE(netCalls(m_prog).value(1).value(1), QStringLiteral("/domain:BIEN"));
    QCOMPARE(m_rt->m_boxes.size(), 0);
}

void tst_Dispatch::runReadsMessageAndLineAfresh()
{
    m_window->m_recipient = QStringLiteral("AA BB CC");
    m_window->m_message = QStringLiteral("primero");
    m_rt->m_onYield = [&](int yieldNo) {
        if (yieldNo == 3) {
            // At the run's yield after the first recipient, the user edits both fields.
            m_window->m_message = QStringLiteral("editado");
            m_window->m_recipient = QStringLiteral("AA ZZZZZ");
        }
    };
    Dispatch(*m_rt, *m_window).EnviarMensajes();

    QList<QStringList> expected { { "send", "AA", "primero" }, { "send", "ZZZZZ", "editado" } };
    QCOMPARE(netCalls(m_prog), expected);
    const MessagesModel &model = m_window->messages().m_model;
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.row(0).Mensaje, QStringLiteral("primero"));
    QCOMPARE(model.row(1).Mensaje, QStringLiteral("editado"));
    QCOMPARE(m_window->m_mruCalls.value(0), QStringLiteral("Guardar:AA ZZZZZ"));
}

void tst_Dispatch::eachRowKeepsItsAnswer()
{
    m_window->m_recipient = QStringLiteral("BIEN falla marcas vacio");
    m_window->m_message = QStringLiteral("hola");
    Dispatch(*m_rt, *m_window).EnviarMensajes();

    // What each row keeps to show when the pointer rests on its result.
    const MessagesModel &model = m_window->messages().m_model;
    QCOMPARE(model.rowCount(), 4);
    QStringList shown;
    for (int row = 0; row < 4; ++row)
        shown << model.row(row).Answer;
    QCOMPARE(m_rt->m_boxes.size(), 1);
    const QString boxText = m_rt->m_boxes.at(0).text;
    QCOMPARE(shown,
        (QStringList { QStringLiteral("Mensaje enviado a BIEN."),
            QStringLiteral("Error al enviar un mensaje a falla. No se encontró el nombre."),
            QStringLiteral("<b>No</b> responde [1m"), boxText }));
    // Nothing was read, so the box says what wrote nothing and what the user can try.
    QVERIFY2(
        boxText.contains(QStringLiteral("net")) && boxText.contains(QStringLiteral("no se sabe")), qPrintable(boxText));
}

void tst_Dispatch::runStopsWhenTheProgramEnds()
{
    m_window->m_recipient = QStringLiteral("A B C");
    m_window->m_message = QStringLiteral("x");
    m_rt->m_onYield = [&](int yieldNo) {
        if (yieldNo == 3)
            setMode(m_prog + QStringLiteral("ejecuta.bat"), 0400);
    };
    m_rt->m_endThrows = true;
    QVERIFY_THROWS_EXCEPTION(FakeRuntime::Ended, Dispatch(*m_rt, *m_window).EnviarMensajes());
    QCOMPARE(netCalls(m_prog).size(), 1);
    QCOMPARE(m_window->messages().rows(), 1);
    QCOMPARE(m_window->messages().m_model.row(0).Resultado, QStringLiteral("Enviado"));
    QVERIFY(m_window->m_mruCalls.isEmpty());
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error de escritura"));
}

void tst_Dispatch::freshWaitForEachRecipient()
{
    QList<int> waiting;
    m_rt->m_onYield = [&](int yieldNo) {
        // The wait's yield and the dispatch's within one recipient, the run's between two.
        waiting << m_window->m_waiting;
        QCOMPARE(m_window->m_waitsShown, (yieldNo + 2) / 3);
    };
    m_window->m_recipient = QStringLiteral("A B");
    m_window->m_message = QStringLiteral("x");
    Dispatch(*m_rt, *m_window).EnviarMensajes();

    QCOMPARE(waiting, (QList<int> { 1, 1, 0, 1, 1, 0 }));
    QCOMPARE(m_window->m_waitsShown, 2);
}

QTEST_GUILESS_MAIN(tst_Dispatch)
#include "tst_Dispatch.moc"
