#include "receive/frmReceived.h"

#include "receive/ReceivedModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

frmReceived::frmReceived(const Mailbox::Message &message, QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_message(message)
    , m_heading(new QLabel(this))
    , m_text(new QPlainTextEdit(this))
    , m_reply(new QPushButton(QStringLiteral("&Responder"), this))
    , m_closeAll(new QPushButton(QStringLiteral("Cerrar &todos"), this))
    , m_ok(new QPushButton(QStringLiteral("&Aceptar"), this))
{
    setObjectName(QStringLiteral("frmReceived"));
    setWindowTitle(QStringLiteral("Mensaje recibido"));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/mensajes16.png")));
    setAttribute(Qt::WA_DeleteOnClose);
    // In front, but the keyboard stays where the user is typing. A window that the window
    // manager does not focus at its mapping goes just below the focused one (mutter, KWin):
    // only the "above" layer keeps it in front. It leaves that layer once the user turns to it.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowFlag(Qt::WindowStaysOnTopHint);

    // Names and text come from the network: never read as markup.
    m_heading->setObjectName(QStringLiteral("lblHeading"));
    m_heading->setTextFormat(Qt::PlainText);
    m_heading->setWordWrap(true);
    m_heading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QString line = heading(message);
    if (message.cut)
        line += QStringLiteral("\n(El mensaje llegó cortado: solo se guardan sus primeros 1600 caracteres.)");
    m_heading->setText(line);
    m_heading->setAccessibleName(line);

    m_text->setObjectName(QStringLiteral("txtMensaje"));
    m_text->setAccessibleName(QStringLiteral("Mensaje"));
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setPlainText(message.text);
    // Where the keyboard goes once the user turns to the window.
    m_text->setFocus(Qt::OtherFocusReason);

    m_reply->setObjectName(QStringLiteral("cmdReply"));
    m_reply->setAccessibleName(QStringLiteral("Responder"));
    m_reply->setAutoDefault(false);
    m_closeAll->setObjectName(QStringLiteral("cmdCloseAll"));
    m_closeAll->setAccessibleName(QStringLiteral("Cerrar todos"));
    m_closeAll->setAutoDefault(false);
    m_closeAll->hide();
    m_ok->setObjectName(QStringLiteral("cmdOk"));
    m_ok->setAccessibleName(QStringLiteral("Aceptar"));
    m_ok->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_closeAll);
    buttons->addWidget(m_reply);
    buttons->addWidget(m_ok);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_closeAll, &QPushButton::clicked, this, &frmReceived::closeAll);
    connect(m_reply, &QPushButton::clicked, this, [this] { Q_EMIT reply(this); });

    auto *layers = new QVBoxLayout(this);
    layers->addWidget(m_heading);
    layers->addWidget(m_text, 1);
    layers->addLayout(buttons);
    setTabOrder(m_text, m_closeAll);
    setTabOrder(m_closeAll, m_reply);
    setTabOrder(m_reply, m_ok);
    resize(420, 240);
}

QString frmReceived::heading(const Mailbox::Message &message)
{
    return QStringLiteral("Mensaje de %1 a %2 el %3 a las %4")
        .arg(message.sender(), message.to, ReceivedModel::date(message.arrival), ReceivedModel::time(message.arrival));
}

void frmReceived::setReplying(bool replying)
{
    m_reply->setEnabled(!replying);
}

bool frmReceived::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
        // Seen: from now on it stacks as any other window. QWidget::setWindowFlags would hide
        // it; the platform window changes its state in place.
        overrideWindowFlags(windowFlags() & ~Qt::WindowStaysOnTopHint);
        if (QWindow *window = windowHandle())
            window->setFlags(windowFlags());
    }
    return QDialog::event(event);
}

void frmReceived::setCloseAll(bool visible)
{
    m_closeAll->setVisible(visible);
}
