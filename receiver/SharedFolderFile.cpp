#include "receiver/SharedFolderFile.h"

#include "runtime/DataFile.h"
#include "runtime/posix/Descriptor.h"
#include "runtime/posix/Folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace SharedFolderFile {

std::string describeError(int errorNumber)
{
    return std::string(std::strerror(errorNumber)) + " (" + std::to_string(errorNumber) + ')';
}

Contents read(int dirfd, const std::string &name, size_t maximum)
{
    Contents l;
    DataFile::ReadOptions options;
    options.limit = maximum;
    options.cut = true;
    options.links = DataFile::Links::Refuse;
    options.folder = dirfd;
    switch (DataFile::read(name, l.bytes, &l.info, options)) {
    case DataFile::ReadResult::Read:
        break;
    case DataFile::ReadResult::Cut:
        l.exceeds = true;
        break;
    case DataFile::ReadResult::Missing:
        l.missing = l.info.st_mode == 0;
        l.error = l.missing           ? describeError(ENOENT)
            : S_ISLNK(l.info.st_mode) ? "es un enlace simbólico"
                                      : "no es un archivo normal";
        break;
    case DataFile::ReadResult::TooLarge: // never, as it cuts
    case DataFile::ReadResult::Failed:
        l.error = describeError(errno);
        break;
    }
    if (!l.error.empty())
        l.bytes.clear();
    return l;
}

std::string createNew(int dirfd, const std::string &name, std::string_view bytes, mode_t mode, bool *exists)
{
    // O_EXCL: never an existing file, nor through a link.
    Descriptor file(::openat(dirfd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    *exists = !file.isOpen() && errno == EEXIST;
    if (!file.isOpen())
        return describeError(errno);
    const int fd = file.get();
    std::string error;
    // The creator's umask must not take the readers' rights away.
    if (::fchmod(fd, mode) != 0)
        error = describeError(errno);
    for (size_t written = 0; error.empty() && written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = describeError(n < 0 ? errno : EIO);
        else
            written += size_t(n);
    }
    if (!file.close() && error.empty())
        error = describeError(errno);
    if (!error.empty())
        ::unlinkat(dirfd, name.c_str(), 0);
    return error;
}

std::string renameNoReplace(int dirfd, const std::string &from, const std::string &to, bool *exists)
{
    *exists = false;
    if (::renameat2(dirfd, from.c_str(), dirfd, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    int error = errno;
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing name too.
    if (error == EINVAL || error == ENOSYS) {
        if (::linkat(dirfd, from.c_str(), dirfd, to.c_str(), 0) == 0) {
            ::unlinkat(dirfd, from.c_str(), 0);
            return {};
        }
        error = errno;
    }
    *exists = error == EEXIST;
    return describeError(error);
}

std::string removeOwn(const std::string &path, bool *missing)
{
    if (missing)
        *missing = false;
    const size_t bar = path.rfind('/');
    const std::string folder = bar == std::string::npos ? "." : bar == 0 ? "/" : path.substr(0, bar);
    const std::string name = bar == std::string::npos ? path : path.substr(bar + 1);
    if (name.empty() || name == "." || name == "..")
        return "no es un archivo normal";
    // The checks and the removal in one folder, held open: a name swapped in between is at worst
    // a file or link somebody else could remove anyway, never what a link points to.
    const Descriptor opened = Folder::open(folder, Folder::Links::Refuse);
    if (!opened.isOpen())
        return "no se puede abrir su carpeta: " + describeError(errno);
    const int dirfd = opened.get();
    std::string error;
    struct stat st = {};
    if (::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (missing)
            *missing = errno == ENOENT;
        error = describeError(errno);
    } else if (S_ISLNK(st.st_mode)) {
        error = "es un enlace simbólico";
    } else if (!S_ISREG(st.st_mode)) {
        error = "no es un archivo normal";
    } else if (st.st_uid != ::geteuid()) {
        error = "es del usuario " + std::to_string(st.st_uid);
    } else if (::unlinkat(dirfd, name.c_str(), 0) != 0) {
        error = describeError(errno);
    }
    return error;
}

} // namespace SharedFolderFile
