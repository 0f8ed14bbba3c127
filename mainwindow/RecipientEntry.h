#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QComboBox;
class QFocusEvent;
class QKeyEvent;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWidget;
class Module;
class Runtime;

// The behaviour of the main window's recipient controls: the recipients line
// (txtDestino), the kind options (optGrupo), the address-book list (cmbDestino) and the
// button that opens the address book editor (Command1). The window owns the controls and
// this object; it attaches itself at construction.
class RecipientEntry final : public QObject
{
    Q_OBJECT

public:
    RecipientEntry(Runtime &rt, Module &module, QComboBox *txtDestino, QRadioButton *optGrupo0, QRadioButton *optGrupo1,
        QListWidget *cmbDestino, QPushButton *command1, QLineEdit *txtMensaje, QPushButton *cmdEnviar,
        QObject *parent = nullptr);

    // The send button is enabled exactly when the recipients line and the message each
    // hold at least one character; blanks count.
    static void ActualizarEnviar(const QComboBox *txtDestino, const QLineEdit *txtMensaje, QPushButton *cmdEnviar);
    void ActualizarEnviar();

    // Fills cmbDestino with the entries of the given kind (0 computers and users, 1 workgroups
    // and domains) in proper case; leaves it as it is when the address book file is missing.
    void FillList(int kind);

    // Runs the address book editor modally, reloads the book and refills the list.
    void Command1_Click();

    // Whether a focus loss means the user left the box: moving to another control does,
    // opening the box's own drop-down, switching to another program, or the window being
    // disabled or hidden around it does not.
    static bool leavesTheField(const QFocusEvent *event, const QWidget *field);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void RebuildRecipients();
    void trimRecipient();
    // A letter typed in the address-book list: moves the current entry without marking it.
    bool searchByKeyboard(const QKeyEvent *event);

    Runtime &m_rt;
    Module &m_module;
    QComboBox *m_txtDestino;
    QRadioButton *m_optGrupo0;
    QRadioButton *m_optGrupo1;
    QListWidget *m_cmbDestino;
    QPushButton *m_command1;
    QLineEdit *m_txtMensaje;
    QPushButton *m_cmdEnviar;
    bool m_filling = false;
    QString m_search;
    QElapsedTimer m_lastKey;
};
