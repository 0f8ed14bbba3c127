#include "addressbook/FilaLibreta.h"

#include <QCollator>
#include <QLocale>

namespace {

// Under the bare C locale the collator only compares code points, which would put every
// accented capital after "Z"; the program's names are Spanish, so collate them as such.
QLocale localeDeOrden()
{
    const QLocale actual;
    return actual.language() == QLocale::C ? QLocale(QLocale::Spanish, QLocale::Spain) : actual;
}

} // namespace

FilaLibreta::FilaLibreta(const QString &texto, int posicion)
    : QListWidgetItem(texto)
{
    setPosicion(posicion);
}

int FilaLibreta::posicion() const
{
    return data(Qt::UserRole).toInt();
}

void FilaLibreta::setPosicion(int posicion)
{
    setData(Qt::UserRole, posicion);
}

bool FilaLibreta::operator<(const QListWidgetItem &other) const
{
    return comparar(text(), other.text()) < 0;
}

int FilaLibreta::comparar(const QString &a, const QString &b)
{
    // Opening a collator is costly and a sort of a full book compares half a million
    // times: keep one, and open it again only when the locale changes.
    static thread_local QString nombre;
    static thread_local QCollator collator;
    const QLocale locale = localeDeOrden();
    if (locale.name() != nombre) {
        nombre = locale.name();
        collator = QCollator(locale);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
    }
    const int orden = collator.compare(a, b);
    // Names equal to the collator still get a fixed order, so the rows never shuffle.
    return orden != 0 ? orden : QString::compare(a, b);
}
