#pragma once

#include "mainwindow/CajaDestinatarios.h"

class QComboBox;
class QStringListModel;

// The recipients box txtDestino (an editable QComboBox) seen as a CajaDestinatarios. The box
// gets a plain list of texts as its model, which takes a full recent list (32,767 lines) at
// once and holds nothing but the texts.
class ComboDestinatarios final : public CajaDestinatarios
{
public:
    explicit ComboDestinatarios(QComboBox *combo);

    QString text() const override;
    void setText(const QString &text) override;
    void setItems(const QStringList &items) override;

private:
    QComboBox *m_combo;
    QStringListModel *m_items;
};
