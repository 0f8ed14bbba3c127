#pragma once

#include "net/SmbClient.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Pop-up messages spoken directly: for every recipient at once, from this one process,
// the node status that learns its messenger name (when it is not known yet), then the
// NetBIOS session on TCP 139 and the SMB1 messenger requests that carry the text, just as
// smbclient sends them. A recipient is given up after Espera seconds in which it gave no
// answer (a keep-alive or a frame that never ends is none), and after kBoundFactor times
// Espera in all whatever it does: a slow one that keeps answering is served within that.
// A reply counts only for a request written whole. Name-service answers are taken only
// from the name-service port, with the transaction id of a request (drawn from the
// system's random source), and from the address they speak for.
class Messenger final
{
public:
    struct Recipient
    {
        std::string address; // numeric IPv4 or IPv6 address
        int port = 0; // 0: Options::sessionPort
        std::string wireName; // the called name in the code page; empty: asked by node status
    };

    struct Options
    {
        std::string codePage; // iconv name
        std::string sender; // in the code page
        int timeoutSeconds = 5; // silence after which a recipient is given up
        int nameServicePort = 137; // where requests go, and the only port answers come from
        int sessionPort = 139; // of a recipient that names none
    };

    // A recipient is given up after this many times Espera in all.
    static constexpr int kBoundFactor = 10;
    // Members taken from the answers to a group query; later ones are only counted.
    static constexpr size_t kMaxMembers = 4096;

    struct Result
    {
        enum class Stage { NameUnknown, NoMessenger, Refused, Messaged };
        Stage stage = Stage::Messaged; // how far the recipient came
        std::string address;
        std::string name; // the messenger name learned, in UTF-8 (as the code page reads)
        std::string wireName; // the called name, in the code page
        SmbClient::Delivery delivery; // of a recipient messaged (elapsedSeconds set when the bound cut it)
        std::string refusal; // set by the check of a learned name: why it is not messaged
    };

    // Called as soon as a recipient's name is learned (stage Messaged, name and wireName
    // set): setting refusal (and stage Refused) keeps it from being messaged.
    using Check = std::function<void(Result &)>;

    // message: the bytes in the code page, line ends as LF.
    static std::vector<Result> deliver(
        const std::vector<Recipient> &recipients, const Options &options, const std::string &message, Check check = {});

    // How long the answers to a group query are waited for: until this long has passed with
    // no new member, and never longer than Espera or kMaxListenMs in all. Once every member
    // expected has answered, only as long again as their answers were spread over (at least
    // kKnownQuietMs) with no new member: a newcomer answering with them is still heard.
    static constexpr long long kQuietMs = 750;
    static constexpr long long kKnownQuietMs = 25;
    static constexpr long long kMaxListenMs = 3000;

    struct Group
    {
        bool queryFailed = false; // the query could not be sent
        bool listenedFully = true; // not cut short by the expected members
        std::vector<Result> members; // in the order they answered
        size_t beyondBound = 0; // members that answered once kMaxMembers were taken: not messaged
    };

    // Asks queryAddress (a broadcast address, or a server that knows the group) who the members
    // of the group are (its name in the code page), and messages each as soon as it answers.
    // An answer from queryAddress itself may name any members; any other answers only for the
    // address it comes from. expected: the addresses of the members it had before (see
    // KnownMembers). The whole send ends within the listening and kBoundFactor times Espera.
    static Group deliverToGroup(const std::string &groupWireName, const std::string &queryAddress,
        const Options &options, const std::string &message, Check check = {},
        const std::vector<std::string> &expected = {});

    // Asks queryAddress for the computer of that messenger name (in the code page) and
    // messages it as soon as it answers; NotFound when nobody answers while a group would be
    // listened for. nullopt when the query cannot be sent.
    static std::optional<Result> deliverByName(const std::string &wireName, const std::string &queryAddress,
        const Options &options, const std::string &message);

    // The called name as it goes in a session request: upper case, in the code page.
    static std::string calledName(const std::string &wireName, const std::string &codePage);

    // This computer's NetBIOS name, from its host name: upper case, at most 15 bytes.
    static std::string ownName();
};
