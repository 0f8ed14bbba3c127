#pragma once

#include "dispatch/SendLog.h"
#include "widgets/ListWindow.h"

#include <functional>

class MessagesModel;

// "Mensajes enviados": every send attempt since start-up, oldest first. Once created
// it is never destroyed while the program runs: a close request only hides it, so its
// rows survive every hide and show.
class frmMensajes final : public ListWindow, public SendLog
{
    Q_OBJECT

public:
    // principal is hidden too by "&Cerrar" when esconderTrasEnviar answers true at that moment.
    frmMensajes(QWidget *principal, std::function<bool()> esconderTrasEnviar);

    void showWindow() override { ListWindow::showWindow(); }
    void addRow(const QString &to) override;
    void completeLastRow(qint16 estado, const QString &message, const QString &result, const QString &time,
        const QString &answer = QString()) override;
    void repaintRows() override;
    int rows() const;
    const MessagesModel &model() const { return *m_model; }

protected:
    void closeWindow() override;

private:
    QWidget *m_principal;
    std::function<bool()> m_esconderTrasEnviar;
    MessagesModel *m_model;
};
