#pragma once

#include "net/BoundedProcess.h"

#include <string>
#include <string_view>
#include <vector>

// One pop-up message through "smbclient -M", and what became of it; and the browse list
// that a master browser serves ("smbclient -L").
class SmbClient final
{
public:
    enum class Outcome { Delivered, NotFound, NoAnswer, Refused, Missing, TimedOut, Failed };

    struct Delivery
    {
        Outcome outcome = Outcome::Failed;
        std::string detail; // smbclient's own words (an NT_STATUS code, or its first line)
        int elapsedSeconds = 0; // of a time-out cut by the overall bound: how long it went on
    };

    struct Target
    {
        std::string name; // the called NetBIOS name, in the code page
        std::string address; // empty: smbclient resolves the name itself
        int port = 0; // 0: smbclient's default
    };

    struct Options
    {
        std::string clientConfig; // empty: the system's configuration
        std::string codePage; // iconv name; the message bytes are already in it
        std::string sender; // in the code page
        int timeoutSeconds = 5;
    };

    // The names of a browse list, in its order.
    struct BrowseList
    {
        std::vector<std::string> servers;
        std::vector<std::string> workgroups;
    };

    // The argument list given to smbclient; the message itself goes to standard input.
    static std::vector<std::string> arguments(const Target &target, const Options &options);

    // The whole run of one message: program, arguments, input and bound.
    static BoundedProcess::Job job(const Target &target, const Options &options, const std::string &message);

    // The run that asks the computer at address for its browse list, anonymously.
    static BoundedProcess::Job listJob(const std::string &address, const Options &options);

    // The browse list from "smbclient --list --grepable": its "Server|NAME|comment" and
    // "Workgroup|NAME|master" lines (UTF-8).
    static BrowseList parseBrowseList(std::string_view output);

    // Reads smbclient's exit code and output. It reports most failures on standard
    // output with exit code 1, but a host that refuses the message after connecting
    // gives exit code 0 with "cli_message returned ..." on standard error.
    static Delivery classify(const BoundedProcess::Result &run);

    static Delivery send(const Target &target, const Options &options, const std::string &message);

    // A Spanish sentence, without final stop, saying what happened to the message for name.
    static std::string describe(const Delivery &delivery, std::string_view name, int timeoutSeconds);
};
