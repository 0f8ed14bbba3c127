#pragma once

#include "widgets/ListWindow.h"

class ReceivedModel;
class frmReceived;

// "Mensajes recibidos": the user's received messages, oldest first, as the sent-messages
// window shows the sent ones. A close request only hides it. Enter or a double click on a
// row opens that message whole in its own "Mensaje recibido" window; Ctrl+C copies the
// selected messages as text.
class frmReceivedList final : public ListWindow
{
    Q_OBJECT

public:
    explicit frmReceivedList(ReceivedModel &model);

    // Opens the message of that row, or brings its window forward when it is open already.
    void open(int row);
    // The selected messages (else the current one), as ReceivedModel::asText writes them,
    // to the clipboard.
    void copy();

Q_SIGNALS:
    // "&Responder" in a message opened from the list.
    void reply(frmReceived *window);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ReceivedModel &m_model;
};
