#include "receive/Entrega.h"

#include "receive/ArchivoSeguro.h"
#include "receive/Destinatarios.h"
#include "receive/Registro.h"
#include "receive/ReparaTexto.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Entrega {

namespace {

// Beyond this many entries the mailbox is not a mailbox any more: stop looking.
constexpr size_t kMaxEntradas = 100000;
// A temporary this old belongs to no delivery in progress.
constexpr int64_t kEdadTemporal = 3600;

struct Encontrado
{
    std::string nombre;
    int64_t segundos = 0;
};

bool esMio(int dirfd, const std::string &nombre, struct stat *info = nullptr)
{
    struct stat st = {};
    if (::fstatat(dirfd, nombre.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (info)
        *info = st;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

void borrar(int dirfd, const std::string &nombre, std::vector<std::string> &avisos)
{
    if (::unlinkat(dirfd, nombre.c_str(), 0) != 0 && errno != ENOENT)
        avisos.push_back("no se puede borrar " + nombre + " del buzón: " + ArchivoSeguro::descripcion(errno));
}

} // namespace

std::optional<Peticion> argumentos(const std::vector<std::string> &args, std::string &error)
{
    Peticion p;
    size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--") {
            ++i;
            break;
        }
        const std::string &a = args[i];
        // smbd leaves %m or %I empty where it does not know them.
        if (a.rfind("--equipo=", 0) == 0)
            p.equipo = a.substr(9);
        else if (a.rfind("--direccion=", 0) == 0)
            p.direccion = a.substr(12);
        else if (a.rfind("--buzon=", 0) == 0 && a.size() > 8)
            p.buzon = a.substr(8);
        else if (a.rfind("--usuarios=", 0) == 0 && a.size() > 11)
            p.usuarios = a.substr(11);
        else {
            error = "opción desconocida: " + a;
            return std::nullopt;
        }
    }
    const std::vector<std::string> resto(args.begin() + std::ptrdiff_t(i), args.end());
    if (resto.size() < 2) {
        error = "faltan el remitente o el archivo del mensaje";
        return std::nullopt;
    }
    p.de = resto.front();
    p.archivo = resto.back();
    for (size_t k = 1; k + 1 < resto.size(); ++k)
        p.para += (k > 1 ? " " : "") + resto[k];
    return p;
}

namespace {

// The user's own folder in the mailbox: a folder (never a link) that the user owns and
// nobody but the user and the receiver's group can enter. -1 with error otherwise.
int carpetaPropia(int buzonfd, const std::string &buzon, const std::string &usuario, std::string &error)
{
    const passwd *pw = ::getpwnam(usuario.c_str());
    if (!pw) {
        error = "el usuario " + usuario + " no existe";
        return -1;
    }
    const uid_t uid = pw->pw_uid;
    const std::string ruta = buzon + '/' + usuario;
    const int fd = ::openat(buzonfd, usuario.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = "no se puede abrir la carpeta " + ruta + ": " + ArchivoSeguro::descripcion(errno);
        return -1;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || st.st_uid != uid || (st.st_mode & 07) != 0) {
        error = "la carpeta " + ruta + " no es solo de " + usuario + ": no se deja en ella";
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

Resultado entregar(const Peticion &peticion, int64_t segundos, int32_t nanosegundos, long pid, const Limites &limites)
{
    Resultado r;
    if (!peticion.usuarios.empty()) {
        // Without the list a person's message could reach everybody: nothing is delivered.
        const auto mapa = Destinatarios::leer(peticion.usuarios, r.error, limites.duenioUsuarios);
        if (!mapa)
            return r;
        r.usuario = Destinatarios::usuarioDe(*mapa, peticion.para);
    }
    const int buzonfd = ::open(peticion.buzon.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (buzonfd < 0) {
        r.error = "no se puede abrir el buzón " + peticion.buzon + ": " + ArchivoSeguro::descripcion(errno);
        return r;
    }
    int dirfd = buzonfd;
    if (!r.usuario.empty()) {
        dirfd = carpetaPropia(buzonfd, peticion.buzon, r.usuario, r.error);
        ::close(buzonfd);
        if (dirfd < 0) {
            r.error += "; el mensaje queda en " + peticion.archivo;
            return r;
        }
    }
    const ArchivoSeguro::Lectura lectura = ArchivoSeguro::leer(AT_FDCWD, peticion.archivo, Registro::kMaxBytesTexto);
    if (!lectura.error.empty()) {
        r.error = "no se puede leer el mensaje " + peticion.archivo + ": " + lectura.error;
        ::close(dirfd);
        return r;
    }

    Registro::Mensaje m;
    bool cortado = false;
    m.de = Registro::limpiarNombre(peticion.de, &cortado);
    if (cortado)
        r.avisos.push_back("el remitente tenía más de 64 caracteres: se ha cortado");
    m.para = Registro::limpiarNombre(peticion.para, &cortado);
    if (cortado)
        r.avisos.push_back("el destinatario tenía más de 64 caracteres: se ha cortado");
    m.equipo = Registro::limpiarNombre(peticion.equipo);
    m.direccion = Registro::limpiarNombre(peticion.direccion);
    m.texto = Registro::limpiarTexto(ReparaTexto::reparar(lectura.bytes), &cortado);
    m.cortado = cortado || lectura.excede;
    if (m.cortado)
        r.avisos.push_back("el mensaje de " + m.de + " tenía más de 1600 caracteres: se guardan los primeros");
    m.segundos = segundos;
    m.nanosegundos = nanosegundos;
    const std::string bytes = Registro::componer(m);

    // Under a name no record can have, then renamed: a reader sees the whole record or none.
    std::string nombre;
    std::string error;
    for (int32_t intento = 0; intento < 8; ++intento) {
        // A name somebody holds: the next nanosecond's is as good.
        nombre = Registro::nombreArchivo(segundos, (nanosegundos + intento) % 1000000000, pid);
        const std::string temporal = '.' + nombre;
        bool existe = false;
        error = ArchivoSeguro::crear(dirfd, temporal, bytes, 0644, &existe);
        if (error.empty()) {
            error = ArchivoSeguro::renombrarSinReemplazar(dirfd, temporal, nombre, &existe);
            if (!error.empty())
                ::unlinkat(dirfd, temporal.c_str(), 0);
        }
        if (error.empty() || !existe)
            break;
    }
    if (!error.empty()) {
        r.error = "no se puede guardar el mensaje en el buzón " + peticion.buzon
            + (r.usuario.empty() ? "" : '/' + r.usuario) + ": " + error + "; queda en " + peticion.archivo;
        ::close(dirfd);
        return r;
    }
    r.entregado = true;
    r.registro = nombre;
    if (::unlink(peticion.archivo.c_str()) != 0)
        r.avisos.push_back("no se puede borrar " + peticion.archivo + ": " + ArchivoSeguro::descripcion(errno));
    podar(dirfd, segundos, limites, r.avisos);
    ::close(dirfd);
    return r;
}

void podar(int dirfd, int64_t ahora, const Limites &limites, std::vector<std::string> &avisos)
{
    const int copia = ::dup(dirfd);
    DIR *dir = copia < 0 ? nullptr : ::fdopendir(copia);
    if (!dir) {
        if (copia >= 0)
            ::close(copia);
        avisos.push_back("no se puede leer el buzón: " + ArchivoSeguro::descripcion(errno));
        return;
    }
    ::rewinddir(dir);
    std::vector<Encontrado> registros;
    int64_t masAntiguo = ahora;
    size_t entradas = 0;
    while (const dirent *e = ::readdir(dir)) {
        if (++entradas > kMaxEntradas) {
            avisos.push_back("el buzón tiene más de 100000 entradas: no se mira más allá");
            break;
        }
        const std::string nombre = e->d_name;
        Encontrado f { nombre, 0 };
        if (Registro::esNombreRegistro(nombre, &f.segundos)) {
            masAntiguo = std::min(masAntiguo, f.segundos);
            registros.push_back(std::move(f));
        } else if (nombre.size() > 1 && nombre[0] == '.' && Registro::esNombreRegistro(nombre.substr(1))) {
            struct stat st = {};
            if (esMio(dirfd, nombre, &st) && st.st_mtime < ahora - kEdadTemporal)
                borrar(dirfd, nombre, avisos);
        }
    }
    ::closedir(dir);

    const int64_t limiteEdad = ahora - limites.maxEdadSegundos;
    // The usual case needs no look at any file: nothing is over either limit.
    if (registros.size() <= limites.maxRegistros && masAntiguo >= limiteEdad)
        return;
    std::erase_if(registros, [dirfd](const Encontrado &f) { return !esMio(dirfd, f.nombre); });
    std::sort(registros.begin(), registros.end(),
        [](const Encontrado &a, const Encontrado &b) { return a.nombre < b.nombre; });
    const size_t sobran = registros.size() > limites.maxRegistros
        ? std::min(registros.size(), registros.size() - limites.maxRegistros + limites.holgura)
        : 0;
    for (size_t i = 0; i < registros.size(); ++i) {
        if (i < sobran || registros[i].segundos < limiteEdad)
            borrar(dirfd, registros[i].nombre, avisos);
    }
}

} // namespace Entrega
