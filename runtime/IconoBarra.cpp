#include "runtime/IconoBarra.h"

#include "runtime/Texto.h"

#include <QIcon>
#include <QList>
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
{
    m_icon->setToolTip(QStringLiteral("Velrisa"));
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Context)
            Q_EMIT menuRequested();
        else if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT restoreRequested();
    });
    liveIcons().append(this);
}

IconoBarra::~IconoBarra()
{
    liveIcons().removeAll(this);
}

void IconoBarra::start()
{
    m_icon->show();
}

void IconoBarra::stop()
{
    m_icon->hide();
}

bool IconoBarra::isVisible() const
{
    return m_icon->isVisible();
}

void IconoBarra::notificar(const QString &titulo, const QString &texto)
{
    if (m_icon->isVisible() && QSystemTrayIcon::supportsMessages())
        m_icon->showMessage(titulo, Texto::literal(texto), QSystemTrayIcon::Information, 10000);
}

void IconoBarra::removeAll()
{
    for (IconoBarra *icon : std::as_const(liveIcons()))
        icon->m_icon->hide();
}
