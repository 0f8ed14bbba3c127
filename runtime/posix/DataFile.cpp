#include "runtime/DataFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace DataFile {

namespace {

constexpr std::string_view kFinTemporal = ".nuevo";
constexpr size_t kLargoAzar = 6;

bool alfanumerico(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whether nombre is a temporary file of base as this program names them: base, a dot, one to
// twelve letters or digits, ".nuevo" (earlier versions put their process id there).
bool esTemporalDe(std::string_view nombre, std::string_view base)
{
    if (nombre.size() <= base.size() + 1 + kFinTemporal.size() || nombre.substr(0, base.size()) != base
        || nombre[base.size()] != '.' || nombre.substr(nombre.size() - kFinTemporal.size()) != kFinTemporal)
        return false;
    const std::string_view medio
        = nombre.substr(base.size() + 1, nombre.size() - base.size() - 1 - kFinTemporal.size());
    if (medio.size() > 12)
        return false;
    for (char c : medio) {
        if (!alfanumerico(c))
            return false;
    }
    return true;
}

std::string nombreTemporal(std::string_view base, unsigned intento)
{
    static constexpr char kLetras[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    unsigned char azar[kLargoAzar] {};
    if (::getrandom(azar, sizeof azar, GRND_NONBLOCK) != ssize_t(sizeof azar)) {
        struct timespec t
        {
        };
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        unsigned long long x = (unsigned long long)t.tv_nsec ^ ((unsigned long long)::getpid() << 20) ^ intento;
        for (unsigned char &b : azar) {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
            b = (unsigned char)(x >> 56);
        }
    }
    std::string nombre(base);
    nombre += '.';
    for (unsigned char b : azar)
        nombre += kLetras[b % (sizeof kLetras - 1)];
    nombre += kFinTemporal;
    return nombre;
}

// Leftovers of saves that were cut short (the program killed at the wrong moment). Only names
// of our own pattern; unlinking a name never touches what a link points to.
void quitarTemporales(int carpeta, std::string_view base)
{
    const int copia = ::dup(carpeta);
    if (copia < 0)
        return;
    DIR *d = ::fdopendir(copia);
    if (!d) {
        ::close(copia);
        return;
    }
    ::rewinddir(d);
    while (const struct dirent *e = ::readdir(d)) {
        if (!esTemporalDe(e->d_name, base))
            continue;
        struct stat st
        {
        };
        if (::fstatat(carpeta, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
            && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
            ::unlinkat(carpeta, e->d_name, 0);
    }
    ::closedir(d);
}

bool escribirTodo(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

class Descriptor
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    // Closes it and says whether the close reported an error (some file systems report
    // write errors only there).
    bool cerrar()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 || errno == EINTR;
    }

private:
    int m_fd;
};

} // namespace

ReadResult read(const std::string &ruta, struct stat &st, const std::function<char *(size_t)> &dimensionar,
    const ReadOptions &opciones)
{
    const bool seguir = opciones.links == Links::Follow;
    // Looked at before it is opened, so that a device is never opened at all.
    if (::fstatat(opciones.folder, ruta.c_str(), &st, seguir ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        const int motivo = errno;
        st = {};
        errno = motivo;
        return motivo == ENOENT || motivo == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode))
        return ReadResult::Missing;
    // Non-blocking all the same, in case a pipe (or a link) took its place in the meantime.
    Descriptor fd(::openat(
        opciones.folder, ruta.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (seguir ? 0 : O_NOFOLLOW)));
    if (fd.get() < 0) {
        if (errno != ENOENT)
            return ReadResult::Failed;
        st = {};
        errno = ENOENT;
        return ReadResult::Missing;
    }
    if (::fstat(fd.get(), &st) != 0)
        return ReadResult::Failed;
    if (!S_ISREG(st.st_mode))
        return ReadResult::Missing;
    const size_t limite = opciones.limit;
    if (size_t(st.st_size) > limite && !opciones.cut)
        return ReadResult::TooLarge;

    // One byte more than the file's size, so that its end is seen without growing the
    // buffer; files that report no size (as some in /proc do) grow it as they go.
    size_t capacidad = std::min(std::max(size_t(st.st_size) + 1, size_t(4096)), limite + 1);
    char *datos = dimensionar(capacidad);
    size_t usados = 0;
    while (usados <= limite) {
        if (usados == capacidad) {
            capacidad = std::min(capacidad * 2, limite + 1);
            datos = dimensionar(capacidad);
        }
        const ssize_t n = ::read(fd.get(), datos + usados, capacidad - usados);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ReadResult::Failed;
        if (n == 0)
            break;
        usados += size_t(n);
    }
    if (usados > limite) {
        if (!opciones.cut)
            return ReadResult::TooLarge;
        dimensionar(limite);
        return ReadResult::Cut;
    }
    dimensionar(usados);
    return ReadResult::Read;
}

bool replace(const std::string &ruta, std::string_view bytes, Sync sincronia, std::string &error, mode_t modoNuevo)
{
    auto fallo = [&error](const char *que) {
        error = std::string(que) + ": " + std::strerror(errno);
        return false;
    };
    const size_t barra = ruta.rfind('/');
    const std::string carpetaRuta = barra == std::string::npos ? std::string(".") : ruta.substr(0, barra + 1);
    const std::string base = barra == std::string::npos ? ruta : ruta.substr(barra + 1);
    if (base.empty() || base == "." || base == "..") {
        errno = EISDIR;
        return fallo(ruta.c_str());
    }
    Descriptor carpeta(::open(carpetaRuta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (carpeta.get() < 0)
        return fallo(carpetaRuta.c_str());

    struct stat anterior
    {
    };
    bool hayAnterior = false;
    if (::fstatat(carpeta.get(), base.c_str(), &anterior, AT_SYMLINK_NOFOLLOW) == 0) {
        hayAnterior = S_ISREG(anterior.st_mode);
        struct stat destino
        {
        };
        // A link goes, but not one that stands for a folder, a pipe or a device.
        const bool rara = S_ISLNK(anterior.st_mode)
            ? ::fstatat(carpeta.get(), base.c_str(), &destino, 0) == 0 && !S_ISREG(destino.st_mode)
            : !hayAnterior;
        if (rara) {
            error = ruta + ": no es un archivo normal";
            return false;
        }
    } else if (errno != ENOENT) {
        return fallo(ruta.c_str());
    }

    quitarTemporales(carpeta.get(), base);

    std::string temporal;
    int creado = -1;
    for (unsigned intento = 0; creado < 0 && intento < 100; ++intento) {
        temporal = nombreTemporal(base, intento);
        creado = ::openat(carpeta.get(), temporal.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
            hayAnterior ? 0600 : modoNuevo);
        if (creado < 0 && errno != EEXIST)
            break;
    }
    if (creado < 0)
        return fallo((carpetaRuta + temporal).c_str());
    Descriptor nuevo(creado);
    auto abandonar = [&](const char *que) {
        const int guardado = errno;
        ::unlinkat(carpeta.get(), temporal.c_str(), 0);
        errno = guardado;
        return fallo(que);
    };

    if (hayAnterior) {
        if (::fchmod(nuevo.get(), anterior.st_mode & 07777) != 0)
            return abandonar(ruta.c_str());
        // Only the superuser can give a file away; for anybody else it is already theirs, and
        // a group they are not in stays theirs too: the save goes on either way.
        if (anterior.st_uid != ::geteuid() || anterior.st_gid != ::getegid()) {
            [[maybe_unused]] const int dado = ::fchown(nuevo.get(), anterior.st_uid, anterior.st_gid);
        }
    }
    if (!escribirTodo(nuevo.get(), bytes))
        return abandonar(ruta.c_str());
    if (sincronia == Sync::Flush && ::fsync(nuevo.get()) != 0)
        return abandonar(ruta.c_str());
    if (!nuevo.cerrar())
        return abandonar(ruta.c_str());
    if (::renameat(carpeta.get(), temporal.c_str(), carpeta.get(), base.c_str()) != 0)
        return abandonar(ruta.c_str());
    // The new name must reach the disk too; the file is in place whatever this answers.
    if (sincronia == Sync::Flush)
        (void)::fsync(carpeta.get());
    return true;
}

int append(const std::string &path, std::string_view bytes, mode_t newMode, off_t *sizeAfter)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, newMode);
    struct stat st = {};
    int error = fd < 0 ? errno : ::fstat(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? EINVAL : 0;
    size_t written = 0;
    while (error == 0 && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n > 0)
            written += size_t(n);
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (error == 0 && ::fdatasync(fd) != 0)
        error = errno;
    if (fd >= 0 && ::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && sizeAfter)
        *sizeAfter = st.st_size + off_t(written);
    return error;
}

} // namespace DataFile
