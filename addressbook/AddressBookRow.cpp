#include "addressbook/AddressBookRow.h"

#include <QCollator>
#include <QLocale>

namespace {

// Under the bare C locale the collator only compares code points, which would put every
// accented capital after "Z"; the program's names are Spanish, so collate them as such.
QLocale sortLocale()
{
    const QLocale current;
    return current.language() == QLocale::C ? QLocale(QLocale::Spanish, QLocale::Spain) : current;
}

} // namespace

AddressBookRow::AddressBookRow(const QString &text, int position)
    : QListWidgetItem(text)
{
    setPosition(position);
}

int AddressBookRow::position() const
{
    return data(Qt::UserRole).toInt();
}

void AddressBookRow::setPosition(int position)
{
    setData(Qt::UserRole, position);
}

bool AddressBookRow::operator<(const QListWidgetItem &other) const
{
    return compare(text(), other.text()) < 0;
}

int AddressBookRow::compare(const QString &a, const QString &b)
{
    // Opening a collator is costly and a sort of a full book compares half a million
    // times: keep one, and open it again only when the locale changes.
    static thread_local QString name;
    static thread_local QCollator collator;
    const QLocale locale = sortLocale();
    if (locale.name() != name) {
        name = locale.name();
        collator = QCollator(locale);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
    }
    const int order = collator.compare(a, b);
    // Names equal to the collator still get a fixed order, so the rows never shuffle.
    return order != 0 ? order : QString::compare(a, b);
}
