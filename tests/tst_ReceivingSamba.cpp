#include "net/DisplayWindows.h"
#include "net/SambaHost.h"

#include "receiver/Record.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

QByteArray xdotool(const QStringList &args)
{
    return SambaHost::run(QString(), QStringLiteral("xdotool"), args, nullptr, 10000).trimmed();
}

// The first visible window with exactly this title, polled for up to ms.
QString findWindow(const QString &title, int ms)
{
    QElapsedTimer clock;
    clock.start();
    do {
        const QStringList ids
            = DisplayWindows::search({ "--onlyvisible", "--name", QLatin1Char('^') + title + QLatin1Char('$') });
        if (!ids.isEmpty())
            return ids.first();
        QTest::qWait(20);
    } while (clock.elapsed() < ms);
    return {};
}

// Ctrl+A (when asked) and Ctrl+C in the focused control of window w; what reached the clipboard.
QString copyText(const QString &w, bool selectAll = true)
{
    QGuiApplication::clipboard()->clear();
    xdotool({ "windowfocus", "--sync", w });
    if (selectAll)
        xdotool({ "key", "--window", w, "ctrl+a" });
    xdotool({ "key", "--window", w, "ctrl+c" });
    QElapsedTimer clock;
    clock.start();
    while (QGuiApplication::clipboard()->text().isEmpty() && clock.elapsed() < 3000)
        QTest::qWait(20);
    return QGuiApplication::clipboard()->text();
}

// The menu of the program `pid` open beside its tray icon `trayIcon`, polled for up to ms.
QString trayMenu(qint64 pid, const QString &trayIcon, int ms)
{
    const QString iconId = QString::number(trayIcon.toULongLong(nullptr, 16));
    QElapsedTimer clock;
    clock.start();
    do {
        for (const QString &w :
            DisplayWindows::search({ "--onlyvisible", "--pid", QString::number(pid), "--name", "^Velrisa$" })) {
            if (w != iconId)
                return w;
        }
        QTest::qWait(20);
    } while (clock.elapsed() < ms);
    return {};
}

// The program's icon embedded in the tray host's panel.
QString trayIconWindow()
{
    for (const QString &w : DisplayWindows::search({ "--class", "^trayer$" })) {
        const QByteArray tree = SambaHost::run(QString(), QStringLiteral("xwininfo"), { "-tree", "-id", w });
        for (const QByteArray &line : tree.split('\n')) {
            if (line.contains("(\"velrisa\" \"Velrisa\")"))
                return QString::fromLatin1(line.trimmed().split(' ').first());
        }
    }
    return {};
}

} // namespace

// Receiving end to end, as a user meets it: smbd on loopback hands each message to the real
// velrisa-recibe, the real program under X shows it, and `net send` (ours) sends.
class tst_ReceivingSamba : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void messagePopsUpIsAnsweredAndStaysInTheHistory();
    void floodFromEightSendersLosesNothingAndRepeatsNothing();
    void smbclientTextArrivesAsWritten();

private:
    void startVelrisa();
    void stopVelrisa();
    QJsonArray historyOnDisk() const;

    QTemporaryDir m_root;
    QString m_mailbox;
    // An address of this process alone: the same test may run elsewhere on the machine at once.
    QString m_address = QStringLiteral("127.%1.%2.50").arg(::getpid() / 250 % 250 + 1).arg(::getpid() % 250 + 1);
    QString m_programDir;
    QString m_clientConf;
    std::unique_ptr<SambaHost> m_samba;
    QProcess m_trayHost;
    std::unique_ptr<QProcess> m_velrisa;
};

