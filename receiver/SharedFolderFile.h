#pragma once

#include <string>
#include <string_view>
#include <sys/stat.h>

// Files in folders that other users can reach: a planted link is never followed, a fifo
// or device is never opened (so nothing blocks), sizes are bounded, and an existing file
// is never replaced. Errors are Spanish phrases, ready to follow "no se puede ...".
namespace SharedFolderFile {

struct Contents
{
    std::string error; // empty when the file was read
    bool missing = false; // there is no such file
    std::string bytes; // at most the maximum asked for
    bool exceeds = false; // the file holds more than that
    struct stat info = {}; // of the file read
};

// Reads the regular file nombre, relative to dirfd (AT_FDCWD for the current folder), through
// the program's one bounded reader, with links refused.
Contents read(int dirfd, const std::string &nombre, size_t maximo);

// Creates nombre in dirfd as a new file (never an existing one) with these bytes and
// mode; returns the error, empty on success. A file left half-written is removed. *existe
// says whether the name was taken.
std::string createNew(int dirfd, const std::string &nombre, std::string_view bytes, mode_t modo, bool *existe);

// Renames desde to hacia within dirfd unless hacia exists. *existe says whether that was
// the reason it did not happen.
std::string renameNoReplace(int dirfd, const std::string &desde, const std::string &hacia, bool *existe);

// Removes the regular file at ruta if it belongs to this user; a link there is not followed
// and not removed, nor is anything else. Returns why it stays, empty once removed; *falta says
// there was nothing at ruta.
std::string removeOwn(const std::string &ruta, bool *falta = nullptr);

// "<strerror> (errno)".
std::string describeError(int numeroError);

} // namespace SharedFolderFile
