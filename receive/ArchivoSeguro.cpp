#include "receive/ArchivoSeguro.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ArchivoSeguro {

std::string descripcion(int numeroError)
{
    return std::string(std::strerror(numeroError)) + " (" + std::to_string(numeroError) + ')';
}

Lectura leer(int dirfd, const std::string &nombre, size_t maximo)
{
    Lectura l;
    // Looked at before opening: opening a fifo or a device can block or act.
    if (::fstatat(dirfd, nombre.c_str(), &l.info, AT_SYMLINK_NOFOLLOW) != 0) {
        l.falta = errno == ENOENT;
        l.error = descripcion(errno);
        return l;
    }
    if (S_ISLNK(l.info.st_mode)) {
        l.error = "es un enlace simbólico";
        return l;
    }
    if (!S_ISREG(l.info.st_mode)) {
        l.error = "no es un archivo normal";
        return l;
    }
    const int fd = ::openat(dirfd, nombre.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        l.error = descripcion(errno);
        return l;
    }
    struct stat abierto = {};
    // Swapped between the look and the opening: refuse whatever it is now.
    if (::fstat(fd, &abierto) != 0 || !S_ISREG(abierto.st_mode) || abierto.st_ino != l.info.st_ino
        || abierto.st_dev != l.info.st_dev) {
        ::close(fd);
        l.error = "ha cambiado mientras se abría";
        return l;
    }
    l.info = abierto;
    l.bytes.resize(maximo + 1);
    size_t leidos = 0;
    while (leidos < l.bytes.size()) {
        const ssize_t n = ::read(fd, l.bytes.data() + leidos, l.bytes.size() - leidos);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            l.error = descripcion(errno);
            break;
        }
        if (n == 0)
            break;
        leidos += size_t(n);
    }
    ::close(fd);
    l.excede = leidos > maximo;
    l.bytes.resize(l.excede ? maximo : leidos);
    return l;
}

std::string crear(int dirfd, const std::string &nombre, std::string_view bytes, mode_t modo, bool *existe)
{
    // O_EXCL: never an existing file, nor through a link.
    const int fd = ::openat(dirfd, nombre.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, modo);
    *existe = fd < 0 && errno == EEXIST;
    if (fd < 0)
        return descripcion(errno);
    std::string error;
    // The creator's umask must not take the readers' rights away.
    if (::fchmod(fd, modo) != 0)
        error = descripcion(errno);
    for (size_t escritos = 0; error.empty() && escritos < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + escritos, bytes.size() - escritos);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = descripcion(n < 0 ? errno : EIO);
        else
            escritos += size_t(n);
    }
    if (::close(fd) != 0 && error.empty())
        error = descripcion(errno);
    if (!error.empty())
        ::unlinkat(dirfd, nombre.c_str(), 0);
    return error;
}

std::string renombrarSinReemplazar(int dirfd, const std::string &desde, const std::string &hacia, bool *existe)
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
    return descripcion(error);
}

} // namespace ArchivoSeguro
