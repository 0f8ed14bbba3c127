#include "dispatch/frmWait.h"

#include <QLabel>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {
constexpr int px(int twips)
{
    return twips / 15;
}
constexpr float kTwipsPorPixel = 15.0f;
} // namespace

frmWait::frmWait(QWidget *principal)
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("frmWait"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QStringLiteral("Espere un momento..."));
    setFixedSize(px(4695), px(975));

    auto *imagen = new QLabel(this);
    imagen->setObjectName(QStringLiteral("Image1"));
    imagen->setGeometry(px(2250), px(135), px(195), px(330));
    imagen->setPixmap(QPixmap(QStringLiteral(":/pictures/reloj.png")));

    auto *texto = new QLabel(QStringLiteral("Por favor, espere mientras se envia el/los mensaje/s..."), this);
    texto->setObjectName(QStringLiteral("Label1"));
    texto->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    texto->setGeometry(px(0), px(660), px(4680), px(195));

    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_timer->start();

    if (principal) {
        // Keeps it above the main window without making it a child that shares its disabled state.
        winId();
        if (QWindow *w = windowHandle())
            w->setTransientParent(principal->window()->windowHandle());
        move(posicionCentrada(principal->frameGeometry(), frameGeometry().size()));
    }
}

QPoint frmWait::posicionCentrada(const QRect &principal, const QSize &propio)
{
    const float izquierda = float(principal.left()) * kTwipsPorPixel;
    const float arriba = float(principal.top()) * kTwipsPorPixel;
    const float x
        = izquierda + (float(principal.width()) * kTwipsPorPixel - float(propio.width()) * kTwipsPorPixel) / 2.0f;
    const float y
        = arriba + (float(principal.height()) * kTwipsPorPixel - float(propio.height()) * kTwipsPorPixel) / 2.0f;
    // Half pixels have to land somewhere on a pixel grid: the nearest one, halves downwards.
    return QPoint(int(std::floor(x / kTwipsPorPixel)), int(std::floor(y / kTwipsPorPixel)));
}
