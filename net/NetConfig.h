#pragma once

#include "profile/IniReader.h"

#include <optional>
#include <string>
#include <string_view>

// The optional settings file net.ini beside the command:
//
//   [Equipos]                     names that are reached at a fixed address
//   OFICINA1=127.0.0.2            address, or address:port, or [IPv6]:port
//   [Opciones]
//   Configuracion=client.conf     smbclient/nmblookup configuration (relative: beside net.ini)
//   PaginaCodigos=CP850           DOS code page of the message
//   Espera=5                      seconds of silence before a host is given up
//   GrupoTrabajo=OFICINA          the workgroup that "net send *" addresses
//   Difusion=10.0.0.255           where net asks for the members of a group itself
//   PuertoNombres=137             UDP port of the name service (where answers come from)
//   PuertoMensajes=139            TCP port of the messenger sessions, unless [Equipos] gives one
//
// Program names are never read from here: smbclient and nmblookup come from PATH.
class NetConfig final
{
public:
    struct Endpoint
    {
        std::string address;
        int port = 0; // 0: smbclient's own default
    };

    // The computer's own net.ini, which an installed copy reads.
    static constexpr char kSystemIni[] = "/etc/velrisa/net.ini";

    // The net.ini that applies to the net in programFolder, for net itself and for whoever
    // runs it: an installed copy (the install rules put "instalado.txt" beside it) reads
    // systemIni, as its folder is the package's; a build or portable copy reads the one beside it.
    static std::string applicableIni(const std::string &programFolder, const std::string &systemIni = kSystemIni);

    // Reads iniPath; a missing file gives the defaults.
    explicit NetConfig(const std::string &iniPath);

    // The fixed address of name, if [Equipos] lists it; a malformed entry sets error().
    std::optional<Endpoint> endpoint(std::string_view name);

    // Absolute path of the client configuration, empty for the system's own.
    const std::string &clientConfig() const { return m_clientConfig; }
    const std::string &codePage() const { return m_codePage; }
    int timeoutSeconds() const { return m_timeoutSeconds; }
    const std::string &broadcast() const { return m_broadcast; }
    int nameServicePort() const { return m_nameServicePort; }
    int sessionPort() const { return m_sessionPort; }

    // The workgroup for "*": [Opciones] GrupoTrabajo, else the client configuration's
    // "workgroup", else Samba's default.
    std::string workgroup() const;

    // The first problem found in the file, in Spanish; empty when there is none.
    const std::string &error() const { return m_error; }

    // "127.0.0.2", "127.0.0.2:1139", "[::1]:1139" -> endpoint; nullopt when malformed.
    static std::optional<Endpoint> parseEndpoint(std::string_view text);

    // A wait in Spanish words: "1 segundo", "5 segundos".
    static std::string seconds(int n);

private:
    // The value of key, trimmed; empty when absent.
    std::string option(std::string_view key) const;
    void readPort(std::string_view key, int &port);

    std::string m_iniPath;
    IniReader m_ini; // one read of net.ini for every key taken from it
    std::string m_clientConfig;
    std::string m_codePage = "CP850";
    int m_timeoutSeconds = 5;
    std::string m_workgroup;
    std::string m_broadcast;
    int m_nameServicePort = 137;
    int m_sessionPort = 139;
    std::string m_error;
};
