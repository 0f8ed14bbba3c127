#include "mainwindow/ComboDestinatarios.h"

#include <QComboBox>
#include <QListView>
#include <QStringListModel>

ComboDestinatarios::ComboDestinatarios(QComboBox *combo)
    : m_combo(combo)
    , m_items(new QStringListModel(combo))
{
    // The box is taken over as it is: its items, its choice and its text stay.
    QStringList items;
    for (int i = 0; i < m_combo->count(); ++i)
        items << m_combo->itemText(i);
    const int index = m_combo->currentIndex();
    const QString text = m_combo->currentText();
    m_items->setStringList(items);
    m_combo->setModel(m_items);
    m_combo->setCurrentIndex(index);
    if (m_combo->isEditable())
        m_combo->setEditText(text);
    // Every line is one line of the same font: the drop-down need not measure each of them.
    if (auto *lista = qobject_cast<QListView *>(m_combo->view()))
        lista->setUniformItemSizes(true);
}

QString ComboDestinatarios::text() const
{
    return m_combo->currentText();
}

void ComboDestinatarios::setText(const QString &text)
{
    m_combo->setEditText(text);
}

void ComboDestinatarios::setItems(const QStringList &items)
{
    // Straight into the model: the box may be sorted or refuse duplicates by policy, but the
    // list shows every stored line, oldest first. A box that gets items selects the first one
    // and shows it as its text: select nothing.
    m_items->setStringList(items);
    m_combo->setCurrentIndex(-1);
}
