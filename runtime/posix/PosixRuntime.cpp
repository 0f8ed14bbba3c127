#include "runtime/posix/PosixRuntime.h"

#include "runtime/IconoBarra.h"
#include "runtime/posix/AppActivate.h"
#include "runtime/posix/DataFolder.h"
#include "runtime/posix/ProcessStart.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QInputDialog>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindow>

#include <algorithm>

#include <unistd.h>

namespace {

const QString kAppTitle = QStringLiteral("Velrisa");

// The program's own settings: ~/.config/velrisa/velrisa.conf; another application's name
// would get a file of its own beside it.
const QString kSettingsFolder = QStringLiteral("velrisa");
const QString kProgramApp = QStringLiteral("EnviarMensaje");

// Where earlier versions kept them, named as the Windows runtime names its registry key.
const QString kOldSettingsFolder = QStringLiteral("VB and VBA Program Settings");

QString settingsFile(const QString &app)
{
    return app == kProgramApp ? kSettingsFolder : app;
}

QString lockPath()
{
    return PosixRuntime::sessionDirectory() + QStringLiteral("/velrisa.lock");
}

QString socketPath()
{
    return PosixRuntime::sessionDirectory() + QStringLiteral("/velrisa.sock");
}

// A later start's request: "activate", a blank and its activation token, on one line.
constexpr qint64 kMaxRequest = 512;

// Compositors make tokens of printable ASCII without blanks; anything else is not passed on.
// The launcher's startup id, read as the program is loaded: Qt's X11 platform takes
// DESKTOP_STARTUP_ID out of the environment as it connects.
const QByteArray kStartupId = qgetenv("DESKTOP_STARTUP_ID");

bool isActivationToken(const QByteArray &token)
{
    return !token.isEmpty() && token.size() < kMaxRequest - 16
        && std::all_of(token.cbegin(), token.cend(), [](char c) { return c > ' ' && c < 127; });
}

} // namespace

PosixRuntime::PosixRuntime()
{
    keepShowsNormal();
}

PosixRuntime::~PosixRuntime() = default;

void PosixRuntime::msgBox(const QString &text, Icon icon, const QString &title)
{
    QMessageBox box;
    box.setWindowTitle(title.isEmpty() ? kAppTitle : title);
    box.setText(text);
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

QString PosixRuntime::inputBox(const QString &prompt, const QString &title)
{
    bool ok = false;
    const QString text = QInputDialog::getText(nullptr, title, prompt, QLineEdit::Normal, QString(), &ok);
    return ok ? text : QString();
}

qint64 PosixRuntime::shell(const QString &commandLine, WindowStyle)
{
    // There is no console window to minimise here, and the viewer picks its own size.
    return ProcessStart::start(ProcessStart::resolve(commandLine, appPath()));
}

bool PosixRuntime::waitForProcess(qint64 pid)
{
    return ProcessStart::wait(pid);
}

bool PosixRuntime::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

bool PosixRuntime::appActivate(qint64 pid)
{
    return activateWindowOfProcess(pid);
}

void PosixRuntime::bringForward(QWidget &window)
{
    // On X11 the launcher's token is a startup id, which the launch that brought this
    // request waits to see ended; on Wayland Qt gives it to the compositor as it activates.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        endLaunchFeedback(qgetenv("XDG_ACTIVATION_TOKEN"));
        qunsetenv("XDG_ACTIVATION_TOKEN");
    }
    window.raise();
    window.activateWindow();
    if (QWindow *handle = window.windowHandle())
        activateOwnWindow(handle);
}

void PosixRuntime::doEvents()
{
    QCoreApplication::processEvents();
}

void PosixRuntime::end()
{
    IconoBarra::removeAll();
    QCoreApplication::processEvents();
    ::_exit(0);
}

QString PosixRuntime::appPath() const
{
    return QCoreApplication::applicationDirPath();
}

QString PosixRuntime::userDataPath() const
{
    return DataFolder::userFolder();
}

QString PosixRuntime::dataPath() const
{
    if (m_dataPath.isEmpty())
        m_dataPath = DataFolder::choose(appPath());
    return m_dataPath;
}

QString PosixRuntime::command() const
{
    return QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));
}

QString PosixRuntime::sessionDirectory()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath() + QStringLiteral("/velrisa-") + QString::number(::getuid());
    QDir().mkpath(dir);
    return dir;
}

bool PosixRuntime::prevInstance()
{
    if (m_lock)
        return false;
    auto lock = std::make_unique<QLockFile>(lockPath());
    // 0 turns off staleness by age: the lock is held for the whole run, and any age limit would
    // hand a running instance's lock to the next one. A crashed holder's lock is taken over at
    // once all the same, as Qt finds its process gone.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return true;
    m_lock = std::move(lock);

    m_server = std::make_unique<QLocalServer>();
    QLocalServer::removeServer(socketPath());
    if (m_server->listen(socketPath())) {
        QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] {
            while (QLocalSocket *peer = m_server->nextPendingConnection()) {
                QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                    if (!peer->canReadLine() && peer->bytesAvailable() < kMaxRequest)
                        return;
                    const QByteArray line = peer->readLine(kMaxRequest).trimmed();
                    peer->disconnectFromServer();
                    // "activate" and the launcher's activation token, if it gave one: a
                    // Wayland compositor lets a window take the focus only with that token.
                    const QByteArray token = line.mid(qstrlen("activate ")).trimmed();
                    if (!line.startsWith("activate"))
                        return;
                    if (isActivationToken(token))
                        qputenv("XDG_ACTIVATION_TOKEN", token);
                    if (m_activationHandler)
                        m_activationHandler();
                });
            }
        });
    }
    return false;
}

void PosixRuntime::activatePrevInstance()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (socket.waitForConnected(1000)) {
        // Wayland's token, or X11's startup id (a launcher may give only that one).
        QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
        if (!isActivationToken(token))
            token = kStartupId;
        socket.write("activate" + (isActivationToken(token) ? " " + token : QByteArray()) + "\n");
        socket.waitForBytesWritten(1000);
        socket.disconnectFromServer();
    }
}

void PosixRuntime::setActivationHandler(std::function<void()> handler)
{
    m_activationHandler = std::move(handler);
}

bool PosixRuntime::trayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QString PosixRuntime::getSetting(
    const QString &app, const QString &section, const QString &key, const QString &defaultValue)
{
    QSettings settings(kSettingsFolder, settingsFile(app));
    const QString name = section + QLatin1Char('/') + key;
    if (!settings.contains(name)) {
        // A value stored where earlier versions kept it is carried over, once.
        const QSettings old(kOldSettingsFolder, app);
        if (!old.contains(name))
            return defaultValue;
        settings.setValue(name, old.value(name).toString());
    }
    return settings.value(name, defaultValue).toString();
}

void PosixRuntime::saveSetting(const QString &app, const QString &section, const QString &key, const QString &value)
{
    QSettings settings(kSettingsFolder, settingsFile(app));
    const QString name = section + QLatin1Char('/') + key;
    // Every write rewrites and syncs the whole file, and a send run stores the same value once
    // per recipient; reading it back costs a stat while the file is unchanged since the last read.
    const QVariant stored = settings.value(name);
    if (stored.typeId() == QMetaType::QString && stored.toString() == value)
        return;
    settings.setValue(name, value);
}

QTime PosixRuntime::currentTime() const
{
    return QTime::currentTime();
}

void PosixRuntime::setHourglass(bool on)
{
    if (on == m_hourglass)
        return;
    m_hourglass = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}
