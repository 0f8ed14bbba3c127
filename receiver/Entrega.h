#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What velrisa-recibe does for one message that smbd hands over: read the message file,
// clean it, drop it as one record into the mailbox (see Registro.h) and keep the mailbox
// bounded. Everything it is given is hostile: it never follows a link, never replaces a
// file, never blocks, and says what went wrong.
namespace Entrega {

inline constexpr const char *kBuzonPredeterminado = "/var/spool/velrisa";

struct Peticion
{
    std::string buzon = kBuzonPredeterminado;
    std::string de; // smbd's %f
    std::string para; // smbd's %L
    std::string equipo; // smbd's %m: the sending computer's NetBIOS name
    std::string direccion; // smbd's %I: its address
    std::string usuarios; // the name->user list (Destinatarios.h); empty: every name is the computer's
    std::string archivo; // smbd's %s: the message file, removed once its record is written
};

struct Limites
{
    size_t maxRegistros = 1000;
    int64_t maxEdadSegundos = 30 * 24 * 3600;
    // Past maxRegistros, this many more go too, so that a full mailbox is looked at
    // record by record once every so many deliveries rather than at each one.
    size_t holgura = 10;
    // Who alone may be able to change the name->user list.
    uid_t duenioUsuarios = 0;
};

struct Resultado
{
    bool entregado = false;
    std::string registro; // file name of the record written
    std::string usuario; // whose own folder it went into; empty: the mailbox shared by all
    std::string error; // why nothing was delivered, and where the message was
    std::vector<std::string> avisos; // what was cut, refused or could not be cleaned up
};

// "[--buzon=DIR] [--usuarios=FILE] [--equipo=NAME] [--direccion=ADDRESS] SENDER [CALLED...] FILE". A called name that
// the shell split at its blanks comes back whole; without one it is empty. nullopt (with error) when there is no sender
// and file.
std::optional<Peticion> argumentos(const std::vector<std::string> &args, std::string &error);

// A called name that the list gives to a user goes into <buzon>/<user>/, a folder that must
// be that user's and closed to everybody else; any other name into <buzon> itself.
// ahora: the arrival time (seconds and nanoseconds since 1970, UTC); pid: part of the name.
// A mailbox that other users could replace (CarpetaSegura) is refused. The message file is
// removed once its record is written; on failure it is left for the caller to log, then to
// descartar.
Resultado entregar(
    const Peticion &peticion, int64_t segundos, int32_t nanosegundos, long pid, const Limites &limites = {});

// Removes the oldest records this user wrote past limites (count or age), and its own
// temporaries left by a crash. Records of other users are neither removed nor counted. Age
// and order go by arrival on this computer: a name dated later than the file came counts
// from when it came. conservar, the record just written, always stays.
void podar(int dirfd, int64_t ahora, const Limites &limites, std::vector<std::string> &avisos,
    const std::string &conservar = {});

// What could not be delivered is not kept: removes smbd's message file, if it is a regular
// file of this user (never through a link), and says so for the log ("se borra ..." or why
// it stays); empty when there was no such file.
std::string descartar(const std::string &archivo);

} // namespace Entrega
