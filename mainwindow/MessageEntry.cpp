#include "mainwindow/MessageEntry.h"

#include "mainwindow/RecipientEntry.h"
#include "runtime/Text.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

MessageEntry::MessageEntry(QLineEdit *txtMensaje, QComboBox *txtDestino, QPushButton *cmdEnviar,
    std::function<void()> setAlternativeBackground, QObject *parent)
    : QObject(parent)
    , m_txtMensaje(txtMensaje)
    , m_txtDestino(txtDestino)
    , m_cmdEnviar(cmdEnviar)
    , m_setAlternativeBackground(std::move(setAlternativeBackground))
{
    // The line edit refuses typing and pastes past the limit by itself (a paste keeps
    // what fits), as it does with text the program assigns.
    m_txtMensaje->setMaxLength(kMaxLength);
    // Ordinary text, not a placeholder: it stays on focus and is sent if left in place.
    m_txtMensaje->setText(kInitialText);
    connect(m_txtMensaje, &QLineEdit::textChanged, this, &MessageEntry::txtMensaje_Change);
    m_txtMensaje->installEventFilter(this);
    txtMensaje_Change();
}

void MessageEntry::txtMensaje_Change()
{
    RecipientEntry::ActualizarEnviar(m_txtDestino, m_txtMensaje, m_cmdEnviar);
    if (!m_alternativeBackground && m_txtMensaje->text().toUpper() == kKeyword) {
        m_alternativeBackground = true;
        if (m_setAlternativeBackground)
            m_setAlternativeBackground();
    }
}

bool MessageEntry::eventFilter(QObject *watched, QEvent *event)
{
    // Only the focus loss is of interest; keys, Enter included, go on to the box and to
    // whoever listens for them.
    if (event->type() == QEvent::FocusOut
        && RecipientEntry::leavesTheField(static_cast<QFocusEvent *>(event), m_txtMensaje)) {
        const QString trimmed = Text::trimBlanks(m_txtMensaje->text());
        if (trimmed != m_txtMensaje->text())
            m_txtMensaje->setText(trimmed);
    }
    return QObject::eventFilter(watched, event);
}
