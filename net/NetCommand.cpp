#include "net/NetCommand.h"

#include "net/KnownMembers.h"
#include "net/MessageText.h"
#include "net/Messenger.h"
#include "net/NameLookup.h"
#include "net/NetConfig.h"
#include "net/NetView.h"
#include "net/SmbClient.h"
#include "profile/Utf8Text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <utility>

namespace {

constexpr std::string_view kDomainSwitch("/domain:");

using Lines = std::vector<std::string>;

// The memory of a group keeps every member a group send takes, so that their answers may end
// the listening.
static_assert(KnownMembers::kMaxMembers == Messenger::kMaxMembers);

constexpr std::string_view kNmblookupMissing("no se encuentra el programa nmblookup en el PATH (paquete smbclient)");

NameLookup::Options lookupOptions(const NetConfig &config)
{
    return { config.clientConfig(), config.broadcast(), config.timeoutSeconds(), config.codePage() };
}

// Unicode format characters (category Cf): unseen, yet they turn round or hide what follows
// them on a line (bidirectional overrides and isolates, zero-width characters).
bool isFormat(char32_t c)
{
    static constexpr std::pair<char32_t, char32_t> kRanges[] = { { 0xad, 0xad }, { 0x600, 0x605 }, { 0x61c, 0x61c },
        { 0x6dd, 0x6dd }, { 0x70f, 0x70f }, { 0x890, 0x891 }, { 0x8e2, 0x8e2 }, { 0x180e, 0x180e }, { 0x200b, 0x200f },
        { 0x202a, 0x202e }, { 0x2060, 0x2064 }, { 0x2066, 0x206f }, { 0xfeff, 0xfeff }, { 0xfff9, 0xfffb },
        { 0x110bd, 0x110bd }, { 0x110cd, 0x110cd }, { 0x13430, 0x1343f }, { 0x1bca0, 0x1bca3 }, { 0x1d173, 0x1d17a },
        { 0xe0001, 0xe0001 }, { 0xe0020, 0xe007f } };
    return std::any_of(std::begin(kRanges), std::end(kRanges),
        [c](const auto &range) { return c >= range.first && c <= range.second; });
}

// The line as it may be shown: control characters escaped, and format characters as well.
std::string printable(std::string_view line)
{
    const std::string text = Utf8Text::printable(line);
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const size_t start = pos;
        const char32_t c = Utf8Text::next(text, pos);
        if (!isFormat(c)) {
            out.append(text, start, pos - start);
            continue;
        }
        char escape[16];
        std::snprintf(escape, sizeof escape, c > 0xffff ? "\\U%08x" : "\\u%04x", unsigned(c));
        out += escape;
    }
    return out;
}

NetCommand::Result failure(int code, const std::string &line, const Lines &more = {})
{
    NetCommand::Result result;
    result.exitCode = code;
    result.out.push_back(line);
    result.out.insert(result.out.end(), more.begin(), more.end());
    result.err = result.out;
    return result;
}

// The rest of a sentence as the first line: capital letter, final stop. Every such rest
// begins with an ASCII letter.
std::string sentence(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = char(text[0] - 'a' + 'A');
    return text + '.';
}

std::string join(const Lines &parts, std::string_view separator)
{
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            joined += separator;
        joined += parts[i];
    }
    return joined;
}

// A name in the code page, or the sentence (its rest, without final stop) that refuses it.
// A NetBIOS name holds 15 bytes: a longer one would be cut to another name.
struct WireName
{
    std::string bytes;
    std::string refusal;
};

WireName inCodePage(const std::string &name, const std::string &codePage, const std::string &whose)
{
    const MessageText::Prepared text = MessageText::prepare(name, codePage);
    if (!text.unmappable.empty())
        return { {},
            whose + " \"" + name + "\" tiene caracteres que la página de códigos " + codePage
                + " no tiene: " + text.unmappable };
    if (text.bytes.size() > 15)
        return { {}, whose + " \"" + name + "\" ocupa más de 15 bytes en la página de códigos " + codePage };
    return { text.bytes, {} };
}