void tst_ReceivingSamba::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root: smbd serves messages on port 139");
    for (const char *tool : { "smbd", "smbclient", "xdotool", "xwininfo", "trayer" }) {
        if (QStandardPaths::findExecutable(
                QString::fromLatin1(tool), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin") })
                .isEmpty())
            QSKIP(qPrintable(
                QStringLiteral("%1 is not installed (scripts/deps.sh installs it)").arg(QLatin1String(tool))));
    }
    QVERIFY(qEnvironmentVariableIsSet("DISPLAY"));
    QVERIFY(m_root.isValid());
    // The guest user that runs the receiver must reach the mailbox, and only it writes there.
    QVERIFY(QFile::setPermissions(m_root.path(), QFileDevice::Permissions(0x7755)));
    m_mailbox = m_root.filePath(QStringLiteral("buzon"));
    QVERIFY(QDir().mkpath(m_mailbox));
    QCOMPARE(::chown(QFile::encodeName(m_mailbox).constData(), 65534, 65534), 0);

    const QString sambaDir = m_root.filePath(QStringLiteral("samba"));
    QVERIFY(QDir().mkpath(sambaDir));
    m_samba = std::make_unique<SambaHost>(sambaDir,
        SambaHost::receiving(
            QStringLiteral("RECIBE"), QStringLiteral("OFICINA"), m_address, QStringLiteral(RECEIVER_BINARY), m_mailbox));
    QVERIFY2(m_samba->start(), qPrintable(m_samba->error()));

    m_programDir = m_root.filePath(QStringLiteral("programa"));
    QVERIFY(QDir().mkpath(m_programDir));
    QVERIFY(QFile::copy(QStringLiteral(NET_BINARY), m_programDir + QStringLiteral("/net")));
    QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINARY), m_programDir + QStringLiteral("/velrisa")));
    m_clientConf = SambaHost::writeClientConfig(m_root.path(), QStringLiteral("lo"), QStringLiteral("OFICINA"));
    QFile ini(m_programDir + QStringLiteral("/net.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(
        "[Equipos]\nRECIBE=" + m_address.toLatin1() + "\n[Opciones]\nConfiguracion=" + m_clientConf.toUtf8() + "\n");
    ini.close();

    m_trayHost.start(QStringLiteral("trayer"),
        { "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24", "--SetDockType", "true",
            "--transparent", "false" });
    QVERIFY(m_trayHost.waitForStarted());
}

void tst_ReceivingSamba::cleanupTestCase()
{
    stopVelrisa();
    m_samba.reset();
    m_trayHost.kill();
    m_trayHost.waitForFinished();
}

void tst_ReceivingSamba::startVelrisa()
{
    m_velrisa = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *sub : { "run", "config", "data" })
        QDir().mkpath(m_root.filePath(QString::fromLatin1(sub)));
    QFile::setPermissions(m_root.filePath(QStringLiteral("run")),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_root.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("VELRISA_BUZON"), m_mailbox);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_velrisa->setProcessEnvironment(env);
    m_velrisa->setProcessChannelMode(QProcess::ForwardedChannels);
    // In the tray only, as a receiving desktop starts it at log-in.
    m_velrisa->start(m_programDir + QStringLiteral("/velrisa"), { QStringLiteral("-min") });
    QVERIFY(m_velrisa->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!trayIconWindow().isEmpty(), 10000);
}

void tst_ReceivingSamba::stopVelrisa()
{
    if (!m_velrisa || m_velrisa->state() == QProcess::NotRunning)
        return;
    m_velrisa->terminate();
    QVERIFY(m_velrisa->waitForFinished(10000));
}

// The messages the history holds on disk: recibidos.json and the message lines of its journal.
QJsonArray tst_ReceivingSamba::historyOnDisk() const
{
    QJsonArray messages;
    QFile f(m_root.filePath(QStringLiteral("data/velrisa/recibidos.json")));
    if (f.open(QIODevice::ReadOnly))
        messages = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("mensajes")).toArray();
    QFile journal(m_root.filePath(QStringLiteral("data/velrisa/recibidos.diario")));
    if (journal.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : journal.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.contains(QStringLiteral("id")))
                messages.append(o);
        }
    }
    return messages;
}

