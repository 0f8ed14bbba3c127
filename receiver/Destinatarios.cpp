#include "receiver/Destinatarios.h"

#include "receiver/SharedFolderFile.h"

#include <fcntl.h>

namespace Destinatarios {

namespace {

std::string minusculas(std::string_view texto)
{
    std::string out(texto);
    for (char &c : out) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return out;
}

bool esNombre(std::string_view nombre)
{
    if (nombre.empty() || nombre.size() > 15 || nombre[0] == '.' || nombre[0] == '-')
        return false;
    for (const char c : nombre) {
        const bool valido = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
            || c == '.' || c == '-';
        if (!valido)
            return false;
    }
    return true;
}

// A login name as Debian's adduser allows it, and never a path.
bool esUsuario(std::string_view usuario)
{
    if (usuario.empty() || usuario.size() > 32 || usuario[0] == '-' || usuario[0] == '.')
        return false;
    for (const char c : usuario) {
        const bool valido = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
            || c == '.' || c == '-' || c == '$';
        if (!valido)
            return false;
    }
    return true;
}

} // namespace

std::optional<Mapa> analizar(std::string_view bytes, std::string &error)
{
    Mapa mapa;
    size_t numero = 0;
    while (!bytes.empty()) {
        ++numero;
        const size_t fin = bytes.find('\n');
        std::string_view linea = bytes.substr(0, fin);
        bytes.remove_prefix(fin == std::string_view::npos ? bytes.size() : fin + 1);
        if (linea.empty() || linea[0] == '#')
            continue;
        const size_t blanco = linea.find(' ');
        const std::string_view nombre = linea.substr(0, blanco);
        const std::string_view usuario
            = blanco == std::string_view::npos ? std::string_view() : linea.substr(blanco + 1);
        if (!esNombre(nombre) || !esUsuario(usuario)) {
            error = "la línea " + std::to_string(numero) + " no es «NOMBRE USUARIO»";
            return std::nullopt;
        }
        const auto [lugar, nuevo] = mapa.emplace(minusculas(nombre), std::string(usuario));
        if (!nuevo && lugar->second != usuario) {
            error = "el nombre " + std::string(nombre) + " es de dos usuarios (línea " + std::to_string(numero) + ')';
            return std::nullopt;
        }
    }
    return mapa;
}

std::optional<Mapa> leer(const std::string &ruta, std::string &error, uid_t duenio)
{
    const SharedFolderFile::Contents l = SharedFolderFile::read(AT_FDCWD, ruta, kMaxBytes);
    if (!l.error.empty()) {
        error = "no se puede leer la lista de usuarios " + ruta + ": " + l.error;
        return std::nullopt;
    }
    if (l.exceeds) {
        error = "la lista de usuarios " + ruta + " es demasiado grande";
        return std::nullopt;
    }
    if (l.info.st_uid != duenio || (l.info.st_mode & 022) != 0) {
        error = "la lista de usuarios " + ruta + " no es solo de root: se descarta";
        return std::nullopt;
    }
    std::string motivo;
    auto mapa = analizar(l.bytes, motivo);
    if (!mapa)
        error = "la lista de usuarios " + ruta + " no vale: " + motivo;
    return mapa;
}

std::string usuarioDe(const Mapa &mapa, std::string_view llamado)
{
    const auto it = mapa.find(minusculas(llamado));
    return it == mapa.end() ? std::string() : it->second;
}

} // namespace Destinatarios
