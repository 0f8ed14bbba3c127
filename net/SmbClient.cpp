#include "net/SmbClient.h"

#include "net/NetConfig.h"
#include "profile/Utf8Text.h"

#include <algorithm>
#include <string>

namespace {

std::string firstLine(const std::string &text)
{
    const std::string_view all = Utf8Text::trimmed(text);
    return std::string(Utf8Text::trimmed(all.substr(0, all.find('\n'))));
}

// The first "NT_STATUS_" followed by a code of capitals, digits and "_".
std::string ntStatus(std::string_view text)
{
    static constexpr std::string_view kPrefix("NT_STATUS_");
    for (size_t at = text.find(kPrefix); at != text.npos; at = text.find(kPrefix, at + 1)) {
        size_t end = at + kPrefix.size();
        while (end < text.size()
            && ((text[end] >= 'A' && text[end] <= 'Z') || (text[end] >= '0' && text[end] <= '9') || text[end] == '_'))
            ++end;
        if (end > at + kPrefix.size())
            return std::string(text.substr(at, end - at));
    }
    return {};
}

// The status after the first "cli_message<anything> returned ", if there is one.
std::string refusal(std::string_view text)
{
    static constexpr std::string_view kCall("cli_message");
    static constexpr std::string_view kReturned(" returned ");
    for (size_t at = text.find(kCall); at != text.npos; at = text.find(kCall, at + 1)) {
        size_t pos = at + kCall.size();
        while (pos < text.size() && !Utf8Text::isAsciiBlank(text[pos]))
            ++pos;
        if (!text.substr(pos).starts_with(kReturned))
            continue;
        pos += kReturned.size();
        size_t end = pos;
        while (end < text.size() && !Utf8Text::isAsciiBlank(text[end]))
            ++end;
        if (end > pos)
            return std::string(text.substr(pos, end - pos));
    }
    return {};
}

// A little beyond smbclient's own per-request time-out, which reports more precisely.
int boundMs(int timeoutSeconds)
{
    return timeoutSeconds * 1000 + 500;
}

} // namespace

std::vector<std::string> SmbClient::arguments(const Target &target, const Options &options)
{
    // Every value rides in its "--option=value" form, so no name or address, however
    // odd, can be taken for another option. The message and the names are bytes already
    // in the DOS code page: with the same page as "unix charset" smbclient passes them
    // through unchanged, instead of garbling a whole block when one character fails to convert.
    std::vector<std::string> args;
    if (!options.clientConfig.empty())
        args.push_back("--configfile=" + options.clientConfig);
    args.push_back("--option=dos charset=" + options.codePage);
    args.push_back("--option=unix charset=" + options.codePage);
    args.push_back("--message=" + target.name);
    if (!target.address.empty())
        args.push_back("--ip-address=" + target.address);
    if (target.port > 0)
        args.push_back("--port=" + std::to_string(target.port));
    args.push_back("--timeout=" + std::to_string(options.timeoutSeconds));
    args.push_back("--no-pass");
    args.push_back("--user=" + options.sender);
    return args;
}

SmbClient::Delivery SmbClient::classify(const BoundedProcess::Result &run)
{
    if (!run.found || !run.started)
        return { Outcome::Missing, {} };
    if (run.timedOut)
        return { Outcome::TimedOut, {} };
    const std::string err = Utf8Text::valid(run.err);
    const std::string out = Utf8Text::valid(run.out);
    const std::string refusedWith = refusal(err + '\n' + out);
    if (!refusedWith.empty())
        return { Outcome::Refused, refusedWith };
    if (run.exitCode == 0)
        return { Outcome::Delivered, {} };
    const std::string status = ntStatus(out + '\n' + err);
    if (status == "NT_STATUS_NOT_FOUND" || status == "NT_STATUS_BAD_NETWORK_NAME"
        || status == "NT_STATUS_OBJECT_NAME_NOT_FOUND")
        return { Outcome::NotFound, status };
    if (status == "NT_STATUS_IO_TIMEOUT")
        return { Outcome::TimedOut, status };
    if (status == "NT_STATUS_CONNECTION_REFUSED" || status == "NT_STATUS_HOST_UNREACHABLE"
        || status == "NT_STATUS_NETWORK_UNREACHABLE" || status == "NT_STATUS_CONNECTION_RESET"
        || status == "NT_STATUS_CONNECTION_DISCONNECTED" || status == "NT_STATUS_PORT_UNREACHABLE")
        return { Outcome::NoAnswer, status };
    const std::string line = firstLine(out).empty() ? firstLine(err) : firstLine(out);
    return { Outcome::Failed, line.empty() ? "smbclient terminó con el código " + std::to_string(run.exitCode) : line };
}

