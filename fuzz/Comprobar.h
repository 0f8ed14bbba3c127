#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <iconv.h>
#include <sys/mman.h>
#include <unistd.h>

// What the fuzz targets share: a broken promise stops the run (libFuzzer keeps the input that
// broke it), inputs cut into fields, a file to hand to code that reads files, and glibc's own
// conversion between code pages to hold the code under test against.

#define COMPROBAR(condicion) ((condicion) ? void(0) : fuzz::fallo(#condicion, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void fallo(const char *condicion, const char *archivo, int linea)
{
    std::fprintf(stderr, "%s:%d: no se cumple: %s\n", archivo, linea, condicion);
    std::abort();
}

inline std::string_view texto(const uint8_t *datos, size_t largo)
{
    return std::string_view(reinterpret_cast<const char *>(datos), largo);
}

// The pieces of s between the separators (n pieces for n - 1 separators).
inline std::vector<std::string_view> partir(std::string_view s, char separador)
{
    std::vector<std::string_view> partes;
    for (;;) {
        const size_t fin = s.find(separador);
        partes.push_back(s.substr(0, fin));
        if (fin == s.npos)
            return partes;
        s.remove_prefix(fin + 1);
    }
}

// A regular file in memory, reached by a path, rewritten for each input: no file left behind.
class ArchivoEnMemoria
{
public:
    ArchivoEnMemoria()
        : m_fd(::memfd_create("fuzz", MFD_CLOEXEC))
        , m_ruta("/proc/self/fd/" + std::to_string(m_fd))
    {
        COMPROBAR(m_fd >= 0);
    }
    const std::string &escribir(std::string_view bytes)
    {
        COMPROBAR(::ftruncate(m_fd, 0) == 0);
        COMPROBAR(::pwrite(m_fd, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size()));
        return m_ruta;
    }

private:
    int m_fd;
    std::string m_ruta;
};

// in converted whole from the code page de to a; nothing when iconv knows neither or a byte
// does not convert.
inline std::optional<std::string> convertir(const char *a, const char *de, std::string_view in)
{
    const iconv_t cd = iconv_open(a, de);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string entrada(in);
    std::string salida(in.size() * 8 + 16, '\0');
    char *pin = entrada.data();
    size_t quedan = entrada.size();
    char *pout = salida.data();
    size_t sitio = salida.size();
    const bool ok = iconv(cd, &pin, &quedan, &pout, &sitio) != size_t(-1) && quedan == 0
        && iconv(cd, nullptr, nullptr, &pout, &sitio) != size_t(-1);
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    salida.resize(salida.size() - sitio);
    return salida;
}

} // namespace fuzz
