#pragma once

#include <QString>

// Profile (INI) files with the observable behaviour of Windows profile files, on QtCore
// alone. Values are returned whole; the 49-character read buffer of the program's own
// LeerIni is applied on top of this, not here.
//
// (Declaration agreed between the address book and the `net` command; the engine fills
// in the rest of the class.)
class ProfileFiles
{
public:
    // The stored value of key in section, or a null QString when the file, the section
    // or the key is absent. Section and key match without regard to case.
    QString read(const QString &path, const QString &section, const QString &key);

    // Sets key in section, creating the file, the section and the key as needed; false
    // when the file cannot be written (nothing is changed then).
    bool write(const QString &path, const QString &section, const QString &key, const QString &value);
};
