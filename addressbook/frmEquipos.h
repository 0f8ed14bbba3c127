#pragma once

#include <QDialog>
#include <QStringList>

class AddressBookRow;
class Module;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;
class Runtime;

// The address book editor: lists the computers and users or the workgroups and domains,
// adds a typed name or names found on the network, and deletes the chosen one. Every
// change is saved at once and read back. Built anew at each opening and shown modally.
class frmEquipos final : public QDialog
{
    Q_OBJECT

public:
    // Loads the book and opens on "Equipos y usuarios".
    frmEquipos(Runtime &rt, Module &module, QWidget *parent = nullptr);

    // 0 while "Equipos y usuarios" is chosen, otherwise 1.
    int TipoElegido() const;

    // The input-box prompt for names of the given kind.
    static QString promptText(int kind);
    static inline const QString kPromptTitle = QStringLiteral("Insertar elemento");

    void optElemento_Click(int index);
    void Command1_Click();
    void Command2_Click();
    // "Buscar en la red...": the names `net view` finds that the list lacks, to mark and add.
    void cmdSearch_Click();

    // The search may not be left by Esc or the close box while it runs.
    void reject() override;

private:
    // Appends the names to the chosen kind's list, saves and reads back, and shows a row
    // for each when the save held; saves (unchanged) even when there are none.
    void add(const QStringList &names);
    // Whether the list of the given kind can take no more entries; says so when it cannot.
    bool full(int kind);
    // Saves and reloads the book; when what comes back is not what was saved (a write
    // failed), refills the list box so that every row stands for its entry again and
    // returns false.
    bool saveAndShow(int kind);
    void refill(int kind, qsizetype n);

    Runtime &m_rt;
    Module &m_module;
    QRadioButton *m_optElemento[2];
    QListWidget *m_lstElementos;
    QPushButton *m_command1;
    QPushButton *m_command2;
    QPushButton *m_command3;
    QPushButton *m_cmdSearch;
    QLabel *m_image1;
    bool m_searching = false;
};
