#include "fakes/FakeNameService.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"

#include "app/Startup.h"
#include "mainwindow/frmPrincipal.h"
#include "receive/History.h"
#include "receive/Mailbox.h"
#include "receive/ReceivedModel.h"
#include "receive/Receiving.h"
#include "receive/ReplyRule.h"
#include "receive/frmMoreReceived.h"
#include "receive/frmReceived.h"
#include "receive/frmReceivedList.h"
#include "receiver/Delivery.h"
#include "receiver/Record.h"
#include "runtime/IconoBarra.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QUdpSocket>

#include <ctime>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
constexpr int64_t kJanuary = 1767225600; // 2026-01-01 00:00:00 UTC

// Looks at every event of the application as it comes.
class EventFilter final : public QObject
{
public:
    explicit EventFilter(std::function<void(QObject *, QEvent *)> look)
        : m_look(std::move(look))
    { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        m_look(watched, event);
        return false;
    }

private:
    std::function<void(QObject *, QEvent *)> m_look;
};
} // namespace

// The desktop side of receiving: the mailbox read as hostile input, each message popping
// up once per user, the history kept across runs, and the main window's part.
class tst_Receiving : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void eachMessagePopsUpOncePerUser();
    void firstStartShowsOnlyWhatWasSentToThePerson();
    void headerAndReplyDependOnTheComputer_data();
    void headerAndReplyDependOnTheComputer();
    void replyGoesWhereTheSendingComputerSays_data();
    void replyGoesWhereTheSendingComputerSays();
    void mailboxDeletedAndMadeAgain();
    void popUpsAreBoundedAndCascaded();
    void invalidHistoryIsSetAsideLosingNothing_data();
    void invalidHistoryIsSetAsideLosingNothing();
    void floodGathersInOneWindowAndCloseAllClosesEveryPopUp();
    void mailboxOthersCouldReplaceIsNotRead();
    void terminationSignalEndsTheProgramDuringAStartUpBox();
    void historyThatCannotBeSavedIsReportedOnce();
    void markupIsShownAsWritten_data();
    void markupIsShownAsWritten();
    void receivedMenuAndReplyInTheMainWindow();
    void quitFromTheTrayMenuKeepsWhatWaitedToBeSaved();
    void rowsArrivingWhileTheListIsOpenAreDrawnWhole();
    void historyMessageOpensWholeAndIsCopiedWhole();

private:
    // Delivers through the receiver's own logic, as smbd's command would.
    QString deliver(
        const QByteArray &text, int64_t seconds = kJanuary, const char *from = "ana", const char *to = "oficina1");
    std::unique_ptr<Receiving> startReceiving(const QString &dataDir);
    // A history file line for one message, as the history writes it.
    static QByteArray historyLine(const QString &id, const QByteArray &arrival = "1767225600000");

    QTemporaryDir m_root;
    QString m_mailbox;
    QString m_dataDir;
    FakeRuntime m_rt;
    IconoBarra m_tray;
    int m_run = 0;
};

void tst_Receiving::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY(prepareEnvironment(m_root.path()));
    qputenv("TZ", "UTC");
    ::tzset();
}

void tst_Receiving::init()
{
    ++m_run;
    m_mailbox = m_root.filePath(QStringLiteral("buzon%1").arg(m_run));
    m_dataDir = m_root.filePath(QStringLiteral("datos%1/velrisa").arg(m_run));
    QVERIFY(QDir().mkpath(m_mailbox));
    m_rt.m_boxes.clear();
}

void tst_Receiving::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmReceived *>(w))
            delete w;
    }
}

QString tst_Receiving::deliver(const QByteArray &text, int64_t seconds, const char *from, const char *to)
{
    Delivery::Request p;
    p.mailbox = m_mailbox.toStdString();
    p.from = from;
    p.to = to;
    p.file = m_root.filePath(QStringLiteral("msg")).toStdString();
    if (!writeFile(QString::fromStdString(p.file), text))
        return {};
    static int32_t ns = 0;
    const Delivery::Result r = Delivery::deliver(p, seconds, ++ns, 42);
    return QString::fromStdString(r.record);
}

std::unique_ptr<Receiving> tst_Receiving::startReceiving(const QString &dataDir)
{
    // A user who has started Velrisa before: what the computer received since pops up.
    if (!QFile::exists(dataDir + QStringLiteral("/recibidos.json"))
        && !QFile::exists(dataDir + QStringLiteral("/recibidos.diario"))) {
        QDir().mkpath(QFileInfo(dataDir).absolutePath());
        ::mkdir(QFile::encodeName(dataDir).constData(), 0700);
        writeFile(dataDir + QStringLiteral("/recibidos.json"), R"({"formato":1,"mensajes":[],"mostrados":[]})");
    }
    auto r = std::make_unique<Receiving>(m_rt, m_tray, m_mailbox, dataDir);
    r->start();
    return r;
}

