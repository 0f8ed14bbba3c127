#pragma once

#include "receive/Mailbox.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// "Mensaje recibido": one message that arrived, with who sent it, to whom and when. It
// comes to the front without taking the keyboard from what the user is typing, stays above
// the other windows until the user turns to it, and is destroyed when closed.
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

    const Mailbox::Message &message() const { return m_message; }
    // While whom to answer is asked, "&Responder" cannot be pressed again; the window closes
    // once it is known.
    void setReplying(bool replying);

Q_SIGNALS:
    // "&Responder": the sender of the window's message is to be answered.
    void reply(frmReceived *window);
    // "Cerrar &todos": every pop-up is to close.
    void closeAll();

protected:
    bool event(QEvent *event) override;

private:
    Mailbox::Message m_message;
    QLabel *m_heading;
    QPlainTextEdit *m_text;
    QPushButton *m_reply;
    QPushButton *m_closeAll;
    QPushButton *m_ok;
};
