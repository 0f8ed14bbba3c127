#pragma once

#include <QWidget>

class QAbstractItemModel;
class QPushButton;
class QTableView;

// A log window of the sent-messages kind: a report list over a model and a "&Cerrar"
// button that Enter presses. Once created it lives until the program ends: a close
// request only hides it, so its rows survive every hide and show.
class VentanaLista : public QWidget
{
    Q_OBJECT

public:
    // The model stays its caller's. The message column takes whatever room the others leave,
    // so that the long text is not cut while the list has room to spare.
    VentanaLista(const QString &nombre, const QString &titulo, QAbstractItemModel *modelo, int columnaMensaje);

    // Visible, in front and active; centred on the screen the first time.
    void mostrar();

protected:
    void closeEvent(QCloseEvent *event) override;
    // "&Cerrar": hides the window.
    virtual void cerrar();

    QTableView *lista() const { return m_lista; }

private:
    QTableView *m_lista;
    QPushButton *m_cerrar;
    bool m_yaMostrada = false;
};