void tst_Receiving::eachMessagePopsUpOncePerUser()
{
    // Arrived while no Velrisa ran: shown at the start.
    deliver("antes");
    auto r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), 1);
    // Arrives now: the mailbox's notification brings it up.
    deliver("Hola, ¿qué tal?\nAño 2026", kJanuary + 3661);
    QTRY_COMPARE_WITH_TIMEOUT(r->openWindows().size(), 2, 1000);
    frmReceived *w = r->openWindows().at(1);
    QCOMPARE(w->windowTitle(), QStringLiteral("Mensaje recibido"));
    QCOMPARE(child<QLabel>(w, QStringLiteral("lblHeading"))->text(),
        QStringLiteral("Mensaje de ana a oficina1 el 01/01/2026 a las 01:01:01"));
    auto *text = child<QPlainTextEdit>(w, QStringLiteral("txtMensaje"));
    QCOMPARE(text->toPlainText(), QStringLiteral("Hola, ¿qué tal?\nAño 2026"));
    QVERIFY(text->isReadOnly());
    QVERIFY(child<QPushButton>(w, QStringLiteral("cmdOk"))->isDefault());
    QVERIFY(w->testAttribute(Qt::WA_ShowWithoutActivating));
    child<QPushButton>(w, QStringLiteral("cmdOk"))->click();
    QTRY_COMPARE(r->openWindows().size(), 1);

    // The user's folder is private; the history holds both.
    QFileInfo folder(m_dataDir);
    QCOMPARE(folder.permissions() & 0x0077, QFileDevice::Permissions());
    QCOMPARE(r->history().model().rowCount(), 2);
    r.reset();

    // The next run of the same user: nothing pops up again; the history is back.
    r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), 0);
    QCOMPARE(r->history().model().rowCount(), 2);
    QCOMPARE(r->history().model().rows().at(1).text, QStringLiteral("Hola, ¿qué tal?\nAño 2026"));
    r.reset();
    // Another user of the computer who had started before sees both once.
    r = startReceiving(m_root.filePath(QStringLiteral("otro/velrisa")));
    QCOMPARE(r->openWindows().size(), 2);
}

// A person's first start shows what was sent to that person, never what the computer got
// for others before; from then on the computer's messages pop up for this person too, and
// the record tells who sent it from where.
void tst_Receiving::firstStartShowsOnlyWhatWasSentToThePerson()
{
    deliver("para el equipo, de antes");
    const QString myName = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    const QString list = m_root.filePath(QStringLiteral("usuarios%1").arg(m_run));
    QVERIFY(writeFile(list, "mi-alias " + myName.toLocal8Bit() + '\n'));
    QVERIFY(QDir().mkpath(m_mailbox + QLatin1Char('/') + myName));
    QCOMPARE(::chmod(QFile::encodeName(m_mailbox + QLatin1Char('/') + myName).constData(), 02770), 0);
    Delivery::Request p;
    p.mailbox = m_mailbox.toStdString();
    p.from = "ana";
    p.to = "mi-alias";
    p.computer = "pc-ana";
    p.address = "127.0.0.1";
    p.users = list.toStdString();
    p.file = m_root.filePath(QStringLiteral("msg")).toStdString();
    QVERIFY(writeFile(QString::fromStdString(p.file), "solo para mí"));
    Delivery::Limits limits;
    limits.usersOwner = ::geteuid();
    const Delivery::Result privateDelivery = Delivery::deliver(p, kJanuary + 1, 1, 42, limits);
    QVERIFY2(privateDelivery.delivered, privateDelivery.error.c_str());

    auto r = std::make_unique<Receiving>(m_rt, m_tray, m_mailbox, m_dataDir);
    r->start();
    QCOMPARE(r->openWindows().size(), 1);
    frmReceived *w = r->openWindows().at(0);
    QCOMPARE(child<QPlainTextEdit>(w, QStringLiteral("txtMensaje"))->toPlainText(), QStringLiteral("solo para mí"));
    QCOMPARE(child<QLabel>(w, QStringLiteral("lblHeading"))->text(),
        QStringLiteral("Mensaje de ana (pc-ana) a mi-alias el 01/01/2026 a las 00:00:01"));
    QCOMPARE(r->history().model().rowCount(), 1);
    const QModelIndex computer = r->history().model().index(0, ReceivedModel::ColComputer);
    QCOMPARE(computer.data().toString(), QStringLiteral("pc-ana"));
    QCOMPARE(computer.data(Qt::ToolTipRole).toString(), QStringLiteral("127.0.0.1"));
    // Its computer has a name for ana.
    FakeNameService nameService({ { "PC-ANA" }, { "ANA" } }, FakeNameService::Mode::Answer);
    r->replyRule().setNameServicePort(nameService.port());
    QSignalSpy replies(r.get(), &Receiving::reply);
    child<QPushButton>(w, QStringLiteral("cmdReply"))->click();
    QTRY_COMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0).at(0).toString(), QStringLiteral("ana"));

    deliver("para el equipo, de después", kJanuary + 2);
    QTRY_COMPARE_WITH_TIMEOUT(r->history().model().rowCount(), 2, 1000);
    r.reset();
    // The next start is not a first one: nothing comes back, nothing old shows up.
    r = std::make_unique<Receiving>(m_rt, m_tray, m_mailbox, m_dataDir);
    r->start();
    QCOMPARE(r->openWindows().size(), 0);
    QCOMPARE(r->history().model().rowCount(), 2);
    QCOMPARE(r->history().model().rows().at(0).text, QStringLiteral("solo para mí"));
}

