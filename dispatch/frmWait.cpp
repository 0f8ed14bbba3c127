#include "dispatch/frmWait.h"

#include "dispatch/EsperaEnvio.h"
#include "widgets/Twips.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {
constexpr float kTwipsPorPixel = Twips::kPorPixel;

// Milliseconds the wait window is given to appear on screen before the send goes on.
constexpr int kEsperaVisible = 200;

// Ends a loop as soon as a window is exposed: the window's own expose event says so, with no
// polling that would cost every recipient a few idle milliseconds.
class HastaExpuesta final : public QObject
{
public:
    HastaExpuesta(QWindow *ventana, QEventLoop &bucle)
        : m_ventana(ventana)
        , m_bucle(bucle)
    {
        m_ventana->installEventFilter(this);
    }
    ~HastaExpuesta() override { m_ventana->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *objeto, QEvent *evento) override
    {
        // The window takes the new state before its expose event is delivered.
        if (evento->type() == QEvent::Expose && m_ventana->isExposed())
            m_bucle.quit();
        return QObject::eventFilter(objeto, evento);
    }

private:
    QWindow *m_ventana;
    QEventLoop &m_bucle;
};

// Locks the main window and shows the wait window until destroyed.
class EsperaVentana final : public EsperaEnvio
{
public:
    explicit EsperaVentana(QWidget *principal)
        : m_principal(principal)
    {
        if (m_principal)
            m_principal->setEnabled(false);
        m_espera = std::make_unique<frmWait>(m_principal);
        m_espera->show();
        dibujarAntesDeEsperar();
    }
    ~EsperaVentana() override
    {
        if (m_principal)
            m_principal->setEnabled(true);
        m_espera->close();
    }

private:
    // The thread is about to block on the child: what is on screen now stays there until it
    // ends. A window system draws a window only once it is mapped and exposed, which takes a
    // round trip, so wait for that first (bounded, so that a broken display cannot stall the
    // send), taking no user input meanwhile; then draw the wait window and the locked main
    // window, and hand the drawing to the window system.
    void dibujarAntesDeEsperar()
    {
        QWindow *ventana = m_espera->windowHandle();
        if (ventana && !ventana->isExposed()) {
            QEventLoop bucle;
            HastaExpuesta hasta(ventana, bucle);
            QTimer::singleShot(kEsperaVisible, &bucle, &QEventLoop::quit);
            bucle.exec(QEventLoop::ExcludeUserInputEvents);
        }
        // Both are marked for drawing already (one is new, the other has just been disabled):
        // drawing what is marked spares a second paint of what the expose has drawn.
        QEvent pedido(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(m_espera.get(), &pedido);
        if (m_principal)
            QCoreApplication::sendEvent(m_principal->window(), &pedido);
        QGuiApplication::sync();
    }

    QWidget *m_principal;
    std::unique_ptr<frmWait> m_espera;
};
} // namespace

frmWait::frmWait(QWidget *principal)
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("frmWait"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(QStringLiteral("Espere un momento..."));
    setFixedSize(Twips::px(4695), Twips::px(975));

    auto *imagen = new QLabel(this);
    imagen->setObjectName(QStringLiteral("Image1"));
    imagen->setGeometry(Twips::px(2250), Twips::px(135), Twips::px(195), Twips::px(330));
    imagen->setPixmap(QPixmap(QStringLiteral(":/pictures/reloj.png")));

    auto *texto = new QLabel(QStringLiteral("Por favor, espere mientras se envia el/los mensaje/s..."), this);
    texto->setObjectName(QStringLiteral("Label1"));
    texto->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    texto->setGeometry(Twips::px(0), Twips::px(660), Twips::px(4680), Twips::px(195));

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

std::unique_ptr<EsperaEnvio> frmWait::esperarSobre(QWidget *principal)
{
    return std::make_unique<EsperaVentana>(principal);
}