void tst_ReceivingSamba::messagePopsUpIsAnsweredAndStaysInTheHistory()
{
    startVelrisa();
    const QString text = QStringLiteral("Hola, ¿qué tal? Año 2026");
    int exitCode = -1;
    const QByteArray output
        = SambaHost::run(QString(), m_programDir + QStringLiteral("/net"), { "send", "RECIBE", text }, &exitCode);
    QCOMPARE(exitCode, 0);
    QVERIFY2(output.startsWith("Mensaje enviado"), output.constData());

    const QString w = findWindow(QStringLiteral("Mensaje recibido"), 1000);
    QVERIFY2(!w.isEmpty(), "no window \"Mensaje recibido\" within one second");
    QCOMPARE(copyText(w), text);

    // "&Responder": the main window with the sender (smbd's %f: our user) as recipient.
    xdotool({ "key", "--window", w, "alt+r" });
    QTRY_VERIFY(findWindow(QStringLiteral("Mensaje recibido"), 0).isEmpty());
    const QString mainWindow = findWindow(QStringLiteral("elrisa"), 3000);
    QVERIFY(!mainWindow.isEmpty());
    xdotool({ "mousemove", "--window", mainWindow, "200", "38", "click", "1" });
    QCOMPARE(copyText(mainWindow), QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name));

    // A new run: nothing pops up again, and the history window lists it.
    stopVelrisa();
    startVelrisa();
    const QString trayIcon = trayIconWindow();
    xdotool({ "mousemove", "--window", trayIcon, "8", "8", "click", "3" });
    QVERIFY2(!trayMenu(m_velrisa->processId(), trayIcon, 3000).isEmpty(), "no tray menu within three seconds");
    xdotool({ "key", "r" }); // "Mostrar mensajes &recibidos"
    const QString listWindow = findWindow(QStringLiteral("Mensajes recibidos"), 3000);
    QVERIFY(!listWindow.isEmpty());
    // What waits pops up at start-up, before the tray icon that startVelrisa() waited for.
    QVERIFY(findWindow(QStringLiteral("Mensaje recibido"), 0).isEmpty());
    // The last row, copied as a person reads it: date, sender, called name, then the text.
    xdotool({ "windowfocus", "--sync", listWindow });
    xdotool({ "key", "--window", listWindow, "ctrl+End" });
    const QString copied = copyText(listWindow, false);
    QVERIFY2(copied.startsWith(QStringLiteral("Fecha: ")), qPrintable(copied));
    QVERIFY2(copied.endsWith(QStringLiteral("\nDe: %1\nPara: recibe\n%2\n")
                                 .arg(QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name), text)),
        qPrintable(copied));
    QCOMPARE(historyOnDisk().size(), 1);
    stopVelrisa();
}

// A flood from 8 senders at once: every message reaches the history once, while the windows
// open stay within the pop-ups' bound and one window counting the rest.
void tst_ReceivingSamba::floodFromEightSendersLosesNothingAndRepeatsNothing()
{
    startVelrisa();
    constexpr int kSenders = 8;
#ifdef VELRISA_CHECKING_BUILD
    // Under the sanitizers every process is some three times slower: there the flood stays
    // within the history's bound and the run is about memory; the plain build floods past it.
    constexpr int kPerSender = 50;
#else
    constexpr int kPerSender = 150;
#endif
    std::vector<std::unique_ptr<QProcess>> senders;
    for (int e = 0; e < kSenders; ++e) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral("/bin/sh"),
            { "-c",
                QStringLiteral("for i in $(seq 1 %1); do \"$0\" send RECIBE \"f%2-$i\" | head -n 1; done")
                    .arg(kPerSender)
                    .arg(e),
                m_programDir + QStringLiteral("/net") });
        senders.push_back(std::move(p));
    }
    // The history keeps the last 1,000: it is looked at all along, and every message must be
    // seen there, always under the same record.
    QHash<QString, QString> recordOf;
    QStringList repeated;
    const auto look = [&] {
        for (const QJsonValue &v : historyOnDisk()) {
            const QString text = v[QStringLiteral("texto")].toString();
            const QString id = v[QStringLiteral("id")].toString();
            const auto seen = recordOf.constFind(text);
            if (seen != recordOf.cend() && *seen != id)
                repeated << text;
            recordOf.insert(text, id);
        }
    };
    const auto countWindows = [](const QString &pattern) {
        return int(DisplayWindows::search({ "--onlyvisible", "--name", pattern }).size());
    };
    int popups = 0;
    int summaries = 0;
    // Within QtTest's watchdog (300 s a function), so that a slow run ends with what it saw.
    QElapsedTimer clock;
    clock.start();
    while (std::any_of(senders.cbegin(), senders.cend(), [](const std::unique_ptr<QProcess> &p) {
        return p->state() != QProcess::NotRunning;
    }) && clock.elapsed() < 240000) {
        QTest::qWait(200);
        look();
        popups = std::max(popups, countWindows(QStringLiteral("^Mensaje recibido$")));
        summaries = std::max(summaries, countWindows(QStringLiteral("s mensajes recibidos$")));
    }
    for (auto &p : senders) {
        QCOMPARE(p->state(), QProcess::NotRunning);
        QCOMPARE(p->readAll().count("Mensaje enviado"), kPerSender);
    }
    QSet<QString> expected;
    for (int e = 0; e < kSenders; ++e)
        for (int i = 1; i <= kPerSender; ++i)
            expected.insert(QStringLiteral("f%1-%2").arg(e).arg(i));
    QElapsedTimer settling;
    settling.start();
    do {
        QTest::qWait(200);
        look();
    } while (!QSet<QString>(expected).subtract(QSet<QString>(recordOf.keyBegin(), recordOf.keyEnd())).isEmpty()
        && settling.elapsed() < 30000);
    const QSet<QString> missing
        = QSet<QString>(expected).subtract(QSet<QString>(recordOf.keyBegin(), recordOf.keyEnd()));
    QVERIFY2(missing.isEmpty(),
        qPrintable(QStringLiteral("%1 never in the history: %2")
                       .arg(missing.size())
                       .arg(QStringList(missing.cbegin(), missing.cend()).join(' ').left(200))));
    QVERIFY2(repeated.isEmpty(), qPrintable(repeated.join(QLatin1Char(' ')).left(200)));
    QVERIFY2(popups >= 1 && popups <= 10, qPrintable(QString::number(popups)));
    QCOMPARE(summaries, 1);
    QFile status(QStringLiteral("/proc/%1/status").arg(m_velrisa->processId()));
    QVERIFY(status.open(QIODevice::ReadOnly));
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS") || line.startsWith("VmHWM"))
            qInfo("velrisa after %d messages: %s", kSenders * kPerSender, line.simplified().constData());
    }
    stopVelrisa();
}

