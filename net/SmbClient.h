#pragma once

#include "net/BoundedProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// One pop-up message through "smbclient -M", and what became of it.
class SmbClient final
{
public:
    enum class Outcome { Delivered, NotFound, NoAnswer, Refused, Missing, TimedOut, Failed };

    struct Delivery
    {
        Outcome outcome = Outcome::Failed;
        QString detail; // smbclient's own words (an NT_STATUS code, or its first line)
    };

    struct Target
    {
        QString name; // the called NetBIOS name
        QString address; // empty: smbclient resolves the name itself
        int port = 0; // 0: smbclient's default
    };

    struct Options
    {
        QString clientConfig; // empty: the system's configuration
        QString codePage; // iconv name; the message bytes are already in it
        QString sender;
        int timeoutSeconds = 5;
    };

    // The argument list given to smbclient; the message itself goes to standard input.
    static QStringList arguments(const Target &target, const Options &options);

    // Reads smbclient's exit code and output. It reports most failures on standard
    // output with exit code 1, but a host that refuses the message after connecting
    // gives exit code 0 with "cli_message returned ..." on standard error.
    static Delivery classify(const BoundedProcess::Result &run);

    static Delivery send(const Target &target, const Options &options, const QByteArray &message);

    // A Spanish sentence, without final stop, saying what happened to the message for name.
    static QString describe(const Delivery &delivery, const QString &name, int timeoutSeconds);
};
