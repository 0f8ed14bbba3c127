#include "sentlog/frmMensajes.h"

#include "sentlog/ModeloMensajes.h"
#include "widgets/VistaMensajes.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTableView>

frmMensajes::frmMensajes(QWidget *principal, std::function<bool()> esconderTrasEnviar)
    : VentanaLista(QStringLiteral("frmMensajes"), QStringLiteral("Mensajes enviados"), new ModeloMensajes,
        ModeloMensajes::ColMensaje)
    , m_principal(principal)
    , m_esconderTrasEnviar(std::move(esconderTrasEnviar))
    , m_modelo(static_cast<ModeloMensajes *>(lista()->model()))
{
    m_modelo->setParent(this);
}

void frmMensajes::agregarFila(const QString &para)
{
    m_modelo->agregarFila(para);
}

void frmMensajes::completarUltimaFila(
    qint16 estado, const QString &mensaje, const QString &resultado, const QString &hora, const QString &respuesta)
{
    m_modelo->completarUltimaFila(estado, mensaje, resultado, hora, respuesta);
}

void frmMensajes::repintar()
{
    // What the last changes marked is drawn now, the rest of the window is already on screen:
    // a whole repaint would lay out and draw every visible cell again, at every recipient.
    if (!isVisible())
        return;
    if (auto *vista = qobject_cast<VistaMensajes *>(lista()))
        vista->ponerAlDia();
    QEvent pedido(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(this, &pedido);
}

int frmMensajes::filas() const
{
    return m_modelo->rowCount();
}

void frmMensajes::cerrar()
{
    hide();
    if (m_esconderTrasEnviar() && m_principal)
        m_principal->hide();
}
