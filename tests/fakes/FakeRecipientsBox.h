#pragma once

#include "mainwindow/RecipientsBox.h"

// A recipients box without a window; replacing its items empties the text, as the real one does.
class FakeRecipientsBox final : public RecipientsBox
{
public:
    QString text() const override { return m_text; }
    void setText(const QString &text) override { m_text = text; }
    void setItems(const QStringList &items) override
    {
        m_items = items;
        m_text.clear();
    }

    QString m_text;
    QStringList m_items;
};
