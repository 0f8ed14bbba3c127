#pragma once

#include <string>
#include <sys/types.h>

// Whether a folder is out of other users' reach: nobody but root and user can rename,
// remove or replace it, nor any folder above it, so that what is found there was put there by
// user or root. Every folder above it, both as the path names them and with links
// resolved, must belong to root or user and be writable by neither group nor others. A
// world-writable folder with the sticky bit (/tmp) may stand higher up, never as the folder's
// own parent: there its name is anybody's for the taking whenever the folder is missing.
// The folder itself need not exist.
namespace SafeFolder {

// Why not, as a Spanish phrase ready to follow "se rechaza la carpeta X: "; empty when it is
// safe. A relative path is refused.
std::string problem(const std::string &folder, uid_t user);

} // namespace SafeFolder
