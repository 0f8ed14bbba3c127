#pragma once

#include "profile/IniFiles.h"

#include <QString>
#include <QStringList>

class Runtime;

// The address book (enviara.ini) with its two in-memory lists, over the program's profile
// files.
class Module final : public IniFiles
{
public:
    Module(Runtime &rt, const QString &rutaPrograma);

    // Replaces both lists from the address book; no file gives two empty lists.
    void CargarListas();

    // Writes both lists, entries then "Total", section "Equipos" then "Redes". One
    // "PUFF" per key that could not be written.
    void GuardarListas();

    QString addressBookPath() const;

    // Entry p is ListaEquipos[p - 1]; the count governs (the list may be longer).
    QStringList ListaEquipos;
    qint16 TotalEquipos = 0;
    QStringList ListaRedes;
    qint16 TotalRedes = 0;

private:
    void loadSection(const QString &file, const QString &section, QStringList &list, qint16 &total);
    void saveSection(const QString &file, const QString &section, const QStringList &list, qint16 total);
};
