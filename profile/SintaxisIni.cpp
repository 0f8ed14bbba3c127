#include "profile/SintaxisIni.h"

#include "profile/TablaCp1252.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace SintaxisIni {

namespace {

bool esBlanco(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

size_t largoLinea(std::string_view texto)
{
    // The library's searches, in windows that double: a search for LF alone would run to the
    // end of a file that has none at every line of it.
    const char *const inicio = texto.data();
    size_t desde = 0;
    for (size_t ventana = 256;; ventana *= 2) {
        const size_t hasta = std::min(texto.size(), desde + ventana);
        const void *lf = std::memchr(inicio + desde, '\n', hasta - desde);
        const size_t finLf = lf ? size_t(static_cast<const char *>(lf) - inicio) : hasta;
        if (const void *cr = std::memchr(inicio + desde, '\r', finLf - desde)) {
            const size_t i = size_t(static_cast<const char *>(cr) - inicio);
            return i + 1 < texto.size() && inicio[i + 1] == '\n' ? i + 2 : i + 1;
        }
        if (lf)
            return finLf + 1;
        if (hasta == texto.size())
            return hasta;
        desde = hasta;
    }
}

std::string_view sinFinDeLinea(std::string_view linea)
{
    if (!linea.empty() && linea.back() == '\n')
        linea.remove_suffix(1);
    if (!linea.empty() && linea.back() == '\r')
        linea.remove_suffix(1);
    return linea;
}

std::string_view recortar(std::string_view texto)
{
    while (!texto.empty() && esBlanco(texto.front()))
        texto.remove_prefix(1);
    while (!texto.empty() && esBlanco(texto.back()))
        texto.remove_suffix(1);
    return texto;
}

Linea analizar(std::string_view linea)
{
    linea = recortar(linea);
    if (!linea.empty() && linea.front() == '[') {
        const size_t cierre = linea.find(']');
        return { Linea::Tipo::Seccion, recortar(linea.substr(1, (cierre == linea.npos ? linea.size() : cierre) - 1)) };
    }
    const size_t igual = linea.find('=');
    if (linea.empty() || linea.front() == ';' || igual == linea.npos || igual == 0)
        return {};
    return { Linea::Tipo::Clave, recortar(linea.substr(0, igual)) };
}

std::string_view valor(std::string_view linea)
{
    linea = recortar(linea);
    std::string_view v = recortar(linea.substr(linea.find('=') + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.substr(1, v.size() - 2);
    return v;
}

bool necesitaComillas(std::string_view v)
{
    // Blanks at either end, or a value in quotes, would be lost on reading: quotes keep them.
    return !v.empty()
        && (esBlanco(v.front()) || esBlanco(v.back()) || (v.size() >= 2 && v.front() == '"' && v.back() == '"'));
}

bool nombreValido(std::string_view nombre, bool esSeccion)
{
    const std::string_view v = recortar(nombre);
    if (v.empty() || v.find_first_of(std::string_view("\n\r\0", 3)) != v.npos)
        return false;
    if (esSeccion)
        return v.find(']') == v.npos;
    return v.find('=') == v.npos && v.front() != '[' && v.front() != ';';
}

bool mismoNombre(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]
            && TablaCp1252::plegado(static_cast<unsigned char>(a[i]))
                != TablaCp1252::plegado(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

size_t huella(std::string_view nombre, size_t semilla)
{
    // FNV-1a over the folded characters, then a final mix so that the low bits spread well.
    uint64_t h = 14695981039346656037ULL ^ uint64_t(semilla);
    for (const char c : nombre) {
        h ^= TablaCp1252::plegado(static_cast<unsigned char>(c));
        h *= 1099511628211ULL;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return size_t(h);
}

std::optional<std::string_view> buscar(std::string_view archivo, std::string_view seccion, std::string_view clave)
{
    seccion = recortar(seccion);
    clave = recortar(clave);
    bool dentro = false; // in the first section of that name; the search ends with it
    size_t pos = 0;
    while (pos < archivo.size()) {
        const size_t largo = largoLinea(archivo.substr(pos));
        const std::string_view linea = sinFinDeLinea(archivo.substr(pos, largo));
        pos += largo;
        const Linea l = analizar(linea);
        if (l.tipo == Linea::Tipo::Seccion) {
            if (dentro)
                return std::nullopt;
            dentro = mismoNombre(l.nombre, seccion);
        } else if (dentro && l.tipo == Linea::Tipo::Clave && mismoNombre(l.nombre, clave)) {
            return valor(linea);
        }
    }
    return std::nullopt;
}

} // namespace SintaxisIni
