#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

// The names found on the network that are not yet in the address book: the user marks
// the ones to add. Modal; marked() gives the marked names once accepted.
class frmSearch final : public QDialog
{
    Q_OBJECT

public:
    // kind: the kind of the names (0 computers and users, 1 workgroups and domains).
    frmSearch(int kind, const QStringList &names, QWidget *parent = nullptr);

    // The marked names, in the list's order.
    QStringList marked() const;

    static inline const QString kTitle = QStringLiteral("Buscar en la red");

private:
    void refresh();

    QLabel *m_lblFound;
    QListWidget *m_lstFound;
    QPushButton *m_cmdAll;
    QPushButton *m_cmdAdd;
    QPushButton *m_cmdCancelar;
};
