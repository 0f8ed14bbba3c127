#pragma once

#include "dispatch/RegistroEnvios.h"
#include "widgets/VentanaLista.h"

#include <functional>

class ModeloMensajes;

// "Mensajes enviados": every send attempt since start-up, oldest first. Once created
// it is never destroyed while the program runs: a close request only hides it, so its
// rows survive every hide and show.
class frmMensajes final : public VentanaLista, public RegistroEnvios
{
    Q_OBJECT

public:
    // principal is hidden too by "&Cerrar" when esconderTrasEnviar answers true at that moment.
    frmMensajes(QWidget *principal, std::function<bool()> esconderTrasEnviar);

    void mostrar() override { VentanaLista::mostrar(); }
    void agregarFila(const QString &para) override;
    void completarUltimaFila(qint16 estado, const QString &mensaje, const QString &resultado, const QString &hora,
        const QString &respuesta = QString()) override;
    void repintar() override;
    int filas() const;
    const ModeloMensajes &modelo() const { return *m_modelo; }

protected:
    void cerrar() override;

private:
    QWidget *m_principal;
    std::function<bool()> m_esconderTrasEnviar;
    ModeloMensajes *m_modelo;
};
