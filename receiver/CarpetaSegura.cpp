#include "receiver/CarpetaSegura.h"

#include "receiver/SharedFolderFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

namespace CarpetaSegura {

namespace {

std::string octal(mode_t modo)
{
    std::string s = "0000";
    for (int i = 3; i >= 0; --i, modo >>= 3)
        s[size_t(i)] = char('0' + (modo & 7));
    return s;
}

// One folder on the way; esPadre: the folder's own parent, where the sticky bit is no excuse.
std::string revisar(const std::string &ruta, bool seguirEnlace, bool esPadre, uid_t usuario)
{
    struct stat st = {};
    if ((seguirEnlace ? ::stat(ruta.c_str(), &st) : ::lstat(ruta.c_str(), &st)) != 0)
        return "no se puede examinar " + ruta + ": " + SharedFolderFile::describeError(errno);
    if (!S_ISDIR(st.st_mode))
        return ruta + " no es una carpeta";
    if (st.st_uid != 0 && st.st_uid != usuario)
        return ruta + " es del usuario " + std::to_string(st.st_uid) + ", que podría cambiarla";
    const bool escribible = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (escribible && (esPadre || !(st.st_mode & S_ISVTX)))
        return "otros usuarios pueden escribir en " + ruta + " (permisos " + octal(st.st_mode & 07777) + ')';
    return {};
}

// Every folder from / down to ruta (absolute, no trailing slash), the last being the parent.
std::string revisarCamino(const std::string &ruta, bool seguirEnlaces, uid_t usuario)
{
    std::vector<std::string> tramos { "/" };
    for (size_t i = 1; i <= ruta.size(); ++i) {
        if ((i == ruta.size() || ruta[i] == '/') && ruta[i - 1] != '/')
            tramos.push_back(ruta.substr(0, i));
    }
    for (size_t k = 0; k < tramos.size(); ++k) {
        const std::string fallo = revisar(tramos[k], seguirEnlaces, k + 1 == tramos.size(), usuario);
        if (!fallo.empty())
            return fallo;
    }
    return {};
}

} // namespace

std::string problema(const std::string &carpeta, uid_t usuario)
{
    if (carpeta.empty() || carpeta[0] != '/')
        return "no es una ruta absoluta";
    std::string ruta = carpeta;
    while (ruta.size() > 1 && ruta.back() == '/')
        ruta.pop_back();
    const size_t barra = ruta.rfind('/');
    const std::string nombre = ruta.substr(barra + 1);
    if (nombre.empty() || nombre == "." || nombre == "..")
        return "no nombra una carpeta dentro de otra";
    const std::string padre = barra == 0 ? "/" : ruta.substr(0, barra);
    // As the path names them (a link is judged by the folder that holds it and by its target),
    // then the real folders the links lead to.
    std::string fallo = revisarCamino(padre, true, usuario);
    if (!fallo.empty())
        return fallo;
    char real[PATH_MAX];
    if (!::realpath(padre.c_str(), real))
        return "no se puede examinar " + padre + ": " + SharedFolderFile::describeError(errno);
    return real == padre ? std::string() : revisarCamino(real, false, usuario);
}

} // namespace CarpetaSegura
