#pragma once

#include "profile/ProfileFiles.h"

#include <QString>
#include <QStringList>

class Runtime;

// The program's profile-file operations, as the address book and the recent list use them.
// Every file is addressed as RutaPrograma followed by its bare name, formed anew at each access.
class IniFiles
{
public:
    // rutaPrograma: the data files' folder with its trailing separator; it may be set later.
    IniFiles(Runtime &rt, const QString &rutaPrograma);

    // The value of key (at most its first 49 characters), or def when the file, the
    // section or the key is absent or the value is empty. Never fails.
    QString LeerIni(const QString &file, const QString &section, const QString &key, const QString &def);

    // LeerIni of keys "1" to "count" with an empty default, in one pass over the file.
    QStringList readEntries(const QString &file, const QString &section, int count);

    // Sets key; a failed write shows "PUFF" and the caller carries on.
    void EscribirIni(const QString &file, const QString &section, const QString &key, const QString &value);

    // Whether a regular file exists at path, an empty one included.
    bool ExisteArchivo(const QString &path);

    QString rutaPrograma() const { return m_rutaPrograma; }
    void setRutaPrograma(const QString &path) { m_rutaPrograma = path; }

    // A run of EscribirIni calls on one file, saved once at endBatch() with the same end
    // result and the same number of "PUFF" boxes as the calls one by one. LeerIni on that
    // file sees the pending values.
    void beginBatch(const QString &file);
    void endBatch();

    // A count read from a profile file: the leading whole number of the text (blanks,
    // an optional sign and digits, as Val reads it), clamped to 0..kMaxEntries.
    static qint16 readCount(const QString &text);

    static constexpr qint16 kMaxEntries = 32767;
    // The read buffer of the profile service holds 49 characters and its terminator.
    static constexpr qsizetype kValueLength = 49;

private:
    Runtime &m_rt;
    QString m_rutaPrograma;
    ProfileFiles m_profiles;
};
