#include "mainwindow/RecipientEntry.h"

#include "addressbook/AddressBookRow.h"
#include "addressbook/Module.h"
#include "addressbook/frmEquipos.h"
#include "runtime/Text.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <utility>

RecipientEntry::RecipientEntry(Runtime &rt, Module &module, QComboBox *txtDestino, QRadioButton *optGrupo0,
    QRadioButton *optGrupo1, QListWidget *cmbDestino, QPushButton *command1, QLineEdit *txtMensaje,
    QPushButton *cmdEnviar, QObject *parent)
    : QObject(parent)
    , m_rt(rt)
    , m_module(module)
    , m_txtDestino(txtDestino)
    , m_optGrupo0(optGrupo0)
    , m_optGrupo1(optGrupo1)
    , m_cmbDestino(cmbDestino)
    , m_command1(command1)
    , m_txtMensaje(txtMensaje)
    , m_cmdEnviar(cmdEnviar)
{
    // The line changes only by typing, by choosing a drop-down item or by the list's marks:
    // an inline completion would add recipients that were never typed.
    m_txtDestino->setCompleter(nullptr);
    connect(m_txtDestino, &QComboBox::editTextChanged, this, qOverload<>(&RecipientEntry::ActualizarEnviar));
    connect(m_txtDestino, &QComboBox::activated, this, qOverload<>(&RecipientEntry::ActualizarEnviar));
    // An editable combo box hands its focus events straight to its line edit, past any
    // filter there: watch both.
    m_txtDestino->installEventFilter(this);
    if (m_txtDestino->lineEdit())
        m_txtDestino->lineEdit()->installEventFilter(this);

    // A choice counts when the option becomes chosen, by mouse or by arrow keys; the
    // program itself never chooses one, so the list stays empty until the user does.
    connect(m_optGrupo0, &QRadioButton::toggled, this, [this](bool chosen) {
        if (chosen)
            FillList(0);
    });
    connect(m_optGrupo1, &QRadioButton::toggled, this, [this](bool chosen) {
        if (chosen)
            FillList(1);
    });

    // Every change of the marks, by mouse or by the space bar, rewrites the line. Letters
    // only move the focus (see searchByKeyboard).
    m_cmbDestino->installEventFilter(this);
    connect(m_cmbDestino, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_filling)
            RebuildRecipients();
    });
    connect(m_command1, &QPushButton::clicked, this, &RecipientEntry::Command1_Click);

    ActualizarEnviar();
}

void RecipientEntry::ActualizarEnviar(const QComboBox *txtDestino, const QLineEdit *txtMensaje, QPushButton *cmdEnviar)
{
    cmdEnviar->setEnabled(!txtMensaje->text().isEmpty() && !txtDestino->currentText().isEmpty());
}

void RecipientEntry::ActualizarEnviar()
{
    ActualizarEnviar(m_txtDestino, m_txtMensaje, m_cmdEnviar);
}

void RecipientEntry::FillList(int kind)
{
    if (!m_module.ExisteArchivo(m_module.addressBookPath()))
        return;

    const QStringList list = m_module.entries(kind);

    // Emptying the list drops its marks; that is no click and leaves the line alone.
    m_filling = true;
    m_cmbDestino->setUpdatesEnabled(false);
    m_cmbDestino->clear();
    // Added unsorted and sorted once: placing each row in turn is quadratic in a full book.
    const bool sorted = m_cmbDestino->isSortingEnabled();
    m_cmbDestino->setSortingEnabled(false);
    for (qsizetype p = 1; p <= list.size(); ++p)
        m_cmbDestino->addItem(new AddressBookRow(Text::properCase(list.at(p - 1)), int(p)));
    m_cmbDestino->setSortingEnabled(sorted);
    if (sorted)
        m_cmbDestino->sortItems();
    m_cmbDestino->setUpdatesEnabled(true);
    m_filling = false;
}

