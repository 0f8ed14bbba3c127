#pragma once

#include "net/BoundedProcess.h"

#include <string>
#include <string_view>
#include <vector>

// Finds the members of a workgroup, and the master browsers of the network, through
// NetBIOS name service ("nmblookup").
class NameLookup final
{
public:
    struct Options
    {
        std::string clientConfig; // empty: the system's configuration
        std::string broadcast; // empty: the broadcast address of the configured interfaces
        int timeoutSeconds = 5;
        std::string codePage = "CP850"; // the DOS code page names travel in (iconv name)
    };

    // The answer to the name query of a group.
    struct Query
    {
        bool toolMissing = false;
        bool timedOut = false;
        std::vector<std::string> addresses; // of the members, in the order they answered
    };

    // One line of a node-status answer ("nmblookup -A").
    struct NodeName
    {
        std::string name; // as nmblookup shows it: every byte it cannot print is a "."
        int type = 0; // the NetBIOS suffix, 0x00 to 0xff
        bool group = false;
        bool active = false; // registered and in use, not in conflict or being released
    };

    // Addresses that answered a query for group (one "ADDRESS GROUP<00>" line each).
    static std::vector<std::string> parseGroupAnswer(std::string_view output);

    // Addresses that answered a master-browser query ("nmblookup -M"): "ADDRESS GROUP<1d>"
    // for one group, "ADDRESS __MSBROWSE__<01>" for every group's.
    static std::vector<std::string> parseMasterAnswer(std::string_view output);

    // Every name of a node-status answer, in its order.
    static std::vector<NodeName> parseNodeStatus(std::string_view output);

    // The computer's own name among its node names: its unique workstation name (<00>),
    // else its server (<20>) or messenger (<03>) name; empty when it shows none.
    static std::string computerName(const std::vector<NodeName> &names);

    // The groups whose master browser these node names belong to: its unique <1d> names.
    static std::vector<std::string> masteredGroups(const std::vector<NodeName> &names);

    // How nmblookup shows a name (UTF-8): every byte of a character beyond ASCII as ".".
    static std::string shown(std::string_view name);

    // Whether nmblookup showed a name whole: it prints every byte beyond ASCII as ".".
    static bool shownWhole(std::string_view name);

    // The name-query run for name on the broadcast address (master browsers only when
    // master). Every nmblookup run is built here, so that each one reads the client
    // configuration and the code page.
    static BoundedProcess::Job queryJob(const std::string &name, bool master, const Options &options);

    // Asks who the members of group are.
    static Query findMembers(const std::string &group, const Options &options);

    // The node-status run that asks the computer at address for its names.
    static BoundedProcess::Job statusJob(const std::string &address, const Options &options);
};
