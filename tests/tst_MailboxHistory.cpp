#include "fakes/TestSupport.h"
#include "receive/History.h"
#include "receive/Mailbox.h"
#include "receive/ReceivedModel.h"
#include "receiver/Delivery.h"
#include "receiver/Record.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
constexpr int64_t kJanuary = 1767225600; // 2026-01-01 00:00:00 UTC
} // namespace

// Receiving's store without a window: the mailbox read as hostile input, and the history kept
// across runs, bounded and cut short without loss.
class tst_MailboxHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void mailboxReadsOnlyLegitimateRecords();
    void historyIsBounded();
    void historyWritesOnlyWhatIsNewAndSurvivesACut();

private:
    // Delivers through the receiver's own logic, as smbd's command would.
    QString deliver(
        const QByteArray &text, int64_t seconds = kJanuary, const char *from = "ana", const char *to = "oficina1");
    // A history file line for one message, as the history writes it.
    static QByteArray historyLine(const QString &id, const QByteArray &arrival = "1767225600000");

    QTemporaryDir m_root;
    QString m_mailbox;
    QString m_dataDir;
    int m_run = 0;
};

void tst_MailboxHistory::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY(prepareEnvironment(m_root.path()));
    qputenv("TZ", "UTC");
    ::tzset();
}

void tst_MailboxHistory::init()
{
    ++m_run;
    m_mailbox = m_root.filePath(QStringLiteral("buzon%1").arg(m_run));
    m_dataDir = m_root.filePath(QStringLiteral("datos%1/velrisa").arg(m_run));
    QVERIFY(QDir().mkpath(m_mailbox));
}

QString tst_MailboxHistory::deliver(const QByteArray &text, int64_t seconds, const char *from, const char *to)
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

QByteArray tst_MailboxHistory::historyLine(const QString &id, const QByteArray &arrival)
{
    return R"({"id":")" + id.toLatin1() + R"(","de":"ana","para":"of","llegada":)" + arrival
        + R"(,"cortado":false,"texto":"hola"})";
}

void tst_MailboxHistory::mailboxReadsOnlyLegitimateRecords()
{
    if (::geteuid() != 0)
        QSKIP("needs root: the forged record is given to another user");
    const QString good = deliver("hola");
    const QString goodCopy = m_root.filePath(QStringLiteral("copia"));
    QVERIFY(QFile::copy(m_mailbox + QLatin1Char('/') + good, goodCopy));
    const auto name = [this](int n) {
        return m_mailbox + QLatin1Char('/') + QString::fromStdString(Record::fileName(kJanuary, n, 7));
    };
    // Named like records: a link to a good one, a fifo, a huge file, somebody else's good
    // record (a forgery), a broken one; and a good record under a temporary's name.
    QVERIFY(QFile::link(goodCopy, name(1)));
    QCOMPARE(::mkfifo(QFile::encodeName(name(2)).constData(), 0644), 0);
    QVERIFY(writeFile(name(3), QByteArray(Record::kMaxRecordBytes + 1, 'x')));
    QVERIFY(QFile::copy(goodCopy, name(4)));
    QCOMPARE(::chown(QFile::encodeName(name(4)).constData(), 65534, 65534), 0);
    QVERIFY(writeFile(name(5), readFile(goodCopy).replace("Longitud: 4", "Longitud: 9")));
    QVERIFY(QFile::copy(goodCopy, m_mailbox + QStringLiteral("/.") + good));

    Mailbox mailbox(m_mailbox);
    QSignalSpy arrivals(&mailbox, &Mailbox::arrived);
    mailbox.watch();
    QCOMPARE(arrivals.size(), 1);
    const auto readMessages = arrivals.at(0).at(0).value<QList<Mailbox::Message>>();
    QCOMPARE(readMessages.size(), 1);
    QCOMPARE(readMessages.at(0).id, good);
    QCOMPARE(readMessages.at(0).from, QStringLiteral("ana"));
    QCOMPARE(readMessages.at(0).text, QStringLiteral("hola"));
    QCOMPARE(readMessages.at(0).arrival.toSecsSinceEpoch(), kJanuary);
    QVERIFY(mailbox.completeRead());
    QCOMPARE(mailbox.present().size(), 6);
    // Nothing is read twice in a run.
    mailbox.read();
    QCOMPARE(arrivals.size(), 1);
}

