#include "addressbook/Module.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"
#include "mainwindow/frmPrincipal.h"
#include "runtime/IconoBarra.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QXmlStreamReader>

using namespace TestSupport;

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
// A sender's name and text that look like markup, as they come from the network.
const QString kTitle = QStringLiteral("Mensaje de <i>ana</i>");
const QString kText = QStringLiteral("Hola, <b>qué</b> tal? &amp;\n1 < 2");

// What a label shows: its text, or what that text says as markup where the label reads it so.
QString shownText(const QLabel *label)
{
    const Qt::TextFormat format = label->textFormat();
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(label->text())))
        return label->text();
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

// What a notification server shows of a body: its markup is XML, a few of HTML's tags. Each
// tag, and a body that is no such markup at all, shows in brackets.
QString readAsMarkup(const QString &body)
{
    QXmlStreamReader xml(QStringLiteral("<body>") + body + QStringLiteral("</body>"));
    QString text;
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        if (xml.isCharacters())
            text += xml.text();
        else if (xml.isStartElement() && xml.name() != QLatin1String("body"))
            text += QStringLiteral("[<%1>]").arg(xml.name());
    }
    if (xml.hasError())
        text += QStringLiteral("[%1]").arg(xml.errorString());
    return text;
}

// A desktop's StatusNotifier host, as far as Qt asks about one.
class Watcher final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

public:
    bool hostRegistered() const { return true; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &) { }
};

// A desktop's notification server that keeps the last notification, summary and body, in a file.
class NotificationServer final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit NotificationServer(const QString &file)
        : m_file(file)
    { }

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
        const QStringList &, const QVariantMap &, int)
    {
        QSaveFile f(m_file);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(QJsonDocument(QJsonObject { { "summary", summary }, { "body", body } }).toJson());
            f.commit();
        }
        return ++m_serial;
    }
    QStringList GetCapabilities() { return { QStringLiteral("body"), QStringLiteral("body-markup") }; }

private:
    QString m_file;
    uint m_serial = 0;
};

// "--servicios FILE": this program becomes the desktop's stand-ins on the session bus.
int serveStandIns(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Watcher watcher;
    NotificationServer notifications(QFile::decodeName(argv[2]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto exported = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties;
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher, exported)
        || !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications, exported)
        || !bus.registerService(kWatcher) || !bus.registerService(kNotifications))
        return 1;
    return app.exec();
}

} // namespace

// The tray's notification of a received message shows its title and text as written on
// either kind of tray Qt may use, never taken for markup.
class tst_IconoBarra : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void balloonShowsTitleAndTextAsWritten();
    void desktopNotificationShowsTitleAndTextAsWritten();
    void closingWithoutTrayTellsTheProgramStillReceives();

private:
    // The desktop's stand-ins on a session bus of this test's own, recording in FILE; false,
    // skipping, where the bus is someone else's.
    bool serveOnOwnBus(QProcess &services, const QString &recordFile);
    QTemporaryDir m_root;
};

void tst_IconoBarra::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY(prepareEnvironment(m_root.path()));
}

// A plain X11 tray (trayer), no session bus: Qt draws its own balloon.
void tst_IconoBarra::balloonShowsTitleAndTextAsWritten()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server: ctest runs this one under xvfb-run with the xcb platform");
    if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
        QSKIP("trayer is not installed (scripts/deps.sh installs it)");
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        QSKIP("runs without a session bus, where Qt draws its own balloon: ctest unsets DBUS_SESSION_BUS_ADDRESS");
    QProcess tray;
    tray.start(QStringLiteral("trayer"),
        { "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24", "--SetDockType", "true",
            "--transparent", "false" });
    QVERIFY(tray.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 30000);

    // As at start-up: the notification comes right after the icon is shown, before the tray
    // has taken the icon in.
    IconoBarra icon;
    icon.start();
    QVERIFY(icon.isVisible());
    icon.notify(kTitle, kText);
    const auto visibleBalloon = [] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->inherits("QBalloonTip") && w->isVisible())
                return w;
        }
        return static_cast<QWidget *>(nullptr);
    };
    QTRY_VERIFY2_WITH_TIMEOUT(visibleBalloon(), "no balloon beside the tray icon", 10000);
    QWidget *balloon = visibleBalloon();
    // It points at the icon where the tray shows it (trayer: the top right corner), not at
    // the corner of the screen where the icon stood before.
    const auto inTray = [&icon] { return icon.findChild<QSystemTrayIcon *>()->geometry(); };
    const QRect screen = balloon->screen()->geometry();
    QTRY_VERIFY(inTray().center().x() > screen.center().x());
    QVERIFY2(balloon->geometry().adjusted(-30, -30, 30, 30).contains(inTray().center()),
        qPrintable(QDebug::toString(balloon->geometry()) + QDebug::toString(inTray())));
    // Title above, text below, in the balloon's own grid.
    const auto *grid = qobject_cast<QGridLayout *>(balloon->layout());
    QVERIFY(grid);
    QList<const QLabel *> labels;
    for (int row = 0; row < grid->rowCount(); ++row) {
        for (int column = 0; column < grid->columnCount(); ++column) {
            const QLayoutItem *cell = grid->itemAtPosition(row, column);
            const auto *label = cell ? qobject_cast<QLabel *>(cell->widget()) : nullptr;
            // A label may span cells; the icon's has no text.
            if (label && !label->text().isEmpty() && !labels.contains(label))
                labels << label;
        }
    }
    QStringList lines;
    for (const QLabel *label : std::as_const(labels))
        lines << shownText(label);
    QCOMPARE(lines, QStringList({ kTitle, kText }));
    tray.kill();
    tray.waitForFinished();
}

