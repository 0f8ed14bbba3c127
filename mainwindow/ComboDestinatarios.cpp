#include "mainwindow/ComboDestinatarios.h"

#include <QComboBox>

ComboDestinatarios::ComboDestinatarios(QComboBox *combo)
    : m_combo(combo)
{ }

QString ComboDestinatarios::text() const
{
    return m_combo->currentText();
}

void ComboDestinatarios::setText(const QString &text)
{
    m_combo->setEditText(text);
}

void ComboDestinatarios::clearItems()
{
    m_combo->clear();
}

void ComboDestinatarios::appendItem(const QString &item)
{
    // insertItem rather than addItem: the box may be sorted or refuse duplicates by policy,
    // but the list shows every stored line, oldest first.
    // The first item of an empty box becomes its current one and replaces the typed text:
    // select nothing and put the text back.
    const QString text = m_combo->currentText();
    m_combo->insertItem(m_combo->count(), item);
    if (m_combo->currentIndex() != -1 || m_combo->currentText() != text) {
        m_combo->setCurrentIndex(-1);
        m_combo->setEditText(text);
    }
}
