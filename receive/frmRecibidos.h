#pragma once

#include "widgets/VentanaLista.h"

class ModeloRecibidos;

// "Mensajes recibidos": the user's received messages, oldest first, as the sent-messages
// window shows the sent ones. A close request only hides it. Enter or a double click on a
// row opens that message whole in its own "Mensaje recibido" window; Ctrl+C copies the
// selected messages as text.
class frmRecibidos final : public VentanaLista
{
    Q_OBJECT

public:
    explicit frmRecibidos(ModeloRecibidos &modelo);

    // Opens the message of that row, or brings its window forward when it is open already.
    void abrir(int fila);
    // The selected messages (else the current one), as ModeloRecibidos::comoTexto writes them,
    // to the clipboard.
    void copiar();

Q_SIGNALS:
    // "&Responder" in a message opened from the list.
    void responder(const QString &remitente);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ModeloRecibidos &m_modelo;
};
