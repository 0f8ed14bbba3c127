#pragma once

#include "profile/ProfileFiles.h"

#include <QString>
#include <QStringList>

class Runtime;

// The profile-file operations of the program and the address book (enviara.ini) with its
// two in-memory lists. Every file is addressed as RutaPrograma followed by its bare name,
// formed anew at each access.
class Module final
{
public:
    // Keeps a reference to the owner's RutaPrograma, which is read at each access.
    Module(Runtime &rt, const QString &rutaPrograma);

    // The value of key (at most its first 49 characters), or def when the file, the
    // section or the key is absent or the value is empty. Never fails.
    QString LeerIni(const QString &file, const QString &section, const QString &key, const QString &def);

    // LeerIni of keys "1" to "count" with an empty default, in one pass over the file.
    QStringList readEntries(const QString &file, const QString &section, int count);

    // Sets key; a failed write shows "PUFF" and the caller carries on.
    void EscribirIni(const QString &file, const QString &section, const QString &key, const QString &value);

    // Whether a regular file exists at path, an empty one included.
    bool ExisteArchivo(const QString &path);

    // Replaces both lists from the address book; no file gives two empty lists.
    void CargarListas();

    // Writes both lists, entries then "Total", section "Equipos" then "Redes". One
    // "PUFF" per key that could not be written.
    void GuardarListas();

    QString rutaPrograma() const { return m_rutaPrograma; }
    QString rutaLibreta() const;

    // A run of EscribirIni calls on one file, saved once at endBatch() with the same end
    // result and the same number of "PUFF" boxes as the calls one by one. LeerIni on that
    // file sees the pending values.
    void beginBatch(const QString &file);
    void endBatch();

    // A count read from a profile file: the leading whole number of the text (blanks,
    // an optional sign and digits, as Val reads it), clamped to 0..kMaxEntradas.
    static qint16 leerCuenta(const QString &text);

    // Entry p is ListaEquipos[p - 1]; the count governs (the list may be longer).
    QStringList ListaEquipos;
    qint16 TotalEquipos = 0;
    QStringList ListaRedes;
    qint16 TotalRedes = 0;

    static constexpr qint16 kMaxEntradas = 32767;
    // The read buffer of the profile service holds 49 characters and its terminator.
    static constexpr qsizetype kLargoValor = 49;

private:
    void cargarSeccion(const QString &file, const QString &section, QStringList &lista, qint16 &total);
    void guardarSeccion(const QString &file, const QString &section, const QStringList &lista, qint16 total);

    Runtime &m_rt;
    const QString &m_rutaPrograma;
    ProfileFiles m_profiles;
};