// What a send needs besides the recipient: the settings, smbclient's options (the sender
// already in the code page), the message bytes and the warnings about them.
struct Sending
{
    NetConfig &config;
    SmbClient::Options options;
    std::string bytes;
    Lines warnings;
};

NetCommand::Result delivered(const std::string &firstLine, const Lines &warnings)
{
    NetCommand::Result result;
    result.exitCode = NetCommand::Delivered;
    result.out.push_back(firstLine);
    result.out.insert(result.out.end(), warnings.begin(), warnings.end());
    result.err = warnings;
    return result;
}

Messenger::Options messengerOptions(const Sending &d)
{
    return { d.options.codePage, d.options.sender, d.options.timeoutSeconds, d.config.nameServicePort(),
        d.config.sessionPort() };
}

// Whether text is an IPv4 address in dotted form.
bool isIPv4(const std::string &text)
{
    in_addr address {};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

NetCommand::Result sendToName(const std::string &name, const std::string &wireName, Sending &d)
{
    const std::optional<NetConfig::Endpoint> endpoint = d.config.endpoint(name);
    if (!endpoint && !d.config.error().empty())
        return failure(NetCommand::Usage, "Error: " + d.config.error() + ".");
    // A computer at a known address is called directly, and so is one that answers for its
    // name where Difusion says; any other name is left to smbclient, which resolves it as
    // the client configuration says (WINS, hosts, broadcast).
    SmbClient::Delivery outcome;
    std::optional<Messenger::Result> byName;
    if (endpoint)
        outcome = Messenger::deliver({ { endpoint->address, endpoint->port, wireName } }, messengerOptions(d), d.bytes)
                      .front()
                      .delivery;
    else if (isIPv4(d.config.broadcast())
        && (byName = Messenger::deliverByName(wireName, d.config.broadcast(), messengerOptions(d), d.bytes)))
        outcome = byName->delivery;
    else
        outcome = SmbClient::send(
            SmbClient::Target { wireName, {}, d.config.sessionPort() == 139 ? 0 : d.config.sessionPort() }, d.options,
            d.bytes);
    if (outcome.outcome == SmbClient::Outcome::Delivered)
        return delivered("Mensaje enviado a " + name + ".", d.warnings);
    return failure(NetCommand::NotDelivered,
        "Error: " + SmbClient::describe(outcome, name, d.config.timeoutSeconds()) + ".", d.warnings);
}

// The members of a group and what became of each; members that answered beyond the bound
// are only counted.
struct GroupSend
{
    std::optional<NetCommand::Result> failure;
    std::vector<Messenger::Result> members;
    size_t beyondBound = 0;
};

// With a broadcast address of its own net asks the group itself, and messages each member as
// soon as it answers.
GroupSend askAndDeliver(
    const std::string &group, const std::string &wireGroup, Sending &d, const Messenger::Check &check)
{
    GroupSend send;
    // The members it had last time let the listening end once they have all answered.
    KnownMembers known = KnownMembers::load(KnownMembers::defaultPath(), static_cast<long long>(std::time(nullptr)));
    const Messenger::Group found = Messenger::deliverToGroup(wireGroup, d.config.broadcast(), messengerOptions(d),
        d.bytes, check, known.expected(wireGroup, d.config.broadcast()));
    if (found.queryFailed) {
        send.failure = failure(NetCommand::NotDelivered,
            "Error: no se ha podido preguntar por el grupo " + group + " en " + d.config.broadcast() + ".");
        return send;
    }
    send.members = found.members;
    send.beyondBound = found.beyondBound;
    if (!send.members.empty()) {
        std::vector<std::string> addresses;
        for (const Messenger::Result &member : send.members)
            addresses.push_back(member.address);
        known.answered(wireGroup, d.config.broadcast(), addresses, found.listenedFully);
        std::string ignored; // only a help for the next run: the message went out all the same
        known.save(ignored);
    }
    return send;
}

// Otherwise nmblookup asks, as the client configuration says (its interfaces, its WINS server).
GroupSend lookUpAndDeliver(const std::string &group, Sending &d, const Messenger::Check &check)
{
    GroupSend send;
    const NameLookup::Query found = NameLookup::findMembers(group, lookupOptions(d.config));
    if (found.toolMissing) {
        send.failure = failure(NetCommand::NotDelivered, "Error: " + std::string(kNmblookupMissing) + ".");
        return send;
    }
    if (found.timedOut) {
        send.failure = failure(NetCommand::NotDelivered,
            "Error: la búsqueda del grupo " + group + " no ha terminado en "
                + NetConfig::seconds(d.config.timeoutSeconds()) + ".");
        return send;
    }
    std::vector<Messenger::Recipient> recipients;
    for (const std::string &address : found.addresses) {
        if (recipients.size() < Messenger::kMaxMembers)
            recipients.push_back({ address, 0, {} });
        else
            ++send.beyondBound;
    }
    send.members = Messenger::deliver(recipients, messengerOptions(d), d.bytes, check);
    return send;
}

// What went wrong with a member, as a sentence; empty when it got the message.
std::string memberOutcome(const Messenger::Result &member, int timeout)
{
    switch (member.stage) {
    case Messenger::Result::Stage::NameUnknown:
        return "El equipo " + member.address + " no ha dicho su nombre en " + NetConfig::seconds(timeout) + ".";
    case Messenger::Result::Stage::NoMessenger:
    case Messenger::Result::Stage::Refused:
        return "El equipo " + member.address + " no ofrece el servicio de mensajes.";
    case Messenger::Result::Stage::Messaged:
        break;
    }
    if (member.delivery.outcome == SmbClient::Outcome::Delivered)
        return {};
    return sentence(SmbClient::describe(member.delivery, member.name, timeout));
}

NetCommand::Result sendToGroup(const std::string &group, const std::string &wireGroup, Sending &d)
{
    const Messenger::Check check = [](Messenger::Result &member) {
        if (!NetCommand::validName(member.name))
            member.refusal = "no ofrece el servicio de mensajes";
    };
    GroupSend send
        = isIPv4(d.config.broadcast()) ? askAndDeliver(group, wireGroup, d, check) : lookUpAndDeliver(group, d, check);
    if (send.failure)
        return *send.failure;
    const std::vector<Messenger::Result> &results = send.members;
    if (results.empty())
        return failure(NetCommand::NotDelivered, "Error: no se encuentra ningún equipo del grupo " + group + ".");

    // Answers arrive in network order, deliveries end in any order: the members are listed
    // by name.
    std::vector<size_t> order(results.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
        [&](size_t a, size_t b) { return Utf8Text::utf16Less(results[a].name, results[b].name); });
    Lines reached;
    Lines problems;
    for (const size_t i : order) {
        const std::string outcome = memberOutcome(results[i], d.config.timeoutSeconds());
        if (outcome.empty())
            reached.push_back(results[i].name);
        else
            problems.push_back(outcome);
    }
    const size_t total = results.size() + send.beyondBound;
    if (problems.empty() && send.beyondBound == 0)
        return delivered("Mensaje enviado a " + group + ": " + std::to_string(total)
                + (total == 1 ? " equipo (" : " equipos (") + join(reached, ", ") + ").",
            d.warnings);
    if (send.beyondBound > 0) {
        const bool one = send.beyondBound == 1;
        problems.push_back(
            (one ? std::string("Otro equipo ha") : "Otros " + std::to_string(send.beyondBound) + " equipos han")
            + " contestado después de los " + std::to_string(Messenger::kMaxMembers)
            + " que se atienden como máximo: no se " + (one ? "le" : "les") + " ha enviado el mensaje.");
    }
    const std::string summary = "Error: mensaje no entregado a "
        + std::to_string(problems.size() - (send.beyondBound > 0 ? 1 : 0) + send.beyondBound) + " de "
        + std::to_string(total) + " equipos del grupo " + group + ".";
    problems.insert(problems.end(), d.warnings.begin(), d.warnings.end());
    return failure(NetCommand::NotDelivered, summary, problems);
}

} // namespace