BoundedProcess::Job SmbClient::job(const Target &target, const Options &options, const std::string &message)
{
    return { "smbclient", arguments(target, options), message, boundMs(options.timeoutSeconds) };
}

SmbClient::Delivery SmbClient::send(const Target &target, const Options &options, const std::string &message)
{
    const BoundedProcess::Job run = job(target, options, message);
    return classify(BoundedProcess::run(run.program, run.arguments, run.input, run.timeoutMs));
}

BoundedProcess::Job SmbClient::listJob(const std::string &address, const Options &options)
{
    // Names come back in UTF-8. Workgroups are listed over SMB1 only; and without SPNEGO
    // the list asked for is the master's own workgroup, where smbclient would otherwise
    // ask for the servers of a "domain" named after the computer itself.
    std::vector<std::string> args;
    if (!options.clientConfig.empty())
        args.push_back("--configfile=" + options.clientConfig);
    args.push_back("--option=dos charset=" + options.codePage);
    args.push_back("--option=unix charset=UTF-8");
    args.push_back("--option=client min protocol=NT1");
    args.push_back("--option=client use spnego=no");
    args.push_back("--list=" + address);
    args.push_back("--grepable");
    args.push_back("--timeout=" + std::to_string(options.timeoutSeconds));
    args.push_back("--no-pass");
    return { "smbclient", args, {}, boundMs(options.timeoutSeconds) };
}

SmbClient::BrowseList SmbClient::parseBrowseList(std::string_view output)
{
    BrowseList list;
    const std::string text = Utf8Text::valid(output);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line = std::string_view(text).substr(start, end - start);
        start = end + 1;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        std::vector<std::string> *into = line.starts_with("Server|") ? &list.servers
            : line.starts_with("Workgroup|")                         ? &list.workgroups
                                                                     : nullptr;
        if (!into)
            continue;
        line.remove_prefix(line.find('|') + 1);
        // The name ends at the next "|"; a line cut before it is no entry.
        const size_t bar = line.find('|');
        if (bar == std::string_view::npos || bar == 0)
            continue;
        const std::string name(line.substr(0, bar));
        if (std::find(into->begin(), into->end(), name) == into->end())
            into->push_back(name);
    }
    return list;
}

std::string SmbClient::describe(const Delivery &delivery, std::string_view name, int timeoutSeconds)
{
    const std::string who(name);
    switch (delivery.outcome) {
    case Outcome::Delivered:
        return "mensaje entregado a " + who;
    case Outcome::NotFound:
        return "no se encuentra el equipo " + who + " en la red (" + delivery.detail + ")";
    case Outcome::NoAnswer:
        return "el equipo " + who + " no responde (" + delivery.detail + ")";
    case Outcome::Refused:
        return "el equipo " + who + " ha rechazado el mensaje (" + delivery.detail + ")";
    case Outcome::Missing:
        return "no se encuentra el programa smbclient en el PATH (paquete smbclient)";
    case Outcome::TimedOut:
        // A recipient that kept answering slowly went on for longer than Espera.
        if (delivery.elapsedSeconds > timeoutSeconds)
            return "el equipo " + who + " no ha terminado de recibir el mensaje en "
                + NetConfig::seconds(delivery.elapsedSeconds);
        return "el equipo " + who + " no ha contestado en " + NetConfig::seconds(timeoutSeconds);
    case Outcome::Failed:
        break;
    }
    return "no se pudo enviar el mensaje a " + who + ": " + delivery.detail;
}