void tst_Receiving::headerAndReplyDependOnTheComputer_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("computer");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("replyTo");
    QTest::newRow("old record") << "ana"
                                << ""
                                << "Mensaje de ana a of"
                                << "ana";
    QTest::newRow("same name") << "PC1"
                               << "pc1"
                               << "Mensaje de PC1 a of"
                               << "PC1";
    QTest::newRow("user of a computer") << "ana"
                                        << "pc1"
                                        << "Mensaje de ana (pc1) a of"
                                        << "ana";
    QTest::newRow("name that is not NetBIOS") << "Ana María"
                                              << "pc1"
                                              << "Mensaje de Ana María (pc1) a of"
                                              << "pc1";
    QTest::newRow("name of 16") << "abcdefghijklmnop"
                                << "pc1"
                                << "Mensaje de abcdefghijklmnop (pc1) a of"
                                << "pc1";
}

void tst_Receiving::headerAndReplyDependOnTheComputer()
{
    QFETCH(QString, from);
    QFETCH(QString, computer);
    QFETCH(QString, header);
    QFETCH(QString, replyTo);
    Mailbox::Message m;
    m.from = from;
    m.to = QStringLiteral("of");
    m.computer = computer;
    m.arrival = QDateTime::fromSecsSinceEpoch(kJanuary, Qt::UTC);
    QCOMPARE(frmReceived::heading(m), header + QStringLiteral(" el 01/01/2026 a las 00:00:00"));
    QCOMPARE(ReplyRule::guess(m), replyTo);
}

void tst_Receiving::replyGoesWhereTheSendingComputerSays_data()
{
    using Name = FakeNameService::Name;
    using Mode = FakeNameService::Mode;
    QTest::addColumn<QList<Name>>("names");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("computer");
    QTest::addColumn<QString>("replyTo");
    QTest::addColumn<QString>("box"); // the start of what the user is told first, if anything
    // A computer set up with a name for each person, and one without.
    const QList<Name> perPerson { { "EMISORA", 0x00 }, { "EMISORA" }, { "OFICINA", 0x03, true }, { "EMISORA", 0x20 },
        { "VPPEDRO" } };
    const QList<Name> shared { { "EMISORA", 0x00 }, { "EMISORA" }, { "JUAN" }, { "EMISORA", 0x20 } };
    QTest::newRow("person") << perPerson << int(Mode::Answer) << "emisora"
                            << "vppedro"
                            << "";
    QTest::newRow("computer") << shared << int(Mode::Answer) << "emisora"
                              << "EMISORA"
                              << "";
    QTest::newRow("no messenger") << QList<Name> { { "EMISORA", 0x00 }, { "EMISORA", 0x20 }, { "OFICINA", 0x03, true } }
                                  << int(Mode::Answer) << "emisora"
                                  << "emisora"
                                  << "El equipo emisora (127.0.0.1), del que llegó el mensaje de vppedro, no recibe";
    // Nothing listens on that port: the system says so at once.
    QTest::newRow("no name service")
        << shared << -1 << "emisora"
        << "emisora"
        << "El equipo emisora (127.0.0.1), del que llegó el mensaje de vppedro, no contesta";
}

// "&Responder" in a pop-up asks the computer the message came from, and writes to whom it
// says; when it receives nothing, the user is told before the main window opens. (What the
// computer may say, and lies, are tst_ReplyRule's.)
void tst_Receiving::replyGoesWhereTheSendingComputerSays()
{
    QFETCH(QList<FakeNameService::Name>, names);
    QFETCH(int, mode);
    QFETCH(QString, computer);
    QFETCH(QString, replyTo);
    QFETCH(QString, box);
    FakeNameService nameService(names, FakeNameService::Mode(std::max(mode, 0)));
    Delivery::Request p;
    p.mailbox = m_mailbox.toStdString();
    p.from = "vppedro";
    p.to = "juan";
    p.computer = computer.toStdString();
    p.address = "127.0.0.1";
    p.file = m_root.filePath(QStringLiteral("msg")).toStdString();
    QVERIFY(writeFile(QString::fromStdString(p.file), "¿vienes?"));
    QVERIFY(Delivery::deliver(p, kJanuary, 1, 42).delivered);
    auto r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), 1);
    quint16 port = nameService.port();
    if (mode < 0) {
        // A port that was just given up.
        QUdpSocket closed;
        QVERIFY(closed.bind(QHostAddress::LocalHost, 0));
        port = closed.localPort();
    }
    r->replyRule().setNameServicePort(port);
    qsizetype boxesAtReply = -1;
    QSignalSpy replies(r.get(), &Receiving::reply);
    connect(r.get(), &Receiving::reply, this, [&] { boxesAtReply = m_rt.m_boxes.size(); });
    QPointer<QPushButton> button = child<QPushButton>(r->openWindows().at(0), QStringLiteral("cmdReply"));
    button->click();
    // While the computer is asked, the pop-up stays, and cannot ask again.
    QVERIFY(!button->isEnabled());
    QVERIFY(QGuiApplication::overrideCursor());
    QTRY_COMPARE_WITH_TIMEOUT(replies.size(), 1, ReplyRule::kBoundMs + 3000);
    QCOMPARE(replies.at(0).at(0).toString(), replyTo);
    QTRY_VERIFY(!button);
    QCOMPARE(r->openWindows().size(), 0);
    if (box.isEmpty()) {
        QCOMPARE(m_rt.m_boxes.size(), 0);
    } else {
        QCOMPARE(m_rt.m_boxes.size(), 1);
        QVERIFY2(m_rt.m_boxes.at(0).text.startsWith(box), qPrintable(m_rt.m_boxes.at(0).text));
        QCOMPARE(boxesAtReply, 1);
    }
    QVERIFY(mode < 0 || nameService.questions() >= 1);
    // The busy pointer goes with the question.
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(!r->replyRule().asking());
}