bool tst_IconoBarra::serveOnOwnBus(QProcess &services, const QString &recordFile)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTest::qSkip("needs a session bus of its own: ctest runs this one under dbus-run-session", __FILE__, __LINE__);
        return false;
    }
    // Only on a fresh bus, never on a desktop's: nothing but the bus itself has a name there.
    for (const QString &name : bus.interface()->registeredServiceNames().value()) {
        if (!name.startsWith(QLatin1Char(':')) && name != QLatin1String("org.freedesktop.DBus")) {
            QTest::qSkip(qPrintable(QStringLiteral("the session bus is not one of its own (%1 is there): ctest runs "
                                                   "this one under dbus-run-session")
                                        .arg(name)),
                __FILE__, __LINE__);
            return false;
        }
    }
    QFile::remove(recordFile);
    services.setProcessChannelMode(QProcess::ForwardedChannels);
    services.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--servicios"), recordFile });
    if (!services.waitForStarted()) {
        QTest::qFail("the stand-ins did not start", __FILE__, __LINE__);
        return false;
    }
    const bool served = QTest::qWaitFor(
        [&bus] {
            return bus.interface()->isServiceRegistered(kWatcher).value()
                && bus.interface()->isServiceRegistered(kNotifications).value();
        },
        30000);
    if (!served)
        QTest::qFail("the stand-ins did not come on the bus", __FILE__, __LINE__);
    return served;
}

// A StatusNotifier host on the session bus: Qt hands the notification to the desktop's server.
void tst_IconoBarra::desktopNotificationShowsTitleAndTextAsWritten()
{
    const QString recordFile = m_root.filePath(QStringLiteral("aviso.json"));
    QProcess services;
    if (!serveOnOwnBus(services, recordFile))
        return;

    // Qt chooses its kind of tray when the first icon is made: here, now that the host is there.
    {
        IconoBarra icon;
        icon.start();
        QVERIFY(icon.isVisible());
        icon.notify(kTitle, kText);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recordFile), 30000);
    }
    const QJsonObject notification = QJsonDocument::fromJson(readFile(recordFile)).object();
    // The summary is plain text to a notification server, the body markup.
    QCOMPARE(notification.value(QLatin1String("summary")).toString(), kTitle);
    QCOMPARE(readAsMarkup(notification.value(QLatin1String("body")).toString()), kText);
    services.kill();
    services.waitForFinished();
}

// Without a tray, closing the main window only minimises it; the first time, the desktop's
// notification server tells the person that the program still receives, once a run.
void tst_IconoBarra::closingWithoutTrayTellsTheProgramStillReceives()
{
    const QString recordFile = m_root.filePath(QStringLiteral("sigue.json"));
    QProcess services;
    if (!serveOnOwnBus(services, recordFile))
        return;
    FakeRuntime rt;
    rt.m_trayAvailable = false;
    Module module(rt, m_root.path() + QLatin1Char('/'));
    IconoBarra icon;
    frmPrincipal window(rt, module, icon);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.close() == false);
    QTRY_VERIFY(window.isMinimized());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(recordFile), 10000);
    const QJsonObject notification = QJsonDocument::fromJson(readFile(recordFile)).object();
    QCOMPARE(notification.value(QLatin1String("summary")).toString(), QStringLiteral("Velrisa sigue en marcha"));
    QVERIFY(notification.value(QLatin1String("body")).toString().contains(QLatin1String("abra Velrisa de nuevo")));

    // Once a run: closing again says nothing more.
    QVERIFY(QFile::remove(recordFile));
    window.showNormal();
    QTRY_VERIFY(!window.isMinimized());
    window.close();
    QTRY_VERIFY(window.isMinimized());
    QTest::qWait(500);
    QVERIFY(!QFile::exists(recordFile));
    services.kill();
    services.waitForFinished();
}

int main(int argc, char *argv[])
{
    if (argc > 2 && qstrcmp(argv[1], "--servicios") == 0)
        return serveStandIns(argc, argv);
    QApplication app(argc, argv);
    tst_IconoBarra test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_IconoBarra.moc"