void tst_MailboxHistory::historyIsBounded()
{
    // A data folder that others may look into.
    QVERIFY(QDir().mkpath(m_dataDir));
    QVERIFY(QFile::setPermissions(m_dataDir, QFileDevice::Permissions(0x7755)));
    History h(m_dataDir);
    for (int i = 0; i < History::kMaxMessages + 5; ++i) {
        const QString id = QString::fromStdString(Record::fileName(kJanuary + i, 0, 1));
        QVERIFY(h.add({ id, QStringLiteral("ana"), QStringLiteral("of"),
            QDateTime::fromSecsSinceEpoch(kJanuary + i, Qt::UTC), false, QStringLiteral("texto %1").arg(i), {}, {} }));
    }
    QCOMPARE(h.model().rowCount(), History::kMaxMessages);
    QCOMPARE(h.model().rows().first().text, QStringLiteral("texto 5"));
    h.markShown(h.model().rows().last().id);
    QVERIFY2(h.save(), qPrintable(h.error()));
    QCOMPARE(QFileInfo(h.path()).permissions() & 0x0077, QFileDevice::Permissions());

    History reloaded(m_dataDir);
    QVERIFY(reloaded.load());
    QCOMPARE(reloaded.model().rowCount(), History::kMaxMessages);
    QCOMPARE(reloaded.model().rows().last().text, QStringLiteral("texto 1004"));
    QCOMPARE(reloaded.model().rows().last().arrival, h.model().rows().last().arrival);
    QVERIFY(reloaded.shown(h.model().rows().last().id));
}

void tst_MailboxHistory::historyWritesOnlyWhatIsNewAndSurvivesACut()
{
    const QString longText(1600, QLatin1Char('x'));
    const auto message = [&](int i) {
        return Mailbox::Message { QString::fromStdString(Record::fileName(kJanuary + i, 0, 1)), QStringLiteral("ana"),
            QStringLiteral("of"), QDateTime::fromSecsSinceEpoch(kJanuary + i, Qt::UTC), false, longText, {}, {} };
    };
    History h(m_dataDir);
    QVERIFY(h.load());
    for (int i = 0; i < History::kMaxMessages; ++i)
        h.add(message(i));
    QVERIFY2(h.save(), qPrintable(h.error()));
    const QByteArray fullFile = readFile(h.path());
    QVERIFY(fullFile.size() > History::kMaxMessages * 1600);

    History next(m_dataDir);
    QVERIFY(next.load());
    for (int i = History::kMaxMessages; i < History::kMaxMessages + 20; ++i) {
        QVERIFY(next.add(message(i)));
        next.markShown(message(i).id);
        QVERIFY2(next.save(), qPrintable(next.error()));
    }
    QCOMPARE(readFile(h.path()), fullFile);
    const qint64 journalSize = QFileInfo(h.journalPath()).size();
    QVERIFY2(journalSize > 20 * 1600 && journalSize < 20 * 2000, qPrintable(QString::number(journalSize)));
    QCOMPARE(QFileInfo(h.journalPath()).permissions() & 0x0077, QFileDevice::Permissions());

    // Stopped while writing: a pop-up whose message did not reach the disk, then half a line.
    const QString lost = message(5000).id;
    QFile f(h.journalPath());
    QVERIFY(f.open(QIODevice::Append));
    f.write("{\"mostrado\":\"" + lost.toLatin1() + "\"}\n" + historyLine(message(5001).id).left(30));
    f.close();
    History afterCut(m_dataDir);
    QVERIFY2(afterCut.load(), qPrintable(afterCut.error()));
    QCOMPARE(afterCut.model().rowCount(), History::kMaxMessages);
    QCOMPARE(afterCut.model().rows().last().id, message(History::kMaxMessages + 19).id);
    QVERIFY(afterCut.shown(message(History::kMaxMessages + 19).id));
    QVERIFY(!afterCut.shown(lost));
    // The next write folds the journal, half line and all, into the file.
    QVERIFY(afterCut.pending());
    QVERIFY(afterCut.save());
    QVERIFY(!QFileInfo::exists(h.journalPath()));
    History folded(m_dataDir);
    QVERIFY(folded.load());
    QCOMPARE(folded.model().rowCount(), History::kMaxMessages);
    QCOMPARE(folded.model().rows().last().id, afterCut.model().rows().last().id);
    QVERIFY(folded.shown(afterCut.model().rows().last().id));
}

QTEST_GUILESS_MAIN(tst_MailboxHistory)
#include "tst_MailboxHistory.moc"