void tst_Receiving::mailboxDeletedAndMadeAgain()
{
    auto r = startReceiving(m_dataDir);
    QSignalSpy changes(r.get(), &Receiving::mailboxChanged);
    QVERIFY(QDir(m_mailbox).removeRecursively());
    QTRY_COMPARE(changes.size(), 1);
    QVERIFY(!r->mailboxExists());
    QVERIFY(QDir().mkpath(m_mailbox));
    QTRY_COMPARE(changes.size(), 2);
    QVERIFY(r->mailboxExists());
    deliver("de nuevo");
    QTRY_COMPARE_WITH_TIMEOUT(r->openWindows().size(), 1, 1000);
}

void tst_Receiving::popUpsAreBoundedAndCascaded()
{
    for (int i = 0; i < Receiving::kMaxOpen + 2; ++i)
        deliver(QByteArray::number(i), kJanuary + i);
    auto r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), Receiving::kMaxOpen);
    QCOMPARE(r->history().model().rowCount(), Receiving::kMaxOpen + 2);
    QSet<QPoint> places;
    for (const frmReceived *w : r->openWindows())
        places.insert(w->pos());
    QCOMPARE(places.size(), Receiving::kMaxOpen);
    // Closing one lets the next waiting one up, in its place.
    QPointer<frmReceived> closed = r->openWindows().at(3);
    const QPoint freePlace = closed->pos();
    closed->close();
    QTRY_VERIFY(closed.isNull());
    QCOMPARE(r->openWindows().size(), Receiving::kMaxOpen);
    QCOMPARE(r->openWindows().last()->pos(), freePlace);
    QCOMPARE(child<QPlainTextEdit>(r->openWindows().last(), QStringLiteral("txtMensaje"))->toPlainText(),
        QStringLiteral("10"));
    r.reset();
    // The last one never popped up: it does at the next start, alone.
    r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), 1);
}

QByteArray tst_Receiving::historyLine(const QString &id, const QByteArray &arrival)
{
    return R"({"id":")" + id.toLatin1() + R"(","de":"ana","para":"of","llegada":)" + arrival
        + R"(,"cortado":false,"texto":"hola"})";
}

// A history that is not what the program writes (does not parse, another shape, entries of the
// wrong kind or out of range, a broken journal line) is set aside whole under a name no earlier
// copy has, said, and what of it was valid is kept and written back.
void tst_Receiving::invalidHistoryIsSetAsideLosingNothing_data()
{
    const QString a = QStringLiteral("m1767225600.000000001.1");
    const QString b = QStringLiteral("m1767225601.000000001.1");
    const QByteArray good = historyLine(b, "1767225601000");
    const auto historyFile = [&](const QByteArray &messages, const QByteArray &shown = "[]") {
        return R"({"formato":1,"mensajes":[)" + messages + R"(],"mostrados":)" + shown + "}";
    };
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("validKept"); // messages kept
    QTest::newRow("not JSON") << QStringLiteral("recibidos.json") << historyFile(good).left(40) << 0;
    QTest::newRow("another shape") << "recibidos.json"
                                   << QByteArray(R"({"formato":"uno","mensajes":{"a":1},"mostrados":"x"})") << 0;
    QTest::newRow("arrival as text") << QStringLiteral("recibidos.json")
                                     << historyFile(historyLine(a, "\"1767225600000\"") + ',' + good) << 1;
    QTest::newRow("numeric id") << QStringLiteral(
        "recibidos.json") << historyFile(good + ',' + historyLine(QString(), "1").replace(R"("id":"")", R"("id":5)"))
                                << 1;
    QTest::newRow("arrival out of range")
        << QStringLiteral("recibidos.json") << historyFile(historyLine(a, "1e300") + ',' + good) << 1;
    QTest::newRow("shown entry not valid") << QStringLiteral("recibidos.json") << historyFile(good, "[7]") << 1;
    QTest::newRow("journal line") << QStringLiteral("recibidos.diario") << good + "\n{\"mostrado\":3}\n" << 1;
}

