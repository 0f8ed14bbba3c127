#include "dispatch/frmWait.h"

#include "dispatch/SendWait.h"
#include "widgets/Twips.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace {
constexpr float kTwipsPerPixel = Twips::kPerPixel;

// Milliseconds the wait window is given to appear on screen before the send goes on.
constexpr int kVisibleWait = 200;

// Ends a loop as soon as a window is exposed: the window's own expose event says so, with no
// polling that would cost every recipient a few idle milliseconds.
class UntilExposed final : public QObject
{
public:
    UntilExposed(QWindow *window, QEventLoop &loop)
        : m_window(window)
        , m_loop(loop)
    {
        m_window->installEventFilter(this);
    }
    ~UntilExposed() override { m_window->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        // The window takes the new state before its expose event is delivered.
        if (event->type() == QEvent::Expose && m_window->isExposed())
            m_loop.quit();
        return QObject::eventFilter(object, event);
    }

private:
    QWindow *m_window;
    QEventLoop &m_loop;
};

// Locks the main window and shows the wait window until destroyed.
class WindowWait final : public SendWait
{
public:
    explicit WindowWait(QWidget *principal)
        : m_principal(principal)
    {
        if (m_principal)
            m_principal->setEnabled(false);
        m_wait = std::make_unique<frmWait>(m_principal);
        m_wait->show();
        drawBeforeWaiting();
    }
    ~WindowWait() override
    {
        if (m_principal)
            m_principal->setEnabled(true);
        m_wait->close();
    }

private:
    // The thread is about to block on the child: what is on screen now stays there until it
    // ends. A window system draws a window only once it is mapped and exposed, which takes a
    // round trip, so wait for that first (bounded, so that a broken display cannot stall the
    // send), taking no user input meanwhile; then draw the wait window and the locked main
    // window, and hand the drawing to the window system.
    void drawBeforeWaiting()
    {
        QWindow *window = m_wait->windowHandle();
        if (window && !window->isExposed()) {
            QEventLoop loop;
            UntilExposed until(window, loop);
            QTimer::singleShot(kVisibleWait, &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
        // Both are marked for drawing already (one is new, the other has just been disabled):
        // drawing what is marked spares a second paint of what the expose has drawn.
        QEvent requested(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(m_wait.get(), &requested);
        if (m_principal)
            QCoreApplication::sendEvent(m_principal->window(), &requested);
        QGuiApplication::sync();
    }

    QWidget *m_principal;
    std::unique_ptr<frmWait> m_wait;
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

    auto *image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(Twips::px(2250), Twips::px(135), Twips::px(195), Twips::px(330));
    image->setPixmap(QPixmap(QStringLiteral(":/pictures/reloj.png")));

    auto *text = new QLabel(QStringLiteral("Por favor, espere mientras se envia el/los mensaje/s..."), this);
    text->setObjectName(QStringLiteral("Label1"));
    text->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    text->setGeometry(Twips::px(0), Twips::px(660), Twips::px(4680), Twips::px(195));

    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_timer->start();

    if (principal) {
        // Keeps it above the main window without making it a child that shares its disabled state.
        winId();
        if (QWindow *w = windowHandle())
            w->setTransientParent(principal->window()->windowHandle());
        move(centredPosition(principal->frameGeometry(), frameGeometry().size()));
    }
}

QPoint frmWait::centredPosition(const QRect &principal, const QSize &own)
{
    const float left = float(principal.left()) * kTwipsPerPixel;
    const float up = float(principal.top()) * kTwipsPerPixel;
    const float x
        = left + (float(principal.width()) * kTwipsPerPixel - float(own.width()) * kTwipsPerPixel) / 2.0f;
    const float y
        = up + (float(principal.height()) * kTwipsPerPixel - float(own.height()) * kTwipsPerPixel) / 2.0f;
    // Half pixels have to land somewhere on a pixel grid: the nearest one, halves downwards.
    return QPoint(int(std::floor(x / kTwipsPerPixel)), int(std::floor(y / kTwipsPerPixel)));
}

std::unique_ptr<SendWait> frmWait::waitOver(QWidget *principal)
{
    return std::make_unique<WindowWait>(principal);
}
