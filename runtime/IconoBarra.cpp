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
    m_espera.setInterval(50);
    connect(&m_espera, &QTimer::timeout, this, &IconoBarra::mostrarAviso);
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
    m_espera.stop();
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
    m_titulo = titulo;
    m_texto = texto;
    // A notification server places its notifications itself.
    if (m_leeMarcas || Bandeja::iconosColocados()) {
        mostrarAviso();
        return;
    }
    if (!m_espera.isActive()) {
        m_limite.setRemainingTime(5000);
        m_espera.start();
    }
}

void IconoBarra::mostrarAviso()
{
    if (!m_icon->isVisible()) {
        m_espera.stop();
        return;
    }
    const bool colocado = m_leeMarcas || Bandeja::iconosColocados();
    if (!colocado && !m_limite.hasExpired())
        return;
    m_espera.stop();
    // A tray that never takes the icon in gets no balloon pointing at the corner of the
    // screen: the message has its own window anyway.
    if (!colocado)
        return;
    // Both come from the network. Qt's own balloon shows both as plain text; a notification
    // server shows the summary as plain text and always reads the body as markup, whose small
    // set of tags knows no paragraphs: every special character escaped, line ends kept.
    m_icon->showMessage(m_titulo, m_leeMarcas ? m_texto.toHtmlEscaped() : m_texto, QSystemTrayIcon::Information, 10000);
}

void IconoBarra::removeAll()
{
    for (IconoBarra *icon : std::as_const(liveIcons()))
        icon->m_icon->hide();
}