void tst_Receiving::invalidHistoryIsSetAsideLosingNothing()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, validKept);
    const QString path = m_dataDir + QLatin1Char('/') + name;
    QVERIFY(writeFile(path, bytes));
    // Copies set aside earlier in this second and the next keep their contents.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList earlier;
    for (int s = 0; s < 2; ++s) {
        earlier << path + QStringLiteral(".ilegible-") + now.addSecs(s).toString(QStringLiteral("yyyyMMddHHmmss"));
        QVERIFY(writeFile(earlier.last(), "anterior"));
    }

    auto r = startReceiving(m_dataDir);
    QCOMPARE(m_rt.m_boxes.size(), 1);
    QVERIFY2(
        m_rt.m_boxes.at(0).text.startsWith(QStringLiteral("No se puede leer la lista de mensajes recibidos: ") + path),
        qPrintable(m_rt.m_boxes.at(0).text));
    QVERIFY(m_rt.m_boxes.at(0).text.contains(QStringLiteral("se ha guardado aparte como")));
    for (const QString &earlierCopy : std::as_const(earlier))
        QCOMPARE(readFile(earlierCopy), QByteArray("anterior"));
    const QStringList setAside
        = QDir(m_dataDir).entryList({ name + QStringLiteral(".ilegible-*") }, QDir::Files, QDir::Name);
    QCOMPARE(setAside.size(), 3);
    QStringList copies;
    for (const QString &f : setAside) {
        if (readFile(m_dataDir + QLatin1Char('/') + f) == bytes)
            copies << f;
    }
    QCOMPARE(copies.size(), 1);
    QVERIFY(m_rt.m_boxes.at(0).text.endsWith(m_dataDir + QLatin1Char('/') + copies.first()));
    QCOMPARE(r->history().model().rowCount(), validKept);

    // What was valid is written back, and read back as it was.
    QTRY_VERIFY(!r->history().pending());
    r.reset();
    m_rt.m_boxes.clear();
    History reloaded(m_dataDir);
    QVERIFY2(reloaded.load(), qPrintable(reloaded.error()));
    QCOMPARE(reloaded.model().rowCount(), validKept);
    if (validKept)
        QCOMPARE(reloaded.model().rows().first().arrival.toSecsSinceEpoch(), kJanuary + 1);
}

// A flood: a bounded number of pop-ups and of messages waiting for one; the rest only counted in
// one window that opens the list, where every one of them is. "Cerrar todos" closes every pop-up.
void tst_Receiving::floodGathersInOneWindowAndCloseAllClosesEveryPopUp()
{
    constexpr int kTotal = 200;
    for (int i = 0; i < kTotal; ++i)
        deliver(QByteArray::number(i), kJanuary + i);
    auto r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), Receiving::kMaxOpen);
    QCOMPARE(r->waiting(), Receiving::kMaxWaiting);
    frmMoreReceived *more = r->moreReceived();
    QVERIFY(more && more->isVisible());
    const int gathered = kTotal - Receiving::kMaxOpen - Receiving::kMaxWaiting;
    QCOMPARE(more->count(), gathered);
    QCOMPARE(more->windowTitle(), QStringLiteral("Más mensajes recibidos"));
    QVERIFY(child<QLabel>(more, QStringLiteral("lblCount"))
                ->text()
                .startsWith(QStringLiteral("Han llegado 140 mensajes más")));
    QCOMPARE(r->history().model().rowCount(), kTotal);
    // While it is open, what arrives joins it.
    deliver("otro", kJanuary + kTotal);
    QTRY_COMPARE(more->count(), gathered + 1);
    QCOMPARE(r->history().model().rowCount(), kTotal + 1);

    auto *closeAll = child<QPushButton>(r->openWindows().first(), QStringLiteral("cmdCloseAll"));
    QVERIFY(closeAll->isVisible());
    QCOMPARE(closeAll->text(), QStringLiteral("Cerrar &todos"));
    closeAll->click();
    QTRY_COMPARE(r->openWindows().size(), 0);
    QCOMPARE(r->waiting(), 0);
    QCOMPARE(r->moreReceived(), more);
    QCOMPARE(more->count(), gathered + 1 + Receiving::kMaxWaiting);

    child<QPushButton>(more, QStringLiteral("cmdShowReceived"))->click();
    QTRY_VERIFY(!r->moreReceived());
    QVERIFY(r->receivedWindow() && r->receivedWindow()->isVisible());
    QTRY_VERIFY(!r->history().pending());
    r.reset();

    // All were told: nothing pops up again, and the history holds each one once.
    r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), 0);
    QVERIFY(!r->moreReceived());
    QCOMPARE(r->history().model().rowCount(), kTotal + 1);
    // One pop-up alone offers no "Cerrar todos".
    deliver("solo", kJanuary + kTotal + 1);
    QTRY_COMPARE(r->openWindows().size(), 1);
    QVERIFY(!child<QPushButton>(r->openWindows().first(), QStringLiteral("cmdCloseAll"))->isVisible());
}

