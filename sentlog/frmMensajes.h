#pragma once

#include "sentlog/VentanaLista.h"

class ModeloMensajes;

// "Mensajes enviados": every send attempt since start-up, oldest first. Once created
// it is never destroyed while the program runs: a close request only hides it, so its
// rows survive every hide and show.
class frmMensajes final : public VentanaLista
{
    Q_OBJECT

public:
    // principal is hidden too by "&Cerrar" when esconderTrasEnviar is true at that moment.
    frmMensajes(QWidget *principal, const bool &esconderTrasEnviar);

    // A new last row holding only the recipient.
    void agregarFila(const QString &para);
    // respuesta, what the send was answered, is shown when the pointer rests on the result.
    void completarUltimaFila(qint16 estado, const QString &mensaje, const QString &resultado, const QString &hora,
        const QString &respuesta = QString());
    // Draws at once what has changed in the window, so a completed row shows while a run goes on.
    void repintar();
    int filas() const;
    const ModeloMensajes &modelo() const { return *m_modelo; }

protected:
    void cerrar() override;

private:
    QWidget *m_principal;
    const bool &m_esconderTrasEnviar;
    ModeloMensajes *m_modelo;
};