NetCommand::NetCommand(std::string iniPath, std::string sender)
    : m_iniPath(std::move(iniPath))
    , m_sender(std::move(sender))
{ }

std::vector<std::string> NetCommand::usage()
{
    return { "Uso: net send {equipo | * | /domain:grupo} mensaje", "     net view [/domain[:grupo]]" };
}

bool NetCommand::validName(std::string_view name)
{
    if (name.empty() || Utf8Text::utf16Length(name) > 15 || name.front() == '-')
        return false;
    static constexpr std::string_view kForbidden("\\/:*?\"<>|+=;,");
    for (size_t pos = 0; pos < name.size();) {
        const char32_t c = Utf8Text::next(name, pos);
        if (Utf8Text::isSpace(c) || Utf8Text::isControl(c) || (c < 0x80 && kForbidden.find(char(c)) != kForbidden.npos))
            return false;
    }
    return true;
}

std::optional<NetCommand::Request> NetCommand::parse(const std::vector<std::string> &arguments)
{
    if (!arguments.empty() && Utf8Text::equalsIgnoringCase(arguments.at(0), "view")) {
        Request request;
        request.verb = Request::Verb::View;
        request.kind = Request::Kind::OwnGroup;
        if (arguments.size() == 1)
            return request;
        const std::string &target = arguments.at(1);
        if (arguments.size() > 2)
            return std::nullopt;
        if (Utf8Text::equalsIgnoringCase(target, "/domain")) {
            request.kind = Request::Kind::AllGroups;
        } else if (const auto prefix = Utf8Text::prefixIgnoringCase(target, kDomainSwitch)) {
            request.kind = Request::Kind::Group;
            request.target = target.substr(*prefix);
        } else {
            return std::nullopt;
        }
        return request;
    }
    if (arguments.size() < 3 || !Utf8Text::equalsIgnoringCase(arguments.at(0), "send"))
        return std::nullopt;
    Request request;
    request.message = join(Lines(arguments.begin() + 2, arguments.end()), " ");
    if (Utf8Text::trimmed(request.message).empty())
        return std::nullopt;
    const std::string &target = arguments.at(1);
    // "/domain" alone means the own workgroup, as "*" does.
    if (target == "*" || Utf8Text::equalsIgnoringCase(target, "/domain")) {
        request.kind = Request::Kind::OwnGroup;
    } else if (const auto prefix = Utf8Text::prefixIgnoringCase(target, kDomainSwitch)) {
        request.kind = Request::Kind::Group;
        request.target = target.substr(*prefix);
    } else {
        request.target = target;
    }
    return request;
}