// Records are trusted for their owner: a mailbox that another user could put in place is not read.
void tst_Receiving::mailboxOthersCouldReplaceIsNotRead()
{
    // Its folder open to everybody, who could delete it and make their own.
    const QString openFolder = m_root.filePath(QStringLiteral("abierta%1").arg(m_run));
    m_mailbox = openFolder + QStringLiteral("/buzon");
    QVERIFY(QDir().mkpath(m_mailbox));
    QVERIFY(!deliver("en carpeta abierta").isEmpty());
    QVERIFY(setMode(openFolder, 0777));
    auto r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), 0);
    QCOMPARE(r->history().model().rowCount(), 0);
    r.reset();

    // Deleted and made again by another user, who plants a record of their own.
    if (::geteuid() != 0)
        QSKIP("needs root for the rest: the mailbox made again is given to another user");
    QVERIFY(setMode(openFolder, 0755));
    r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), 1);
    QVERIFY(QDir(m_mailbox).removeRecursively());
    QVERIFY(QDir().mkpath(m_mailbox));
    QCOMPARE(::chown(QFile::encodeName(m_mailbox).constData(), 65534, 65534), 0);
    const QString planted = deliver("Mensaje de administrador: cambie su clave en ...", kJanuary + 5, "admin");
    QCOMPARE(::chown(QFile::encodeName(m_mailbox + QLatin1Char('/') + planted).constData(), 65534, 65534), 0);
    QTest::qWait(300);
    QCOMPARE(r->openWindows().size(), 1);
    QCOMPARE(r->history().model().rowCount(), 1);
}

// A termination signal ends the program even while a start-up box waits for an answer.
void tst_Receiving::terminationSignalEndsTheProgramDuringAStartUpBox()
{
    const QString dataDir = m_root.filePath(QStringLiteral("senal"));
    QVERIFY(writeFile(dataDir + QStringLiteral("/velrisa/recibidos.json"), "{roto"));
    QProcess velrisa;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataDir);
    env.insert(QStringLiteral("VELRISA_BUZON"), m_mailbox);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    velrisa.setProcessEnvironment(env);
    velrisa.start(QStringLiteral(VELRISA_BINARY), { QStringLiteral("-min") });
    QVERIFY(velrisa.waitForStarted());
    // Set aside just before the box says so.
    QTRY_COMPARE_WITH_TIMEOUT(
        QDir(dataDir + QStringLiteral("/velrisa")).entryList({ QStringLiteral("recibidos.json.ilegible-*") }).size(), 1,
        10000);
    QTest::qWait(300);
    QCOMPARE(velrisa.state(), QProcess::Running);
    velrisa.terminate();
    const bool finished = velrisa.waitForFinished(5000);
    if (!finished)
        velrisa.kill();
    QVERIFY(finished);
    QCOMPARE(velrisa.exitStatus(), QProcess::NormalExit);
    QCOMPARE(velrisa.exitCode(), 0);
}

void tst_Receiving::historyThatCannotBeSavedIsReportedOnce()
{
    // Folders put in the places of the file and its journal once they were read: said once,
    // not repeated.
    auto r = startReceiving(m_dataDir);
    QFile::remove(m_dataDir + QStringLiteral("/recibidos.json"));
    QVERIFY(QDir().mkpath(m_dataDir + QStringLiteral("/recibidos.json")));
    QVERIFY(QDir().mkpath(m_dataDir + QStringLiteral("/recibidos.diario")));
    deliver("uno");
    QTRY_COMPARE(r->openWindows().size(), 1);
    QTRY_COMPARE(m_rt.m_boxes.size(), 1);
    deliver("dos", kJanuary + 1);
    QTRY_COMPARE(r->openWindows().size(), 2);
    QTest::qWait(3 * Receiving::kSaveDelayMs);
    QCOMPARE(m_rt.m_boxes.size(), 1);
    QVERIFY(m_rt.m_boxes.at(0).text.contains(m_dataDir + QStringLiteral("/recibidos.")));
    QCOMPARE(m_rt.m_boxes.at(0).icon, Runtime::Icon::Critical);
}

// What comes from the network (the sender's name, the called name, the text) is shown as
// written, in the pop-up and in every tooltip of the history, never taken for markup.
void tst_Receiving::markupIsShownAsWritten_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("message"); // sender, called name, text
    QTest::addColumn<int>("field"); // which of them the column shows
    const QString name = QStringLiteral("<i>ana</i> &amp; co");
    QTest::newRow("sender column") << int(ReceivedModel::ColFrom) << QStringList { name, "oficina1", "hola" } << 0;
    QTest::newRow("called name column") << int(ReceivedModel::ColTo) << QStringList { "ana", name, "hola" } << 1;
    QTest::newRow("text column") << int(ReceivedModel::ColMessage)
                                 << QStringList { "ana", "oficina1", "<b>urgente</b> & <img src=\"x\">\nfin" } << 2;
}

void tst_Receiving::markupIsShownAsWritten()
{
    QFETCH(int, column);
    QFETCH(QStringList, message);
    QFETCH(int, field);
    deliver(message.at(2).toUtf8(), kJanuary, message.at(0).toUtf8().constData(), message.at(1).toUtf8().constData());
    auto r = startReceiving(m_dataDir);
    QCOMPARE(r->openWindows().size(), 1);
    QCOMPARE(child<QPlainTextEdit>(r->openWindows().at(0), QStringLiteral("txtMensaje"))->toPlainText(), message.at(2));
    const QString tooltip = r->history().model().index(0, column).data(Qt::ToolTipRole).toString();
    QString shownText = tooltip;
    if (Qt::mightBeRichText(tooltip)) {
        QTextDocument document;
        document.setHtml(tooltip);
        shownText = document.toPlainText();
    }
    QCOMPARE(shownText, message.at(field));
}

