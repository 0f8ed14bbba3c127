#pragma once

#include "net/BoundedProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Finds the members of a workgroup through NetBIOS name service ("nmblookup").
class NameLookup final
{
public:
    struct Options
    {
        QString clientConfig; // empty: the system's configuration
        QString broadcast; // empty: the broadcast address of the configured interfaces
        int timeoutSeconds = 5;
    };

    struct Member
    {
        QString address;
        QString name; // its messenger (<03>) name; empty when it has none
    };

    struct Members
    {
        bool toolMissing = false;
        bool timedOut = false;
        QList<Member> members;
    };

    // Addresses that answered a query for group (one "ADDRESS GROUP<00>" line each).
    static QStringList parseGroupAnswer(const QByteArray &output);

    // The messenger name from a node-status answer: the first unique name of type <03>.
    static QString parseMessengerName(const QByteArray &output);

    static Members members(const QString &group, const Options &options);
};
