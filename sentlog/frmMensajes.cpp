#include "sentlog/frmMensajes.h"

#include "sentlog/MessagesModel.h"
#include "widgets/MessagesView.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTableView>

frmMensajes::frmMensajes(QWidget *principal, std::function<bool()> esconderTrasEnviar)
    : ListWindow(QStringLiteral("frmMensajes"), QStringLiteral("Mensajes enviados"), new MessagesModel,
        MessagesModel::ColMessage)
    , m_principal(principal)
    , m_esconderTrasEnviar(std::move(esconderTrasEnviar))
    , m_model(static_cast<MessagesModel *>(list()->model()))
{
    m_model->setParent(this);
}

void frmMensajes::addRow(const QString &to)
{
    m_model->addRow(to);
}

void frmMensajes::completeLastRow(
    qint16 estado, const QString &message, const QString &result, const QString &time, const QString &answer)
{
    m_model->completeLastRow(estado, message, result, time, answer);
}

void frmMensajes::repaintRows()
{
    // What the last changes marked is drawn now, the rest of the window is already on screen:
    // a whole repaint would lay out and draw every visible cell again, at every recipient.
    if (!isVisible())
        return;
    if (auto *view = qobject_cast<MessagesView *>(list()))
        view->bringUpToDate();
    QEvent requested(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(this, &requested);
}

int frmMensajes::rows() const
{
    return m_model->rowCount();
}

void frmMensajes::closeWindow()
{
    hide();
    if (m_esconderTrasEnviar() && m_principal)
        m_principal->hide();
}
