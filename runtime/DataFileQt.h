#pragma once

#include "runtime/DataFile.h"

#include <QByteArray>
#include <QString>

// The data-file rules for Qt callers: DataFile::replace on QString and QByteArray, and the
// questions asked before writing (whether a file may be written, whether a folder takes
// new files, whether a regular file is there).
namespace DataFileQt {

// Whether writing the file at path (replacing it, or creating it) is refused: the file
// is read-only, or its directory does not allow new files. Permission bits are honoured
// even for the superuser, as Windows honours a read-only attribute for everybody.
bool writeRefused(const QString &path);

// Whether this user may create files in the folder dir, by the same rule: a folder whose mode
// lets somebody write, and that this user may write and enter.
bool folderWritable(const QString &dir);

// Whether a regular file exists at path (an empty one included; a folder, a pipe or a
// device is no file).
bool fileExists(const QString &path);

// DataFile::replace for Qt callers: the file replaced whole or not at all; error (when
// given) says what failed.
bool replace(const QString &path, const QByteArray &bytes, DataFile::Sync sync, QString *error = nullptr,
    mode_t newMode = 0666);

} // namespace DataFileQt
