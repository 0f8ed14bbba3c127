#include "runtime/IconoBarra.h"

#include "runtime/Bandeja.h"

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
    // Qt has just chosen how it notifies, for the rest of the process: asked now, the answer is its choice.
    , m_leeMarcas(Bandeja::leeMarcas())
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
    if (!m_icon->isVisible() || !QSystemTrayIcon::supportsMessages())
        return;
    // Both come from the network. Qt's own balloon shows both as plain text; a notification
    // server shows the summary as plain text and always reads the body as markup, whose small
    // set of tags knows no paragraphs: every special character escaped, line ends kept.
    m_icon->showMessage(titulo, m_leeMarcas ? texto.toHtmlEscaped() : texto, QSystemTrayIcon::Information, 10000);
}

void IconoBarra::removeAll()
{
    for (IconoBarra *icon : std::as_const(liveIcons()))
        icon->m_icon->hide();
}
