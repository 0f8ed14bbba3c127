#pragma once

#include <QString>
#include <QStringList>

// What the recent-recipients list needs of the recipients box: its text and its
// drop-down items. Kept free of widgets so that the list logic runs without a window.
class RecipientsBox
{
public:
    virtual ~RecipientsBox() = default;

    virtual QString text() const = 0;
    virtual void setText(const QString &text) = 0;
    // Replaces every drop-down item with items, in their order; the text may be emptied.
    virtual void setItems(const QStringList &items) = 0;
};
