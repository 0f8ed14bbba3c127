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
class EntradaMensaje final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kLargoMaximo = 255;
    static inline const QString kTextoInicial = QStringLiteral("Escriba su mensaje");
    static inline const QString kPalabraClave = QStringLiteral("COLOROFVELRISA");

    // Sets the initial text and the limit. ponerFondoAlternativo swaps the window's left
    // picture; it is called once, the first time the whole message is the keyword.
    EntradaMensaje(QLineEdit *txtMensaje, QComboBox *txtDestino, QPushButton *cmdEnviar,
        std::function<void()> ponerFondoAlternativo, QObject *parent = nullptr);

    bool fondoAlternativo() const { return m_fondoAlternativo; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void txtMensaje_Change();

    QLineEdit *m_txtMensaje;
    QComboBox *m_txtDestino;
    QPushButton *m_cmdEnviar;
    std::function<void()> m_ponerFondoAlternativo;
    bool m_fondoAlternativo = false;
};
