#include "mainwindow/RecipientsCombo.h"

#include <QComboBox>
#include <QListView>
#include <QStringListModel>

RecipientsCombo::RecipientsCombo(QComboBox *combo)
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
    if (auto *list = qobject_cast<QListView *>(m_combo->view()))
        list->setUniformItemSizes(true);
}

QString RecipientsCombo::text() const
{
    return m_combo->currentText();
}

void RecipientsCombo::setText(const QString &text)
{
    m_combo->setEditText(text);
}

void RecipientsCombo::setItems(const QStringList &items)
{
    // Straight into the model: the box may be sorted or refuse duplicates by policy, but the
    // list shows every stored line, oldest first. A box that gets items selects the first one
    // and shows it as its text: select nothing.
    m_items->setStringList(items);
    m_combo->setCurrentIndex(-1);
}
