#pragma once

#include "mainwindow/CajaDestinatarios.h"

class QComboBox;

// The recipients box txtDestino (an editable QComboBox) seen as a CajaDestinatarios.
class ComboDestinatarios final : public CajaDestinatarios
{
public:
    explicit ComboDestinatarios(QComboBox *combo);

    QString text() const override;
    void setText(const QString &text) override;
    void clearItems() override;
    void appendItem(const QString &item) override;

private:
    QComboBox *m_combo;
};