NetCommand::Result NetCommand::run(const std::vector<std::string> &arguments)
{
    Result result = execute(arguments);
    // Whatever was under way when net was told to stop is not known to have happened.
    if (const int signal = BoundedProcess::interruption())
        result = failure(NotDelivered,
            "Error: net ha recibido la señal " + std::to_string(signal) + " y se ha detenido antes de terminar.");
    for (std::vector<std::string> *lines : { &result.out, &result.err }) {
        for (std::string &line : *lines)
            line = printable(line);
    }
    return result;
}

NetCommand::Result NetCommand::execute(const std::vector<std::string> &arguments)
{
    const std::optional<Request> request = parse(arguments);
    if (!request) {
        const Lines lines = usage();
        return failure(Usage, lines.front(), Lines(lines.begin() + 1, lines.end()));
    }
    return request->verb == Request::Verb::View ? view(*request) : send(*request);
}

NetCommand::Result NetCommand::view(const Request &request)
{
    NetConfig config(m_iniPath);
    if (!config.error().empty())
        return failure(Usage, "Error: " + config.error() + ".");
    const std::string group = request.kind == Request::Kind::OwnGroup ? config.workgroup() : request.target;
    if (request.kind != Request::Kind::AllGroups) {
        if (!validName(group))
            return failure(Usage, "Error: nombre de grupo no válido: \"" + group + "\".");
        if (!MessageText::prepare({}, config.codePage()).codePageKnown)
            return failure(Usage, "Error: página de códigos desconocida: " + config.codePage() + ".");
        const WireName wire = inCodePage(group, config.codePage(), "el nombre del grupo");
        if (!wire.refusal.empty())
            return failure(Usage, "Error: " + wire.refusal + ".");
    }

    const SmbClient::Options client { config.clientConfig(), config.codePage(), {}, config.timeoutSeconds() };
    const bool all = request.kind == Request::Kind::AllGroups;
    const NetView::Found found = all ? NetView::groups(lookupOptions(config), client)
                                     : NetView::computers(group, lookupOptions(config), client);
    if (found.toolMissing)
        return failure(NotDelivered, "Error: " + std::string(kNmblookupMissing) + ".");
    if (found.timedOut)
        return failure(NotDelivered,
            (all ? std::string("Error: la búsqueda de grupos de trabajo y dominios")
                 : "Error: la búsqueda de los equipos del grupo " + group)
                + " no ha terminado en " + NetConfig::seconds(config.timeoutSeconds()) + ".");

    Result result;
    result.exitCode = Delivered;
    if (found.names.empty())
        result.out.push_back(all ? "No se ve ningún grupo de trabajo ni dominio."
                                 : "No se ha encontrado ningún equipo del grupo " + group + ".");
    else
        result.out.push_back(all ? "Grupos de trabajo y dominios:" : "Equipos del grupo " + group + ":");
    result.out.insert(result.out.end(), found.names.begin(), found.names.end());
    for (const std::string &warning : found.warnings)
        result.err.push_back("Aviso: " + warning + ".");
    return result;
}

