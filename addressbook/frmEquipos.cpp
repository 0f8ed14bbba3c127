#include "addressbook/frmEquipos.h"

#include "addressbook/AddressBookRow.h"
#include "addressbook/Module.h"
#include "addressbook/NetworkSearch.h"
#include "addressbook/frmSearch.h"
#include "runtime/Runtime.h"
#include "runtime/Text.h"
#include "widgets/Twips.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace {

const QString kSection[2] = { QStringLiteral("Equipos"), QStringLiteral("Redes") };

} // namespace

frmEquipos::frmEquipos(Runtime &rt, Module &module, QWidget *parent)
    : QDialog(parent,
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , m_rt(rt)
    , m_module(module)
{
    setObjectName(QStringLiteral("frmEquipos"));
    setWindowTitle(QStringLiteral("Lista de equipos y subredes"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/equipos32.png")));
    setFixedSize(Twips::px(6135), Twips::px(3495));
    setModal(true);

    m_optElemento[0] = new QRadioButton(QStringLiteral("Equipos y usuarios"), this);
    m_optElemento[0]->setObjectName(QStringLiteral("optElemento(0)"));
    // Wider than the 1635 it was drawn with, up to its sibling: this face's indicator and
    // caption need the room.
    m_optElemento[0]->setGeometry(Twips::rect(120, 120, 1800, 315));
    m_optElemento[1] = new QRadioButton(QStringLiteral("Grupos de trabajo o dominios"), this);
    m_optElemento[1]->setObjectName(QStringLiteral("optElemento(1)"));
    m_optElemento[1]->setGeometry(Twips::rect(1920, 120, 2475, 315));

    m_lstElementos = new QListWidget(this);
    m_lstElementos->setObjectName(QStringLiteral("lstElementos"));
    m_lstElementos->setGeometry(Twips::rect(120, 540, 4515, 2205));
    m_lstElementos->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lstElementos->setSortingEnabled(true);
    m_lstElementos->setAccessibleName(windowTitle());

    m_command1 = new QPushButton(QStringLiteral("&Añadir"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setGeometry(Twips::rect(4800, 540, 1215, 375));
    m_command2 = new QPushButton(QStringLiteral("&Eliminar"), this);
    m_command2->setObjectName(QStringLiteral("Command2"));
    m_command2->setGeometry(Twips::rect(4800, 1020, 1215, 375));
    m_command3 = new QPushButton(QStringLiteral("&Cerrar"), this);
    m_command3->setObjectName(QStringLiteral("Command3"));
    m_command3->setGeometry(Twips::rect(4860, 3000, 1155, 435));
    // In the free space of the foot, beside "&Cerrar": the right-hand column is too narrow
    // for its caption on one line.
    m_cmdSearch = new QPushButton(QStringLiteral("&Buscar en la red..."), this);
    m_cmdSearch->setObjectName(QStringLiteral("cmdSearch"));
    m_cmdSearch->setGeometry(Twips::rect(2700, 3000, 2055, 435));
    m_cmdSearch->setToolTip(QStringLiteral("Busca en la red los nombres que faltan en la lista"));
    // No button acts on Enter: only the one that has the focus.
    for (QPushButton *button : { m_command1, m_command2, m_command3, m_cmdSearch })
        button->setAutoDefault(false);

    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setGeometry(Twips::rect(60, 2970, 480, 480));
    m_image1->setPixmap(QPixmap(QStringLiteral(":/icons/equipos32.png")));

    // The etched separator above the foot: a shadow line with a highlight line under it.
    auto *line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setGeometry(0, Twips::px(2880), Twips::px(6360), 1);
    line1->setAutoFillBackground(true);
    line1->setBackgroundRole(QPalette::Dark);
    auto *line2 = new QFrame(this);
    line2->setObjectName(QStringLiteral("Line2"));
    line2->setGeometry(0, Twips::px(2895), Twips::px(6420), 1);
    line2->setAutoFillBackground(true);
    line2->setBackgroundRole(QPalette::Light);

    setTabOrder(m_optElemento[0], m_optElemento[1]);
    setTabOrder(m_optElemento[1], m_lstElementos);
    setTabOrder(m_lstElementos, m_command1);
    setTabOrder(m_command1, m_command2);
    setTabOrder(m_command2, m_command3);
    setTabOrder(m_command3, m_cmdSearch);

    for (int i = 0; i < 2; ++i) {
        connect(m_optElemento[i], &QRadioButton::toggled, this, [this, i](bool chosen) {
            if (chosen)
                optElemento_Click(i);
        });
    }
    connect(m_command1, &QPushButton::clicked, this, &frmEquipos::Command1_Click);
    connect(m_command2, &QPushButton::clicked, this, &frmEquipos::Command2_Click);
    connect(m_cmdSearch, &QPushButton::clicked, this, &frmEquipos::cmdSearch_Click);
    // Esc reaches reject() by itself, as the close box does.
    connect(m_command3, &QPushButton::clicked, this, &QDialog::reject);

    m_module.CargarListas();
    m_optElemento[0]->setChecked(true);
    m_optElemento[0]->setFocus();
}

int frmEquipos::TipoElegido() const
{
    return m_optElemento[0]->isChecked() ? 0 : 1;
}

QString frmEquipos::promptText(int kind)
{
    return kind == 0 ? QStringLiteral("Escriba el nombre del usuario o nombre de equipo:")
                     : QStringLiteral("Escriba el nombre del grupo de trabajo o dominio:");
}

void frmEquipos::optElemento_Click(int index)
{
    if (!m_module.ExisteArchivo(m_module.addressBookPath()))
        return;
    // The count comes from the file; should the file have been changed by hand while the
    // window is open, rows are only made for entries that are in memory.
    const qint16 inFile = Module::readCount(
        m_module.LeerIni(m_module.addressBookPath(), kSection[index], QStringLiteral("Total"), QStringLiteral("0")));
    refill(index, qMin<qsizetype>(inFile, m_module.total(index)));
}

void frmEquipos::refill(int kind, qsizetype n)
{
    m_lstElementos->setUpdatesEnabled(false);
    m_lstElementos->clear();
    // Added unsorted and sorted once: placing each row in turn is quadratic in a full book.
    m_lstElementos->setSortingEnabled(false);
    const QStringList entries = m_module.entries(kind);
    for (qsizetype p = 1; p <= n; ++p)
        m_lstElementos->addItem(new AddressBookRow(Text::properCase(entries.at(p - 1)), int(p)));
    m_lstElementos->setSortingEnabled(true);
    m_lstElementos->sortItems();
    m_lstElementos->setUpdatesEnabled(true);
}

void frmEquipos::Command1_Click()
{
    // A full list cannot count one more entry: say so before the user types a name.
    if (full(TipoElegido()))
        return;

    const QString answer = m_rt.inputBox(promptText(TipoElegido()), kPromptTitle);
    // Saved and read back even after Cancel, which rewrites the book unchanged.
    add(answer.isEmpty() ? QStringList() : QStringList { answer });
}

bool frmEquipos::full(int kind)
{
    if (!m_module.isFull(kind))
        return false;
    m_rt.msgBox(QStringLiteral("No se puede añadir el elemento: la lista ya tiene %1 elementos, el máximo.")
                    .arg(Module::kMaxEntries),
        Runtime::Icon::Critical, windowTitle());
    return true;
}

void frmEquipos::add(const QStringList &names)
{
    const int kind = TipoElegido();
    QList<QPair<QString, int>> added;
    for (const QString &name : names) {
        if (full(kind))
            break;
        added.append({ name, m_module.add(kind, name) });
    }
    if (!saveAndShow(kind))
        return;
    for (const auto &[name, position] : added)
        m_lstElementos->addItem(new AddressBookRow(name, position));
}

void frmEquipos::cmdSearch_Click()
{
    const int kind = TipoElegido();
    m_rt.setHourglass(true);
    m_searching = true;
    const NetworkSearch::Result found = NetworkSearch::search(m_rt.appPath(), kind);
    m_searching = false;
    m_rt.setHourglass(false);
    if (!found.error.isEmpty()) {
        m_rt.msgBox(found.error, Runtime::Icon::Critical, frmSearch::kTitle);
        return;
    }

    // NetBIOS names know no case; an entry typed with blanks around it is still that name.
    QStringList missing;
    const QStringList inList = m_module.entries(kind);
    const auto contains = [](const QStringList &names, const QString &name) {
        return std::any_of(names.begin(), names.end(),
            [&](const QString &other) { return other.trimmed().compare(name, Qt::CaseInsensitive) == 0; });
    };
    for (const QString &name : found.names) {
        if (!contains(inList, name) && !contains(missing, name))
            missing << name;
    }
    if (missing.isEmpty()) {
        const QString text = found.names.isEmpty()
            ? (kind == 0 ? QStringLiteral("No se ha encontrado ningún equipo en la red.")
                         : QStringLiteral("No se ha encontrado ningún grupo de trabajo ni dominio en la red."))
            : (kind == 0 ? QStringLiteral("Todos los equipos encontrados en la red ya están en la lista.")
                         : QStringLiteral("Todos los grupos de trabajo y dominios encontrados en la red ya están en "
                                          "la lista."));
        m_rt.msgBox(text, Runtime::Icon::Information, frmSearch::kTitle);
        return;
    }

    frmSearch choice(kind, missing, this);
    if (choice.exec() == QDialog::Accepted && !choice.marked().isEmpty())
        add(choice.marked());
}

void frmEquipos::reject()
{
    if (!m_searching)
        QDialog::reject();
}

void frmEquipos::Command2_Click()
{
    const QList<QListWidgetItem *> chosen = m_lstElementos->selectedItems();
    if (chosen.isEmpty())
        return;
    auto *row = static_cast<AddressBookRow *>(chosen.first());

    const int kind = TipoElegido();
    const int position = row->position();
    delete row;
    if (!m_module.removeAt(kind, position)) {
        // The row stands for no entry of the book as it is now: show the book instead.
        optElemento_Click(kind);
        return;
    }
    // The rows of the entries after it move up with them.
    for (int i = 0; i < m_lstElementos->count(); ++i) {
        auto *other = static_cast<AddressBookRow *>(m_lstElementos->item(i));
        if (other->position() > position)
            other->setPosition(other->position() - 1);
    }
    saveAndShow(kind);
}

bool frmEquipos::saveAndShow(int kind)
{
    if (m_module.saveAndReload(kind))
        return true;
    refill(kind, m_module.total(kind));
    return false;
}
