#pragma once

#include "receive/Mailbox.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// "Mensaje recibido": one message that arrived, with who sent it, to whom and when. It
// comes to the front without taking the keyboard from what the user is typing, and is
// destroyed when closed.
class frmReceived final : public QDialog
{
    Q_OBJECT

public:
    explicit frmReceived(const Mailbox::Message &message, QWidget *parent = nullptr);

    // "Mensaje de SENDER a CALLED el DD/MM/AAAA a las HH:MM:SS", with " (COMPUTER)" after the
    // sender when the message came from a computer of another name.
    static QString heading(const Mailbox::Message &message);
    // Offers "Cerrar &todos" (while other pop-ups are open too).
    void setCloseAll(bool visible);

Q_SIGNALS:
    // "&Responder": the window closes and the sender of message is to be answered.
    void reply(const Mailbox::Message &message);
    // "Cerrar &todos": every pop-up is to close.
    void closeAll();

private:
    Mailbox::Message m_message;
    QLabel *m_heading;
    QPlainTextEdit *m_text;
    QPushButton *m_reply;
    QPushButton *m_closeAll;
    QPushButton *m_ok;
};