NetCommand::Result NetCommand::send(const Request &request)
{
    NetConfig config(m_iniPath);
    if (!config.error().empty())
        return failure(Usage, "Error: " + config.error() + ".");
    const bool isGroup = request.kind != Request::Kind::Name;
    const std::string name = request.kind == Request::Kind::OwnGroup ? config.workgroup() : request.target;
    if (!validName(name))
        return failure(Usage, "Error: nombre de destino no válido: \"" + name + "\".");

    const std::string &codePage = config.codePage();
    const MessageText::Prepared text = MessageText::prepare(request.message, codePage);
    if (!text.codePageKnown)
        return failure(Usage, "Error: página de códigos desconocida: " + codePage + ".");
    const WireName wireName = inCodePage(name, codePage, "el nombre de destino");
    if (!wireName.refusal.empty())
        return failure(Usage, "Error: " + wireName.refusal + ".");
    const WireName sender = inCodePage(m_sender, codePage, "el nombre del remitente");
    if (!sender.refusal.empty())
        return failure(NotDelivered, "Error: " + sender.refusal + ".");

    Sending d { config, { config.clientConfig(), codePage, sender.bytes, config.timeoutSeconds() }, text.bytes, {} };
    if (text.droppedChars > 0)
        d.warnings.push_back("Aviso: el mensaje era demasiado largo (más de "
            + std::to_string(MessageText::kMaxWireBytes) + " bytes); se han cortado los últimos "
            + std::to_string(text.droppedChars) + " caracteres.");
    if (!text.unmappable.empty())
        d.warnings.push_back("Aviso: la página de códigos " + codePage
            + " no tiene estos caracteres, enviados como \"?\": " + text.unmappable);
    return isGroup ? sendToGroup(name, wireName.bytes, d) : sendToName(name, wireName.bytes, d);
}
