#pragma once

#include "sentlog/VentanaLista.h"

class ModeloRecibidos;

// "Mensajes recibidos": the user's received messages, oldest first, as the sent-messages
// window shows the sent ones. A close request only hides it.
class frmRecibidos final : public VentanaLista
{
    Q_OBJECT

public:
    explicit frmRecibidos(ModeloRecibidos &modelo);

protected:
    void showEvent(QShowEvent *event) override;
};