void tst_Receiving::receivedMenuAndReplyInTheMainWindow()
{
    // prepareEnvironment's mailbox, not there yet.
    m_mailbox = Mailbox::defaultPath();
    QVERIFY(!QFileInfo::exists(m_mailbox));
    FakeRuntime rt;
    rt.m_appPath = m_root.path();
    Startup startup(rt);
    startup.start();
    frmPrincipal &window = startup.mainWindow();
    const auto items = [&window] {
        QStringList names;
        for (const QAction *a : window.mnuApp().actions())
            names << a->objectName();
        return names;
    };
    const QStringList designed { "mnuEnviar", "mnuEnviados", "munS1", "mnuAcerca", "mnuSP2", "mnuSalir" };
    QCOMPARE(items(), designed);

    QVERIFY(QDir().mkpath(m_mailbox));
    QStringList withReceived = designed;
    withReceived.insert(2, QStringLiteral("mnuReceived"));
    QTRY_COMPARE(items(), withReceived);
    QAction *receivedItem = window.mnuApp().actions().at(2);
    QCOMPARE(receivedItem->text(), QStringLiteral("Mostrar mensajes &recibidos"));

    window.hide();
    deliver("¿comemos?", kJanuary, "pepe");
    QTRY_COMPARE_WITH_TIMEOUT(window.receiving()->openWindows().size(), 1, 1000);
    child<QPushButton>(window.receiving()->openWindows().first(), QStringLiteral("cmdReply"))->click();
    QTRY_COMPARE(window.receiving()->openWindows().size(), 0);
    QVERIFY(window.isVisible());
    QCOMPARE(child<QComboBox>(&window, QStringLiteral("txtDestino"))->currentText(), QStringLiteral("pepe"));
    QVERIFY(child<QRadioButton>(&window, QStringLiteral("optGrupo(0)"))->isChecked());
    auto *message = child<QLineEdit>(&window, QStringLiteral("txtMensaje"));
    QVERIFY(message->text().isEmpty());
    QTRY_COMPARE(QApplication::focusWidget(), message);
    // What the user wrote stays through the next "&Responder"; only the recipients change.
    QTest::keyClicks(message, QStringLiteral("Vale, a las dos"));
    window.hide();
    deliver("¿y mañana?", kJanuary + 1, "rosa");
    QTRY_COMPARE_WITH_TIMEOUT(window.receiving()->openWindows().size(), 1, 1000);
    child<QPushButton>(window.receiving()->openWindows().first(), QStringLiteral("cmdReply"))->click();
    QTRY_COMPARE(window.receiving()->openWindows().size(), 0);
    QVERIFY(window.isVisible());
    QCOMPARE(child<QComboBox>(&window, QStringLiteral("txtDestino"))->currentText(), QStringLiteral("rosa"));
    QCOMPARE(message->text(), QStringLiteral("Vale, a las dos"));
    QTRY_COMPARE(QApplication::focusWidget(), message);

    receivedItem->trigger();
    frmReceivedList *list = window.receiving()->receivedWindow();
    QVERIFY(list && list->isVisible());
    QCOMPARE(list->windowTitle(), QStringLiteral("Mensajes recibidos"));
    const QAbstractItemModel *model = child<QTableView>(list, QStringLiteral("ListView1"))->model();
    QStringList row;
    for (int c = 0; c < model->columnCount(); ++c)
        row << model->headerData(c, Qt::Horizontal).toString() + QLatin1Char('=')
                + model->index(0, c).data().toString();
    QCOMPARE(
        row, QStringList({ "De=pepe", "Equipo=", "Para=oficina1", "Mensaje=¿comemos?", "Fecha=01/01/2026 00:00:00" }));

    QVERIFY(QDir(m_mailbox).removeRecursively());
    QTRY_COMPARE(items(), designed);
}

// "&Salir" right after a message popped up, within the history's delay: the pop-up is on
// the disk as shown, so the message does not pop up again at the next start.
void tst_Receiving::quitFromTheTrayMenuKeepsWhatWaitedToBeSaved()
{
    m_mailbox = Mailbox::defaultPath();
    QVERIFY(QDir().mkpath(m_mailbox));
    FakeRuntime rt;
    rt.m_appPath = m_root.path();
    rt.m_userDataPath = m_dataDir;
    auto startup = std::make_unique<Startup>(rt);
    startup->start();
    QAction *quitItem = child<QAction>(&startup->mainWindow().mnuApp(), QStringLiteral("mnuSalir"));
    QVERIFY(quitItem);

    // "&Salir" the moment the pop-up shows, before any delayed save could run, and the disk
    // read at once, as nothing would run after an abrupt end (rt.end(), which fails the test).
    bool quit = false;
    bool shownOnDisk = false;
    const auto filter = std::make_unique<EventFilter>([&](QObject *watched, QEvent *event) {
        if (quit || event->type() != QEvent::Show || !qobject_cast<frmReceived *>(watched))
            return;
        quit = true;
        quitItem->trigger();
        History onDisk(m_dataDir);
        shownOnDisk = onDisk.load() && onDisk.model().rowCount() == 1 && onDisk.shown(onDisk.model().rows().first().id);
    });
    qApp->installEventFilter(filter.get());
    deliver("¿comemos?");
    QTRY_VERIFY_WITH_TIMEOUT(quit, 5000);
    qApp->removeEventFilter(filter.get());
    QVERIFY(startup->ending());
    QVERIFY(shownOnDisk);
    // What the user sees: nothing of the program is left on the screen.
    QVERIFY(!startup->mainWindow().isVisible());
    QVERIFY(!startup->taskIco().isVisible());
    for (frmReceived *w : startup->receiving()->openWindows())
        QVERIFY(!w->isVisible());
    startup.reset();
    QVERIFY(QDir(m_mailbox).removeRecursively());
}

