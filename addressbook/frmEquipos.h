#pragma once

#include <QDialog>
#include <QStringList>

class FilaLibreta;
class Module;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;
class Runtime;

// The address book editor: lists the computers and users or the workgroups and domains,
// adds a typed name and deletes the chosen one. Every change is saved at once and read
// back. Built anew at each opening and shown modally.
class frmEquipos final : public QDialog
{
    Q_OBJECT

public:
    // Loads the book and opens on "Equipos y usuarios".
    frmEquipos(Runtime &rt, Module &module, QWidget *parent = nullptr);

    // 0 while "Equipos y usuarios" is chosen, otherwise 1.
    int TipoElegido() const;

    // The input-box prompt for names of kind tipo.
    static QString textoPregunta(int tipo);
    static inline const QString kTituloPregunta = QStringLiteral("Insertar elemento");

    void optElemento_Click(int index);
    void Command1_Click();
    void Command2_Click();

private:
    QStringList &lista(int tipo);
    qint16 &total(int tipo);
    // Reloads the book after a save; when what comes back is not what was saved (a write
    // failed), refills the list box so that every row stands for its entry again and
    // returns false.
    bool recargar();
    void rellenar(int tipo, qsizetype n);

    Runtime &m_rt;
    Module &m_module;
    QRadioButton *m_optElemento[2];
    QListWidget *m_lstElementos;
    QPushButton *m_command1;
    QPushButton *m_command2;
    QPushButton *m_command3;
    QLabel *m_image1;
};
