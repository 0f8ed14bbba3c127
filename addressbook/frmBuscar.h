#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

// The names found on the network that are not yet in the address book: the user marks
// the ones to add. Modal; marcados() gives the marked names once accepted.
class frmBuscar final : public QDialog
{
    Q_OBJECT

public:
    // tipo: the kind of the names (0 computers and users, 1 workgroups and domains).
    frmBuscar(int tipo, const QStringList &nombres, QWidget *parent = nullptr);

    // The marked names, in the list's order.
    QStringList marcados() const;

    static inline const QString kTitulo = QStringLiteral("Buscar en la red");

private:
    void actualizar();

    QLabel *m_lblEncontrados;
    QListWidget *m_lstEncontrados;
    QPushButton *m_cmdTodos;
    QPushButton *m_cmdAnadir;
    QPushButton *m_cmdCancelar;
};