// What the list shows on the screen after messages arrive while it is open is what it would
// draw afresh: no row half drawn, however the list scrolled to show the newest.
void tst_Receiving::rowsArrivingWhileTheListIsOpenAreDrawnWhole()
{
    auto r = startReceiving(m_dataDir);
    r->showReceived();
    frmReceivedList *window = r->receivedWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *list = child<QTableView>(window, QStringLiteral("ListView1"));
    QWidget *viewport = list->viewport();
    const auto onScreen = [window, viewport] {
        const QRect area(viewport->mapTo(window, QPoint()), viewport->size());
        return window->screen()->grabWindow(window->winId(), area.x(), area.y(), area.width(), area.height()).toImage();
    };
    const auto drawn = [viewport] { return viewport->grab().toImage().convertToFormat(QImage::Format_RGB32); };
    // More than the list has room for, so that the newest ones are scrolled into view.
    for (int i = 0; i < 16; ++i) {
        deliver(QByteArray("mensaje ") + QByteArray::number(i), kJanuary + i);
        QTRY_COMPARE_WITH_TIMEOUT(r->history().model().rowCount(), i + 1, 1000);
        QTRY_COMPARE(onScreen().convertToFormat(QImage::Format_RGB32), drawn());
    }
    QVERIFY(list->verticalScrollBar()->value() > 0);
}

// The history is a place to read: Enter or a double click opens a message whole, with
// "&Responder"; Ctrl+C copies the chosen messages whole, as a person reads them.
void tst_Receiving::historyMessageOpensWholeAndIsCopiedWhole()
{
    const QString longText = QStringLiteral("Primera línea de un mensaje largo, más de lo que cabe en la lista,\n"
                                            "segunda línea\n\ny la última tras una en blanco");
    deliver(longText.toUtf8(), kJanuary, "ana", "oficina1");
    deliver("¿comemos?", kJanuary + 3661, "pepe", "oficina2");
    auto r = startReceiving(m_dataDir);
    QSignalSpy replies(r.get(), &Receiving::reply);
    // Only the history's own windows from here on.
    cleanup();
    r->showReceived();
    frmReceivedList *window = r->receivedWindow();
    QVERIFY(activate(window));
    auto *list = child<QTableView>(window, QStringLiteral("ListView1"));
    const auto openPopUps = [window] { return window->findChildren<frmReceived *>(); };

    // Enter on the first row opens it, in front and with the keyboard; again, the same one comes forward.
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(openPopUps().size(), 1);
    frmReceived *firstPopUp = openPopUps().at(0);
    QVERIFY(window->isVisible());
    QCOMPARE(child<QPlainTextEdit>(firstPopUp, QStringLiteral("txtMensaje"))->toPlainText(), longText);
    QCOMPARE(child<QLabel>(firstPopUp, QStringLiteral("lblHeading"))->text(),
        QStringLiteral("Mensaje de ana a oficina1 el 01/01/2026 a las 00:00:00"));
    QTRY_VERIFY(firstPopUp->isActiveWindow());
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(openPopUps().size(), 1);
    QTRY_VERIFY(firstPopUp->isActiveWindow());

    // A double click on the second; its "&Responder" answers its sender.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const QPoint secondRow = list->visualRect(list->model()->index(1, ReceivedModel::ColMessage)).center();
    // As the window system gives it: a click, then the second press as a double click.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, secondRow);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, secondRow);
    QTRY_COMPARE(openPopUps().size(), 2);
    frmReceived *secondPopUp = openPopUps().at(0) == firstPopUp ? openPopUps().at(1) : openPopUps().at(0);
    QCOMPARE(
        child<QPlainTextEdit>(secondPopUp, QStringLiteral("txtMensaje"))->toPlainText(), QStringLiteral("¿comemos?"));
    child<QPushButton>(secondPopUp, QStringLiteral("cmdReply"))->click();
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0).at(0).toString(), QStringLiteral("pepe"));
    QTRY_COMPARE(openPopUps().size(), 1);

    // Both chosen, Ctrl+C: each whole, in the list's order.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    list->setFocus();
    QGuiApplication::clipboard()->clear();
    list->setCurrentIndex(list->model()->index(1, 0));
    QTest::keyClick(list, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(list->selectionModel()->selectedRows().size(), 2);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
        QStringLiteral("Fecha: 01/01/2026 00:00:00\nDe: ana\nPara: oficina1\n") + longText
            + QStringLiteral("\n\nFecha: 01/01/2026 01:01:01\nDe: pepe\nPara: oficina2\n¿comemos?\n"));
    // Enter on the list still closes it where there is no row to open.
    r->history().model().replace({});
    QVERIFY(!list->currentIndex().isValid());
    QTest::keyClick(list, Qt::Key_Return);
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(tst_Receiving)
#include "tst_Receiving.moc"
