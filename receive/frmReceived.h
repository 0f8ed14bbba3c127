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

    // Whom "&Responder" writes to: the sender's own name, which is an alias of the sender's
    // computer where every computer runs recepcion.sh --usuarios, when it can be a NetBIOS name
    // at all; the computer it came from when it cannot (a name of more than 15 characters,
    // with blanks or letters beyond ASCII), so that the reply reaches that computer at least.
    static QString replyRecipient(const Mailbox::Message &message);

Q_SIGNALS:
    // "&Responder": the window closes and recipient is to be answered.
    void reply(const QString &recipient);
    // "Cerrar &todos": every pop-up is to close.
    void closeAll();

protected:
    bool event(QEvent *event) override;

private:
    QString m_sender;
    QLabel *m_heading;
    QPlainTextEdit *m_text;
    QPushButton *m_reply;
    QPushButton *m_closeAll;
    QPushButton *m_ok;
};
