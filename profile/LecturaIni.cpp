#include "profile/LecturaIni.h"

#include "profile/SintaxisIni.h"
#include "profile/TablaCp1252.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LecturaIni::LecturaIni(const std::string &ruta)
{
    const int fd = ::open(ruta.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st
    {
    };
    std::string bytes;
    bool completo = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    if (completo && st.st_size > 0)
        bytes.reserve(size_t(st.st_size));
    char bloque[16384];
    while (completo) {
        const ssize_t n = ::read(fd, bloque, sizeof bloque);
        if (n > 0)
            bytes.append(bloque, size_t(n));
        else if (n == 0)
            break;
        else if (errno != EINTR)
            completo = false;
    }
    ::close(fd);
    if (completo)
        m_bytes = std::move(bytes);
}

std::optional<std::string> LecturaIni::leer(std::string_view seccion, std::string_view clave) const
{
    if (!m_bytes)
        return std::nullopt;
    const auto valor = SintaxisIni::buscar(*m_bytes, TablaCp1252::desdeUtf8(seccion), TablaCp1252::desdeUtf8(clave));
    if (!valor)
        return std::nullopt;
    return TablaCp1252::aUtf8(*valor);
}
