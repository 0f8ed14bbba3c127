#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;

// The behaviour of the main window's message box txtMensaje: its initial text, its
// length limit, tidying on leaving it, its part in enabling the send button, and the
// keyword that swaps the window's left picture for good.
class MessageEntry final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxLength = 255;
    static inline const QString kInitialText = QStringLiteral("Escriba su mensaje");
    static inline const QString kKeyword = QStringLiteral("COLOROFVELRISA");

    // Sets the initial text and the limit. setAlternativeBackground swaps the window's left
    // picture; it is called once, the first time the whole message is the keyword.
    MessageEntry(QLineEdit *txtMensaje, QComboBox *txtDestino, QPushButton *cmdEnviar,
        std::function<void()> setAlternativeBackground, QObject *parent = nullptr);

    bool alternativeBackground() const { return m_alternativeBackground; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void txtMensaje_Change();

    QLineEdit *m_txtMensaje;
    QComboBox *m_txtDestino;
    QPushButton *m_cmdEnviar;
    std::function<void()> m_setAlternativeBackground;
    bool m_alternativeBackground = false;
};
