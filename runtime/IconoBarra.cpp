#include "runtime/IconoBarra.h"

#include "runtime/TrayKind.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QIcon>
#include <QList>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {
QList<IconoBarra *> &liveIcons()
{
    static QList<IconoBarra *> icons;
    return icons;
}
} // namespace

IconoBarra::IconoBarra(QObject *parent)
    : QObject(parent)
    , m_icon(new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/tray.png")), this))
    // Qt has just chosen how it notifies, for the rest of the process: asked now, the answer is its choice.
    , m_readsMarkup(TrayKind::readsMarkup())
{
    m_icon->setToolTip(QStringLiteral("Velrisa"));
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // With a menu of its own the tray has opened it already.
        if (reason == QSystemTrayIcon::Context && !m_icon->contextMenu())
            Q_EMIT menuRequested();
        else if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT restoreRequested();
    });
    liveIcons().append(this);
    m_trayWait.setInterval(kTrayWaitMs);
    connect(&m_trayWait, &QTimer::timeout, this, &IconoBarra::trayChanged);
    m_wait.setInterval(50);
    connect(&m_wait, &QTimer::timeout, this, &IconoBarra::showNotice);
}

IconoBarra::~IconoBarra()
{
    liveIcons().removeAll(this);
}

void IconoBarra::setMenu(QMenu *menu)
{
    m_icon->setContextMenu(menu);
}

void IconoBarra::start()
{
    m_started = true;
    m_icon->show();
    // Qt's icon looks for a tray only when it is shown: with none yet (a panel that starts
    // after the program at login), it is shown again once one has come.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        m_trayWait.start();
}

void IconoBarra::trayChanged()
{
    if (!m_started || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayWait.stop();
    m_icon->hide();
    m_icon->show();
    Q_EMIT trayArrived();
}

void IconoBarra::stop()
{
    m_started = false;
    m_trayWait.stop();
    m_wait.stop();
    m_icon->hide();
}

bool IconoBarra::isVisible() const
{
    return m_icon->isVisible();
}

void IconoBarra::notify(const QString &title, const QString &text)
{
    if (!m_icon->isVisible() || !QSystemTrayIcon::supportsMessages())
        return;
    m_title = title;
    m_text = text;
    // A notification server places its notifications itself.
    if (m_readsMarkup || TrayKind::iconsPlaced()) {
        showNotice();
        return;
    }
    if (!m_wait.isActive()) {
        m_limit.setRemainingTime(5000);
        m_wait.start();
    }
}

void IconoBarra::showNotice()
{
    if (!m_icon->isVisible()) {
        m_wait.stop();
        return;
    }
    const bool placed = m_readsMarkup || TrayKind::iconsPlaced();
    if (!placed && !m_limit.hasExpired())
        return;
    m_wait.stop();
    // A tray that never takes the icon in gets no balloon pointing at the corner of the
    // screen: the message has its own window anyway.
    if (!placed)
        return;
    // Both come from the network. Qt's own balloon shows both as plain text; a notification
    // server shows the summary as plain text and always reads the body as markup, whose small
    // set of tags knows no paragraphs: every special character escaped, line ends kept.
    m_icon->showMessage(m_title, m_readsMarkup ? m_text.toHtmlEscaped() : m_text, QSystemTrayIcon::Information, 10000);
}

void IconoBarra::notifyWithoutTray(const QString &title, const QString &text)
{
    QDBusMessage notify = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    // The summary is plain text to the server, the body markup.
    const QVariantMap hints { { QStringLiteral("desktop-entry"), QStringLiteral("velrisa") } };
    notify << QStringLiteral("Velrisa") << 0u << QStringLiteral("velrisa") << title << text.toHtmlEscaped()
           << QStringList() << hints << -1;
    QDBusConnection::sessionBus().send(notify);
}

void IconoBarra::removeAll()
{
    for (IconoBarra *icon : std::as_const(liveIcons()))
        icon->m_icon->hide();
}