void RecipientEntry::Command1_Click()
{
    {
        frmEquipos editor(m_rt, m_module, m_txtDestino->window());
        editor.exec();
    }
    m_module.CargarListas();
    // Without a chosen option the list shows the workgroups and domains.
    FillList(m_optGrupo0->isChecked() ? 0 : 1);
}

void RecipientEntry::RebuildRecipients()
{
    // The line is the marked entries in list order, each followed by one blank; whatever
    // was typed goes. It is assigned once, emptied first: assigning it entry by entry
    // would end in the same text and the same button state, only in quadratic time.
    m_txtDestino->setEditText(QString());
    ActualizarEnviar();
    QString line;
    for (int i = 0; i < m_cmbDestino->count(); ++i) {
        const QListWidgetItem *row = m_cmbDestino->item(i);
        if (row->isSelected())
            line += row->text() + QLatin1Char(' ');
    }
    if (!line.isEmpty()) {
        m_txtDestino->setEditText(line);
        ActualizarEnviar();
    }
}

void RecipientEntry::trimRecipient()
{
    const QString trimmed = Text::trimBlanks(m_txtDestino->currentText());
    if (trimmed != m_txtDestino->currentText())
        m_txtDestino->setEditText(trimmed);
    ActualizarEnviar();
}

bool RecipientEntry::leavesTheField(const QFocusEvent *event, const QWidget *field)
{
    // While a drop-down or a context menu is open the field keeps its place: opening the
    // drop-down even hands the focus on to its list, with no popup reason given.
    if (QApplication::activePopupWidget())
        return false;
    switch (event->reason()) {
    case Qt::PopupFocusReason:
    case Qt::ActiveWindowFocusReason:
        return false;
    default:
        // A disabled window (a send in progress) or a hidden one keeps its focus control.
        return field->window()->isEnabled() && field->window()->isVisible();
    }
}

bool RecipientEntry::searchByKeyboard(const QKeyEvent *event)
{
    const QString text = event->text();
    if (text.isEmpty() || !text.at(0).isPrint() || text.at(0).isSpace()
        || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        // Any other key (the space bar marking, an arrow) ends the spelling.
        m_lastKey.invalidate();
        return false;
    }
    if (m_lastKey.isValid() && m_lastKey.elapsed() < QApplication::keyboardInputInterval())
        m_search += text;
    else
        m_search = text;
    m_lastKey.start();

    // Letters typed quickly spell the start of an entry; one letter again and again steps
    // through the entries that start with it; a spelling that leads nowhere starts afresh.
    const int current = m_cmbDestino->currentRow();
    const auto search = [this](const QString &start, int from) -> QListWidgetItem * {
        const int n = m_cmbDestino->count();
        for (int k = 0; k < n; ++k) {
            QListWidgetItem *row = m_cmbDestino->item((qMax(from, 0) + k) % n);
            if (row->text().startsWith(start, Qt::CaseInsensitive))
                return row;
        }
        return nullptr;
    };
    const bool repeated = m_search.count(m_search.at(0)) == m_search.size();
    QListWidgetItem *row = repeated ? search(text, current + 1) : search(m_search, current);
    if (!row) {
        m_search = text;
        row = search(text, current + 1);
    }
    if (row) {
        m_cmbDestino->setCurrentItem(row, QItemSelectionModel::NoUpdate);
        m_cmbDestino->scrollToItem(row);
    }
    return true;
}

bool RecipientEntry::eventFilter(QObject *watched, QEvent *event)
{
    // In a list of marks a letter moves the focus and the space bar marks: the list's own
    // search would mark what it finds and so rewrite the line.
    if (watched == m_cmbDestino && event->type() == QEvent::KeyPress)
        return searchByKeyboard(static_cast<QKeyEvent *>(event));
    if (watched != m_cmbDestino && event->type() == QEvent::FocusOut
        && leavesTheField(static_cast<QFocusEvent *>(event), m_txtDestino))
        trimRecipient();
    return QObject::eventFilter(watched, event);
}
