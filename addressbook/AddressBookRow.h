#pragma once

#include <QListWidgetItem>

// One row of a sorted list of address-book entries. Rows sort the way a reader of
// Spanish expects (case and accents do not split the alphabet: "alfa", "Álvaro",
// "Beta", "Nube", "Ñandú"), and a row may carry the position (from 1) of the entry it
// stands for, since its place and its text say nothing reliable about that.
class AddressBookRow final : public QListWidgetItem
{
public:
    explicit AddressBookRow(const QString &text, int position = 0);

    int position() const;
    void setPosition(int position);

    bool operator<(const QListWidgetItem &other) const override;

    // The comparison the rows sort by: below 0 when a comes first.
    static int compare(const QString &a, const QString &b);
};
