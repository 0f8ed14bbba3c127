#pragma once

#include "net/BoundedProcess.h"

#include <string>
#include <string_view>
#include <vector>

// Finds the members of a workgroup through NetBIOS name service ("nmblookup").
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

    struct Member
    {
        std::string address;
        std::string name; // its messenger (<03>) name as nmblookup shows it (UTF-8); empty when it has none
        bool nameShownWhole = true; // false: nmblookup printed some of its characters as "."
    };

    struct Members
    {
        bool toolMissing = false;
        bool timedOut = false;
        std::vector<Member> members;
    };

    // Addresses that answered a query for group (one "ADDRESS GROUP<00>" line each).
    static std::vector<std::string> parseGroupAnswer(std::string_view output);

    // The messenger name from a node-status answer: the first unique name of type <03>.
    static std::string parseMessengerName(std::string_view output);

    static Members members(const std::string &group, const Options &options);
};
