#pragma once

#include "net/NameLookup.h"
#include "net/SmbClient.h"

#include <string>
#include <vector>

// What "net view" finds on the network: the computers of a workgroup, or the workgroups
// and domains. Two rounds, each bounded by the wait of one query: the name queries, then
// every node status and browse list at once. A computer is listed by the name it answers
// with, and by the browse lists of the group's master browsers where they are served.
class NetView final
{
public:
    struct Found
    {
        bool toolMissing = false; // no nmblookup
        bool timedOut = false; // no name query ended in time
        std::vector<std::string> names; // valid names, each once, sorted
        std::vector<std::string> warnings; // what was left out and why (sentences)
    };

    static Found computers(
        const std::string &group, const NameLookup::Options &lookup, const SmbClient::Options &client);
    static Found groups(const NameLookup::Options &lookup, const SmbClient::Options &client);
};
