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

// Reads the regular file name, relative to dirfd (AT_FDCWD for the current folder), through
// the program's one bounded reader, with links refused.
Contents read(int dirfd, const std::string &name, size_t maximum);

// Creates name in dirfd as a new file (never an existing one) with these bytes and
// mode; returns the error, empty on success. A file left half-written is removed. *exists
// says whether the name was taken.
std::string createNew(int dirfd, const std::string &name, std::string_view bytes, mode_t mode, bool *exists);

// Renames from to the name to within dirfd unless that exists. *exists says whether that was
// the reason it did not happen.
std::string renameNoReplace(int dirfd, const std::string &from, const std::string &to, bool *exists);

// Removes the regular file at path if it belongs to this user; a link there is not followed
// and not removed, nor is anything else. Returns why it stays, empty once removed; *missing says
// there was nothing at path.
std::string removeOwn(const std::string &path, bool *missing = nullptr);

// "<strerror> (errno)".
std::string describeError(int errorNumber);

} // namespace SharedFolderFile
