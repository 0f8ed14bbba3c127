#include "receiver/Entrega.h"

#include "receiver/SharedFolderFile.h"
#include "receiver/CarpetaSegura.h"
#include "receiver/Destinatarios.h"
#include "receiver/Registro.h"
#include "receiver/ReparaTexto.h"

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
// Clocks of parallel deliveries differ by this much at most; a name further ahead is looked at.
constexpr int64_t kAdelantoTolerado = 60;

struct Encontrado
{
    std::string nombre;
    int64_t segundos = 0;
    int32_t nanosegundos = 0;
    // When it arrived on this computer: its name's time, unless the file came later (its
    // change time, which no user sets). A name from the future, of a sender's clock or a
    // hand-made file, then counts from when the file came, not as the newest forever.
    timespec llegada = {};
};

bool antes(const timespec &a, const timespec &b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

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
        avisos.push_back("no se puede borrar " + nombre + " del buzón: " + SharedFolderFile::describeError(errno));
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
        error = "no se puede abrir la carpeta " + ruta + ": " + SharedFolderFile::describeError(errno);
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
        if (!mapa) {
            r.error += "; el mensaje de " + peticion.de + " estaba en " + peticion.archivo;
            return r;
        }
        r.usuario = Destinatarios::usuarioDe(*mapa, peticion.para);
    }
    const std::string enPeligro = CarpetaSegura::problema(peticion.buzon, ::geteuid());
    if (!enPeligro.empty()) {
        r.error = "se rechaza el buzón " + peticion.buzon + ": " + enPeligro + "; el mensaje de " + peticion.de
            + " estaba en " + peticion.archivo;
        return r;
    }
    const int buzonfd = ::open(peticion.buzon.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (buzonfd < 0) {
        r.error = "no se puede abrir el buzón " + peticion.buzon + ": " + SharedFolderFile::describeError(errno)
            + "; el mensaje de " + peticion.de + " estaba en " + peticion.archivo;
        return r;
    }
    int dirfd = buzonfd;
    if (!r.usuario.empty()) {
        dirfd = carpetaPropia(buzonfd, peticion.buzon, r.usuario, r.error);
        ::close(buzonfd);
        if (dirfd < 0) {
            r.error += "; el mensaje de " + peticion.de + " estaba en " + peticion.archivo;
            return r;
        }
    }
    const SharedFolderFile::Contents lectura = SharedFolderFile::read(AT_FDCWD, peticion.archivo, Registro::kMaxBytesTexto);
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
    m.cortado = cortado || lectura.exceeds;
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
        error = SharedFolderFile::createNew(dirfd, temporal, bytes, 0644, &existe);
        if (error.empty()) {
            error = SharedFolderFile::renameNoReplace(dirfd, temporal, nombre, &existe);
            if (!error.empty())
                ::unlinkat(dirfd, temporal.c_str(), 0);
        }
        if (error.empty() || !existe)
            break;
    }
    if (!error.empty()) {
        r.error = "no se puede guardar el mensaje de " + m.de + " en el buzón " + peticion.buzon
            + (r.usuario.empty() ? "" : '/' + r.usuario) + ": " + error + "; estaba en " + peticion.archivo;
        ::close(dirfd);
        return r;
    }
    r.entregado = true;
    r.registro = nombre;
    const std::string queda = SharedFolderFile::removeOwn(peticion.archivo);
    if (!queda.empty())
        r.avisos.push_back("no se puede borrar " + peticion.archivo + ": " + queda);
    podar(dirfd, segundos, limites, r.avisos, nombre);
    ::close(dirfd);
    return r;
}

std::string descartar(const std::string &archivo)
{
    bool falta = false;
    const std::string queda = SharedFolderFile::removeOwn(archivo, &falta);
    if (falta)
        return {};
    return queda.empty() ? "se borra " + archivo : "no se borra " + archivo + ": " + queda;
}

void podar(
    int dirfd, int64_t ahora, const Limites &limites, std::vector<std::string> &avisos, const std::string &conservar)
{
    const int copia = ::dup(dirfd);
    DIR *dir = copia < 0 ? nullptr : ::fdopendir(copia);
    if (!dir) {
        if (copia >= 0)
            ::close(copia);
        avisos.push_back("no se puede leer el buzón: " + SharedFolderFile::describeError(errno));
        return;
    }
    ::rewinddir(dir);
    std::vector<Encontrado> registros;
    int64_t masAntiguo = ahora;
    int64_t masNuevo = ahora;
    size_t entradas = 0;
    while (const dirent *e = ::readdir(dir)) {
        if (++entradas > kMaxEntradas) {
            avisos.push_back("el buzón tiene más de 100000 entradas: no se mira más allá");
            break;
        }
        const std::string nombre = e->d_name;
        Encontrado f { nombre, 0, 0, {} };
        if (Registro::esNombreRegistro(nombre, &f.segundos, &f.nanosegundos)) {
            masAntiguo = std::min(masAntiguo, f.segundos);
            masNuevo = std::max(masNuevo, f.segundos);
            registros.push_back(std::move(f));
        } else if (nombre.size() > 1 && nombre[0] == '.' && Registro::esNombreRegistro(nombre.substr(1))) {
            struct stat st = {};
            if (esMio(dirfd, nombre, &st) && st.st_mtime < ahora - kEdadTemporal)
                borrar(dirfd, nombre, avisos);
        }
    }
    ::closedir(dir);

    const int64_t limiteEdad = ahora - limites.maxEdadSegundos;
    // The usual case needs no look at any file: nothing is over either limit, and no name
    // claims a time well ahead.
    if (registros.size() <= limites.maxRegistros && masAntiguo >= limiteEdad && masNuevo <= ahora + kAdelantoTolerado)
        return;
    std::vector<Encontrado> propios;
    propios.reserve(registros.size());
    for (Encontrado &f : registros) {
        struct stat st = {};
        if (!esMio(dirfd, f.nombre, &st))
            continue;
        f.llegada = { time_t(f.segundos), f.nanosegundos };
        if (antes(st.st_ctim, f.llegada))
            f.llegada = st.st_ctim;
        propios.push_back(std::move(f));
    }
    std::sort(propios.begin(), propios.end(), [](const Encontrado &a, const Encontrado &b) {
        return antes(a.llegada, b.llegada) || (!antes(b.llegada, a.llegada) && a.nombre < b.nombre);
    });
    size_t sobran = propios.size() > limites.maxRegistros
        ? std::min(propios.size(), propios.size() - limites.maxRegistros + limites.holgura)
        : 0;
    for (const Encontrado &f : propios) {
        // The record just written is the newest of all, whatever the clock said before.
        if (f.nombre == conservar)
            continue;
        if (sobran > 0) {
            --sobran;
            borrar(dirfd, f.nombre, avisos);
        } else if (f.llegada.tv_sec < limiteEdad) {
            borrar(dirfd, f.nombre, avisos);
        }
    }
}

} // namespace Entrega
