#pragma once

#include "net/NetConfig.h"

#include <QString>
#include <QStringList>

// Asks the network for names through the `net view` beside the program: the computers of
// the own workgroup (kind 0) or the workgroups and domains (kind 1). Waits no longer than
// net's own bound allows, letting the windows repaint meanwhile but taking no input.
class NetworkSearch final
{
public:
    struct Result
    {
        QStringList names; // valid NetBIOS names, in net's order
        QString error; // empty when net answered with its list
    };

    // programFolder: the folder of the executable, where `net` and its net.ini are.
    static Result search(const QString &programFolder, int kind);

    // How long the search may take: net's two rounds of queries (each bounded by the
    // Espera of the net.ini that net reads, systemIni for an installed copy) and a margin
    // for starting and ending.
    static int waitMs(const QString &programFolder, const std::string &systemIni = NetConfig::kSystemIni);

    // The names of a successful answer: every line after the header that is a valid name.
    static QStringList readNames(const QByteArray &output);

    // The most net may print; more is not a list of names.
    static constexpr qint64 kMaxOutput = 1 << 20;
};
