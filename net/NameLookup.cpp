#include "net/NameLookup.h"

#include "net/Utf8Text.h"

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

// Whether nmblookup showed a name whole. It prints every byte it cannot print as ".", and
// any character beyond ASCII takes two bytes or more in UTF-8: a name that lost some shows "..".
bool shownWhole(std::string_view name)
{
    return name.find("..") == std::string_view::npos;
}

} // namespace

std::vector<std::string> NameLookup::parseGroupAnswer(std::string_view output)
{
    // "ADDRESS NAME<00>": two words, the second a name followed by "<00>".
    std::vector<std::string> addresses;
    forEachLine(output, [&](const std::vector<std::string_view> &words) {
        if (words.size() == 2 && words[1].size() > 4 && words[1].ends_with("<00>")
            && std::find(addresses.begin(), addresses.end(), words[0]) == addresses.end())
            addresses.emplace_back(words[0]);
        return false;
    });
    return addresses;
}

std::string NameLookup::parseMessengerName(std::string_view output)
{
    // "NAME <03> - [<GROUP>] FLAGS...": the first such line not marked as a group name.
    std::string name;
    forEachLine(output, [&](const std::vector<std::string_view> &words) {
        if (words.size() >= 4 && words[1] == "<03>" && words[2] == "-" && !words[3].starts_with("<GROUP>")) {
            name = words[0];
            return true;
        }
        return false;
    });
    return name;
}

NameLookup::Members NameLookup::members(const std::string &group, const Options &options)
{
    Members result;
    const int boundMs = options.timeoutSeconds * 1000;
    std::vector<std::string> args = commonArguments(options);
    if (!options.broadcast.empty())
        args.push_back("--broadcast=" + options.broadcast);
    // "--" keeps a group name from being read as an option.
    args.push_back("--");
    args.push_back(group);
    const auto query = BoundedProcess::run("nmblookup", args, {}, boundMs);
    if (!query.found || !query.started) {
        result.toolMissing = true;
        return result;
    }
    if (query.timedOut) {
        result.timedOut = true;
        return result;
    }
    for (const std::string &address : parseGroupAnswer(query.out)) {
        std::vector<std::string> statusArgs = commonArguments(options);
        statusArgs.insert(statusArgs.end(), { "--lookup-by-ip", "--", address });
        const auto status = BoundedProcess::run("nmblookup", statusArgs, {}, boundMs);
        const std::string name = status.timedOut ? std::string() : parseMessengerName(status.out);
        result.members.push_back(Member { address, name, shownWhole(name) });
    }
    return result;
}
