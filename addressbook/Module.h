#pragma once

#include "profile/IniFiles.h"

#include <QString>
#include <QStringList>

class Runtime;

// The address book (enviara.ini) with its two in-memory lists, over the program's profile
// files. A list is chosen by its kind: 0 computers and users, 1 workgroups or domains.
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

    // The entries of a list, positions 1 to its count; entry p is at index p - 1.
    QStringList entries(int kind) const { return m_lists[index(kind)]; }
    qint16 total(int kind) const { return qint16(m_lists[index(kind)].size()); }
    QStringList ListaEquipos() const { return entries(0); }
    qint16 TotalEquipos() const { return total(0); }
    QStringList ListaRedes() const { return entries(1); }
    qint16 TotalRedes() const { return total(1); }

    // Whether the list's count can take no more entries.
    bool isFull(int kind) const { return total(kind) >= kMaxEntries; }

    // Appends name to the list, in memory only; its position, or 0 when the list is full.
    int add(int kind, const QString &name);

    // Removes the entry at position (from 1), in memory only; the entries after it move up
    // one. False, and nothing changed, when no entry stands there.
    bool removeAt(int kind, int position);

    // Saves both lists and loads them again. False when the list of that kind came back other
    // than it was saved (a write failed and the file kept what it had): positions shown for
    // the lost change would then stand for other entries. A name cut to the stored length
    // is no failure.
    bool saveAndReload(int kind);

private:
    static int index(int kind) { return kind == 0 ? 0 : 1; }
    void loadSection(const QString &file, const QString &section, QStringList &list);
    void saveSection(const QString &file, const QString &section, const QStringList &list);

    // ListaEquipos and ListaRedes; each one's count is its size.
    QStringList m_lists[2];
};
