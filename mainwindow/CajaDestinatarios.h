#pragma once

#include <QString>

// What the recent-recipients list needs of the recipients box: its text and its
// drop-down items. Kept free of widgets so that the list logic runs without a window.
class CajaDestinatarios
{
public:
    virtual ~CajaDestinatarios() = default;

    virtual QString text() const = 0;
    virtual void setText(const QString &text) = 0;
    // Removes every drop-down item; the text may be emptied with them.
    virtual void clearItems() = 0;
    virtual void appendItem(const QString &item) = 0;
};
