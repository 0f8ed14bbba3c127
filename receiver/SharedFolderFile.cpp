#include "receiver/SharedFolderFile.h"

#include "runtime/DataFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace SharedFolderFile {

std::string describeError(int numeroError)
{
    return std::string(std::strerror(numeroError)) + " (" + std::to_string(numeroError) + ')';
}

Contents read(int dirfd, const std::string &nombre, size_t maximo)
{
    Contents l;
    DataFile::ReadOptions opciones;
    opciones.limit = maximo;
    opciones.cut = true;
    opciones.links = DataFile::Links::Refuse;
    opciones.folder = dirfd;
    switch (DataFile::read(nombre, l.bytes, &l.info, opciones)) {
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

std::string createNew(int dirfd, const std::string &nombre, std::string_view bytes, mode_t modo, bool *existe)
{
    // O_EXCL: never an existing file, nor through a link.
    const int fd = ::openat(dirfd, nombre.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, modo);
    *existe = fd < 0 && errno == EEXIST;
    if (fd < 0)
        return describeError(errno);
    std::string error;
    // The creator's umask must not take the readers' rights away.
    if (::fchmod(fd, modo) != 0)
        error = describeError(errno);
    for (size_t escritos = 0; error.empty() && escritos < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + escritos, bytes.size() - escritos);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = describeError(n < 0 ? errno : EIO);
        else
            escritos += size_t(n);
    }
    if (::close(fd) != 0 && error.empty())
        error = describeError(errno);
    if (!error.empty())
        ::unlinkat(dirfd, nombre.c_str(), 0);
    return error;
}

std::string renameNoReplace(int dirfd, const std::string &desde, const std::string &hacia, bool *existe)
{
    *existe = false;
    if (::renameat2(dirfd, desde.c_str(), dirfd, hacia.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    int error = errno;
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing name too.
    if (error == EINVAL || error == ENOSYS) {
        if (::linkat(dirfd, desde.c_str(), dirfd, hacia.c_str(), 0) == 0) {
            ::unlinkat(dirfd, desde.c_str(), 0);
            return {};
        }
        error = errno;
    }
    *existe = error == EEXIST;
    return describeError(error);
}

std::string removeOwn(const std::string &ruta, bool *falta)
{
    if (falta)
        *falta = false;
    const size_t barra = ruta.rfind('/');
    const std::string carpeta = barra == std::string::npos ? "." : barra == 0 ? "/" : ruta.substr(0, barra);
    const std::string nombre = barra == std::string::npos ? ruta : ruta.substr(barra + 1);
    if (nombre.empty() || nombre == "." || nombre == "..")
        return "no es un archivo normal";
    // The checks and the removal in one folder, held open: a name swapped in between is at worst
    // a file or link somebody else could remove anyway, never what a link points to.
    const int dirfd = ::open(carpeta.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirfd < 0)
        return "no se puede abrir su carpeta: " + describeError(errno);
    std::string error;
    struct stat st = {};
    if (::fstatat(dirfd, nombre.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (falta)
            *falta = errno == ENOENT;
        error = describeError(errno);
    } else if (S_ISLNK(st.st_mode)) {
        error = "es un enlace simbólico";
    } else if (!S_ISREG(st.st_mode)) {
        error = "no es un archivo normal";
    } else if (st.st_uid != ::geteuid()) {
        error = "es del usuario " + std::to_string(st.st_uid);
    } else if (::unlinkat(dirfd, nombre.c_str(), 0) != 0) {
        error = describeError(errno);
    }
    ::close(dirfd);
    return error;
}

} // namespace SharedFolderFile
