#include "net/NameLookup.h"

#include "profile/Utf8Text.h"

#include <algorithm>

namespace {

std::vector<std::string> commonArguments(const NameLookup::Options &options)
{
    // Names go on the wire in the DOS code page of the messages; what nmblookup reads and
    // prints is UTF-8, whatever the client configuration says.
    std::vector<std::string> args;
    if (!options.clientConfig.empty())
        args.push_back("--configfile=" + options.clientConfig);
    args.push_back("--option=dos charset=" + options.codePage);
    args.push_back("--option=unix charset=UTF-8");
    return args;
}

std::vector<std::string> queryArguments(const std::string &name, bool master, const NameLookup::Options &options)
{
    std::vector<std::string> args = commonArguments(options);
    if (!options.broadcast.empty())
        args.push_back("--broadcast=" + options.broadcast);
    if (master)
        args.push_back("--master-browser");
    // "--" keeps a group name from being read as an option.
    args.push_back("--");
    args.push_back(name);
    return args;
}

std::vector<std::string> statusArguments(const std::string &address, const NameLookup::Options &options)
{
    std::vector<std::string> args = commonArguments(options);
    args.insert(args.end(), { "--lookup-by-ip", "--", address });
    return args;
}

// The words of each line of the output, the line trimmed of every Unicode blank first.
template <typename Visit> void forEachLine(std::string_view output, Visit visit)
{
    const std::string text = Utf8Text::valid(output);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line = Utf8Text::trimmed(std::string_view(text).substr(start, end - start));
        start = end + 1;
        std::vector<std::string_view> words;
        for (size_t pos = 0; pos < line.size();) {
            while (pos < line.size() && Utf8Text::isAsciiBlank(line[pos]))
                ++pos;
            const size_t wordStart = pos;
            while (pos < line.size() && !Utf8Text::isAsciiBlank(line[pos]))
                ++pos;
            if (pos > wordStart)
                words.push_back(line.substr(wordStart, pos - wordStart));
        }
        if (visit(words))
            return;
    }
}

// What an IPv4 or IPv6 address can be made of: it goes on nmblookup's and smbclient's
// command lines.
bool plausibleAddress(std::string_view word)
{
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.' || c == ':';
    });
}

// "ADDRESS NAME<xx>": two words, the second one that fits.
template <typename Fits> std::vector<std::string> answeringAddresses(std::string_view output, Fits fits)
{
    std::vector<std::string> addresses;
    forEachLine(output, [&](const std::vector<std::string_view> &words) {
        if (words.size() == 2 && plausibleAddress(words[0]) && words[1].size() > 4 && fits(words[1])
            && std::find(addresses.begin(), addresses.end(), words[0]) == addresses.end())
            addresses.emplace_back(words[0]);
        return false;
    });
    return addresses;
}

// "<1d>" -> 0x1d; -1 for anything else.
int suffixType(std::string_view word)
{
    const auto hex = [](char c) {
        return c >= '0' && c <= '9' ? c - '0'
            : c >= 'a' && c <= 'f'  ? c - 'a' + 10
            : c >= 'A' && c <= 'F'  ? c - 'A' + 10
                                    : -1;
    };
    if (word.size() != 4 || word[0] != '<' || word[3] != '>' || hex(word[1]) < 0 || hex(word[2]) < 0)
        return -1;
    return hex(word[1]) * 16 + hex(word[2]);
}

} // namespace

std::vector<std::string> NameLookup::parseGroupAnswer(std::string_view output)
{
    return answeringAddresses(output, [](std::string_view name) { return name.ends_with("<00>"); });
}

std::vector<std::string> NameLookup::parseMasterAnswer(std::string_view output)
{
    // The browsers' name is "__MSBROWSE__" between control characters, which nmblookup
    // prints as they are.
    return answeringAddresses(output, [](std::string_view name) {
        return name.ends_with("<1d>") || (name.ends_with("<01>") && name.find("__MSBROWSE__") != name.npos);
    });
}

std::vector<NameLookup::NodeName> NameLookup::parseNodeStatus(std::string_view output)
{
    // "NAME <xx> - [<GROUP>] B|P|M|H <ACTIVE> [<CONFLICT>] [<DEREGISTERING>] [<PERMANENT>]"
    std::vector<NodeName> names;
    forEachLine(output, [&](const std::vector<std::string_view> &words) {
        const int type = words.size() >= 4 ? suffixType(words[1]) : -1;
        if (type < 0 || words[2] != "-")
            return false;
        NodeName node { std::string(words[0]), type, words[3] == "<GROUP>", false };
        const auto has
            = [&](std::string_view flag) { return std::find(words.begin() + 3, words.end(), flag) != words.end(); };
        node.active = has("<ACTIVE>") && !has("<CONFLICT>") && !has("<DEREGISTERING>");
        names.push_back(std::move(node));
        return false;
    });
    return names;
}

std::string NameLookup::computerName(const std::vector<NodeName> &names)
{
    for (const int type : { 0x00, 0x20, 0x03 }) {
        for (const NodeName &node : names) {
            if (node.type == type && !node.group && node.active)
                return node.name;
        }
    }
    return {};
}

std::vector<std::string> NameLookup::masteredGroups(const std::vector<NodeName> &names)
{
    std::vector<std::string> groups;
    for (const NodeName &node : names) {
        if (node.type == 0x1d && !node.group && node.active)
            groups.push_back(node.name);
    }
    return groups;
}

std::string NameLookup::shown(std::string_view name)
{
    std::string out;
    for (size_t pos = 0; pos < name.size();) {
        const size_t start = pos;
        const char32_t c = Utf8Text::next(name, pos);
        if (c < 0x80)
            out += char(c);
        else
            out.append(pos - start, '.');
    }
    return out;
}

bool NameLookup::shownWhole(std::string_view name)
{
    // Any character beyond ASCII takes two bytes or more in UTF-8: a name that lost some
    // shows "..".
    return name.find("..") == std::string_view::npos;
}

NameLookup::Query NameLookup::findMembers(const std::string &group, const Options &options)
{
    Query result;
    const auto query = BoundedProcess::runAll({ queryJob(group, false, options) }).front();
    result.toolMissing = !query.found || !query.started;
    result.timedOut = query.timedOut;
    if (!result.toolMissing && !result.timedOut)
        result.addresses = parseGroupAnswer(query.out);
    return result;
}

BoundedProcess::Job NameLookup::queryJob(const std::string &name, bool master, const Options &options)
{
    return { "nmblookup", queryArguments(name, master, options), {}, options.timeoutSeconds * 1000 };
}

BoundedProcess::Job NameLookup::statusJob(const std::string &address, const Options &options)
{
    return { "nmblookup", statusArguments(address, options), {}, options.timeoutSeconds * 1000 };
}
