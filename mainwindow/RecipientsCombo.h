#pragma once

#include "mainwindow/RecipientsBox.h"

class QComboBox;
class QStringListModel;

// The recipients box txtDestino (an editable QComboBox) seen as a RecipientsBox. The box
// gets a plain list of texts as its model, which takes a full recent list (32,767 lines) at
// once and holds nothing but the texts.
class RecipientsCombo final : public RecipientsBox
{
public:
    explicit RecipientsCombo(QComboBox *combo);

    QString text() const override;
    void setText(const QString &text) override;
    void setItems(const QStringList &items) override;

private:
    QComboBox *m_combo;
    QStringListModel *m_items;
};