// Samba's own client garbles what CP850 lacks on the way (raw UTF-8 pieces that smbd decodes
// as CP850); the receiver gives the record the text as written, or as much as smbclient reads.
void tst_ReceivingSamba::smbclientTextArrivesAsWritten()
{
    const QString letters = QStringLiteral("ñáéíóúüÑÁÉÍÓÚÜ¿¡");
    QString accented;
    for (int i = 0; i < 1500; ++i)
        accented += letters[i % letters.size()];
    const QByteArray longText = (QStringLiteral("€") + accented).toUtf8();
    const QByteArray whole = (QStringLiteral("€\n") + accented.left(790)).toUtf8();
    // smbclient reads 1,598 bytes of the long one: the euro and 797 letters, half of the next.
    const QList<QPair<QByteArray, QByteArray>> cases { { longText, longText.left(1597) }, { whole, whole } };
    for (const auto &[sent, expectedBytes] : cases) {
        const QStringList before = QDir(m_mailbox).entryList(QDir::Files);
        QProcess smbclient;
        smbclient.setProcessChannelMode(QProcess::MergedChannels);
        smbclient.start(QStringLiteral("smbclient"),
            { "-s", m_clientConf, "-M", "RECIBE", "-I", m_address, "-p", "139", "-N", "-U", "juan" });
        QVERIFY(smbclient.waitForStarted());
        smbclient.write(sent);
        smbclient.closeWriteChannel();
        QVERIFY(smbclient.waitForFinished(30000));
        const QByteArray output = smbclient.readAll();
        QVERIFY2(smbclient.exitCode() == 0 && !output.contains("cli_message returned"), output.constData());

        QStringList newFiles = QDir(m_mailbox).entryList(QDir::Files);
        for (const QString &n : before)
            newFiles.removeOne(n);
        QCOMPARE(newFiles.size(), 1);
        QFile f(m_mailbox + QLatin1Char('/') + newFiles.first());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const auto m = Record::parse(f.readAll().toStdString());
        QVERIFY(m);
        QCOMPARE(m->from, std::string("juan"));
        QCOMPARE(QByteArray::fromStdString(m->text), expectedBytes);
    }
}

QTEST_MAIN(tst_ReceivingSamba)
#include "tst_ReceivingSamba.moc"
