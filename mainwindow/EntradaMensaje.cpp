#include "mainwindow/EntradaMensaje.h"

#include "mainwindow/EntradaDestino.h"
#include "runtime/Texto.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

EntradaMensaje::EntradaMensaje(QLineEdit *txtMensaje, QComboBox *txtDestino, QPushButton *cmdEnviar,
    std::function<void()> ponerFondoAlternativo, QObject *parent)
    : QObject(parent)
    , m_txtMensaje(txtMensaje)
    , m_txtDestino(txtDestino)
    , m_cmdEnviar(cmdEnviar)
    , m_ponerFondoAlternativo(std::move(ponerFondoAlternativo))
{
    // The line edit refuses typing and pastes past the limit by itself (a paste keeps
    // what fits), as it does with text the program assigns.
    m_txtMensaje->setMaxLength(kLargoMaximo);
    // Ordinary text, not a placeholder: it stays on focus and is sent if left in place.
    m_txtMensaje->setText(kTextoInicial);
    connect(m_txtMensaje, &QLineEdit::textChanged, this, &EntradaMensaje::txtMensaje_Change);
    m_txtMensaje->installEventFilter(this);
    txtMensaje_Change();
}

void EntradaMensaje::txtMensaje_Change()
{
    EntradaDestino::ActualizarEnviar(m_txtDestino, m_txtMensaje, m_cmdEnviar);
    if (!m_fondoAlternativo && m_txtMensaje->text().toUpper() == kPalabraClave) {
        m_fondoAlternativo = true;
        if (m_ponerFondoAlternativo)
            m_ponerFondoAlternativo();
    }
}

bool EntradaMensaje::eventFilter(QObject *watched, QEvent *event)
{
    // Only the focus loss is of interest; keys, Enter included, go on to the box and to
    // whoever listens for them.
    if (event->type() == QEvent::FocusOut
        && EntradaDestino::dejaElCampo(static_cast<QFocusEvent *>(event), m_txtMensaje)) {
        const QString recortado = Texto::trimBlanks(m_txtMensaje->text());
        if (recortado != m_txtMensaje->text())
            m_txtMensaje->setText(recortado);
    }
    return QObject::eventFilter(watched, event);
}
