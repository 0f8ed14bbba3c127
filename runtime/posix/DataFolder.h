#pragma once

#include <QString>

// Where the program's data files live (address book, recent list, batch and output file).
namespace DataFolder {

// The file that the install rules put beside the installed program.
inline constexpr char kInstalledMark[] = "instalado.txt";

// The executable's folder exeDir itself when this user may create files in it (a build
// folder, a portable copy), as on Windows. Otherwise, and always for an installed copy (which
// even root must not fill with one user's files), the user's own folder
// $XDG_DATA_HOME/velrisa (~/.local/share/velrisa), created private to the user when missing;
// an enviara.ini or mru.ini beside the program is copied there when the user has none yet.
// Without a trailing separator.
QString choose(const QString &exeDir);

// The user's own folder, $XDG_DATA_HOME/velrisa (~/.local/share/velrisa: a relative
// XDG_DATA_HOME is invalid and ignored), whatever choose() says; not created here.
QString userFolder();

} // namespace DataFolder
