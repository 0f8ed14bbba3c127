#pragma once

#include "addressbook/ProfileFiles.h"

#include <QString>

#include <optional>

// The optional settings file net.ini beside the command:
//
//   [Equipos]                     names that are reached at a fixed address
//   OFICINA1=127.0.0.2            address, or address:port, or [IPv6]:port
//   [Opciones]
//   Configuracion=client.conf     smbclient/nmblookup configuration (relative: beside net.ini)
//   PaginaCodigos=CP850           DOS code page of the message
//   Espera=5                      seconds before a silent host is given up
//   GrupoTrabajo=OFICINA          the workgroup that "net send *" addresses
//   Difusion=10.0.0.255           broadcast address for finding the members of a group
//
// Program names are never read from here: smbclient and nmblookup come from PATH.
class NetConfig final
{
public:
    struct Endpoint
    {
        QString address;
        int port = 0; // 0: smbclient's own default
    };

    // Reads iniPath; a missing file gives the defaults.
    explicit NetConfig(const QString &iniPath);

    // The fixed address of name, if [Equipos] lists it; a malformed entry sets error().
    std::optional<Endpoint> endpoint(const QString &name);

    // Absolute path of the client configuration, empty for the system's own.
    QString clientConfig() const { return m_clientConfig; }
    QString codePage() const { return m_codePage; }
    int timeoutSeconds() const { return m_timeoutSeconds; }
    QString broadcast() const { return m_broadcast; }

    // The workgroup for "*": [Opciones] GrupoTrabajo, else the client configuration's
    // "workgroup", else Samba's default.
    QString workgroup() const;

    // The first problem found in the file, in Spanish; empty when there is none.
    QString error() const { return m_error; }

    // "127.0.0.2", "127.0.0.2:1139", "[::1]:1139" -> endpoint; nullopt when malformed.
    static std::optional<Endpoint> parseEndpoint(const QString &text);

private:
    QString m_iniPath;
    ProfileFiles m_ini; // one parse of net.ini for every key read from it
    QString m_clientConfig;
    QString m_codePage = QStringLiteral("CP850");
    int m_timeoutSeconds = 5;
    QString m_workgroup;
    QString m_broadcast;
    QString m_error;
};
