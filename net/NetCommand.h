#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The "net" command: "net send {NAME | * | /domain:GROUP} message words..." and
// "net view [/domain[:GROUP]]".
//
// Output contract of send: the first line of standard output begins with "Mensaje enviado"
// only when the message was delivered (to every member found, for a group). Any failure
// gives a first line in Spanish saying what went wrong, the same text on standard error
// and a non-zero exit code. Warnings about what was cut from or changed in the message
// follow the first line, on both outputs. The members of a group are served at once and
// named in sorted order.
//
// Output contract of view: exit code 0, a header line and then one name per line, sorted;
// what was left out, on standard error only. A failure is reported as send reports it.
//
// Every line is one line: whatever it quotes from the arguments, files or the network
// shows its control characters and Unicode format characters (bidirectional overrides,
// zero-width characters) as escapes ("\n", "\u202e").
class NetCommand final
{
public:
    enum ExitCode { Delivered = 0, NotDelivered = 1, Usage = 2 };

    struct Result
    {
        int exitCode = Usage;
        std::vector<std::string> out; // lines for standard output (UTF-8)
        std::vector<std::string> err; // lines for standard error
    };

    // What the arguments ask for.
    struct Request
    {
        enum class Verb { Send, View };
        // View asks for OwnGroup ("net view"), Group or AllGroups ("net view /domain").
        enum class Kind { Name, Group, OwnGroup, AllGroups };
        Verb verb = Verb::Send;
        Kind kind = Kind::Name;
        std::string target; // the name or the group as given; empty for OwnGroup ("*", "/domain") and AllGroups
        std::string message; // the message words joined by single blanks
    };

    // Reads the arguments alone, without looking at any file or program: nullopt when
    // they ask for no send (the usage line is the answer). Names are checked later.
    static std::optional<Request> parse(const std::vector<std::string> &arguments);

    // iniPath: the net.ini to read (it need not exist). sender: the user name the
    // message comes from, as valid UTF-8.
    NetCommand(std::string iniPath, std::string sender);

    // arguments: everything after the program name, as valid UTF-8.
    Result run(const std::vector<std::string> &arguments);

    // A NetBIOS name that may be passed on: 1 to 15 characters, none of them a
    // control character, blank or one of \ / : * ? " < > | + = ; , and not starting with "-".
    // A character beyond the BMP counts as two.
    static bool validName(std::string_view name);

    // The usage lines: send, then view.
    static std::vector<std::string> usage();

private:
    Result execute(const std::vector<std::string> &arguments);
    Result send(const Request &request);
    Result view(const Request &request);

    std::string m_iniPath;
    std::string m_sender;
};
