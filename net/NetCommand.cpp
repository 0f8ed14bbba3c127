#include "net/NetCommand.h"

#include "net/MessageText.h"
#include "net/NameLookup.h"
#include "net/NetConfig.h"
#include "net/SmbClient.h"
#include "net/Utf8Text.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::string_view domainSwitch("/domain:");

using Lines = std::vector<std::string>;

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

// Names sort by their UTF-16 units, the order in which group members have always been listed.
bool utf16Less(std::string_view a, std::string_view b)
{
    const auto units = [](std::string_view text) {
        std::u16string out;
        for (size_t pos = 0; pos < text.size();) {
            const char32_t c = Utf8Text::next(text, pos);
            if (c > 0xFFFF) {
                out += char16_t(0xD800 + ((c - 0x10000) >> 10));
                out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                out += char16_t(c);
            }
        }
        return out;
    };
    return units(a) < units(b);
}

} // namespace

NetCommand::NetCommand(std::string iniPath, std::string sender)
    : m_iniPath(std::move(iniPath))
    , m_sender(std::move(sender))
{ }

std::string NetCommand::usage()
{
    return "Uso: net send {equipo | * | /domain:grupo} mensaje";
}

bool NetCommand::validName(std::string_view name)
{
    if (name.empty() || Utf8Text::utf16Length(name) > 15 || name.front() == '-')
        return false;
    static constexpr std::string_view forbidden("\\/:*?\"<>|+=;,");
    for (size_t pos = 0; pos < name.size();) {
        const char32_t c = Utf8Text::next(name, pos);
        if (Utf8Text::isSpace(c) || Utf8Text::isControl(c) || (c < 0x80 && forbidden.find(char(c)) != forbidden.npos))
            return false;
    }
    return true;
}

NetCommand::Result NetCommand::run(const std::vector<std::string> &arguments)
{
    if (arguments.empty() || !Utf8Text::equalsIgnoringCase(arguments.at(0), "send"))
        return failure(Usage, usage());
    if (arguments.size() < 3)
        return failure(Usage, usage());

    const std::string &target = arguments.at(1);
    const std::string message = join(Lines(arguments.begin() + 2, arguments.end()), " ");
    if (Utf8Text::trimmed(message).empty())
        return failure(Usage, usage());

    NetConfig config(m_iniPath);
    if (!config.error().empty())
        return failure(Usage, "Error: " + config.error() + ".");

    // "/domain" alone means the own workgroup, as "*" does.
    std::string group;
    bool isGroup = false;
    if (target == "*" || Utf8Text::equalsIgnoringCase(target, "/domain")) {
        isGroup = true;
        group = config.workgroup();
    } else if (const auto prefix = Utf8Text::prefixIgnoringCase(target, domainSwitch)) {
        isGroup = true;
        group = target.substr(*prefix);
    }
    const std::string &name = isGroup ? group : target;
    if (!validName(name))
        return failure(Usage, "Error: nombre de destino no válido: \"" + name + "\".");

    const MessageText::Prepared text = MessageText::prepare(message, config.codePage());
    if (!text.codePageKnown)
        return failure(Usage, "Error: página de códigos desconocida: " + config.codePage() + ".");

    Lines warnings;
    if (text.droppedChars > 0)
        warnings.push_back("Aviso: el mensaje era demasiado largo (más de " + std::to_string(MessageText::maxWireBytes)
            + " bytes); se han cortado los últimos " + std::to_string(text.droppedChars) + " caracteres.");
    if (!text.unmappable.empty())
        warnings.push_back("Aviso: la página de códigos " + config.codePage()
            + " no tiene estos caracteres, enviados como \"?\": " + text.unmappable);

    const SmbClient::Options smbOptions { config.clientConfig(), config.codePage(), m_sender, config.timeoutSeconds() };
    Result result;

    if (!isGroup) {
        SmbClient::Target destination { name, {}, 0 };
        if (const auto endpoint = config.endpoint(name)) {
            destination.address = endpoint->address;
            destination.port = endpoint->port;
        } else if (!config.error().empty()) {
            return failure(Usage, "Error: " + config.error() + ".");
        }
        const SmbClient::Delivery delivery = SmbClient::send(destination, smbOptions, text.bytes);
        if (delivery.outcome == SmbClient::Outcome::Delivered) {
            result.exitCode = Delivered;
            result.out.push_back("Mensaje enviado a " + name + ".");
            result.out.insert(result.out.end(), warnings.begin(), warnings.end());
            result.err = warnings;
        } else {
            result = failure(
                NotDelivered, "Error: " + SmbClient::describe(delivery, name, config.timeoutSeconds()) + ".", warnings);
        }
        return result;
    }

    const NameLookup::Members found = NameLookup::members(
        group, NameLookup::Options { config.clientConfig(), config.broadcast(), config.timeoutSeconds() });
    if (found.toolMissing)
        return failure(NotDelivered, "Error: no se encuentra el programa nmblookup en el PATH (paquete smbclient).");
    if (found.timedOut)
        return failure(NotDelivered,
            "Error: la búsqueda del grupo " + group + " no ha terminado en " + std::to_string(config.timeoutSeconds())
                + " segundos.");
    if (found.members.empty())
        return failure(NotDelivered, "Error: no se encuentra ningún equipo del grupo " + group + ".");

    // Answers arrive in network order; the members are served and listed by name.
    std::vector<NameLookup::Member> members = found.members;
    std::sort(members.begin(), members.end(),
        [](const NameLookup::Member &a, const NameLookup::Member &b) { return utf16Less(a.name, b.name); });
    Lines delivered;
    Lines problems;
    for (const NameLookup::Member &member : members) {
        if (member.name.empty() || !validName(member.name)) {
            problems.push_back("El equipo " + member.address + " no ofrece el servicio de mensajes.");
            continue;
        }
        const SmbClient::Delivery delivery
            = SmbClient::send(SmbClient::Target { member.name, member.address, 0 }, smbOptions, text.bytes);
        if (delivery.outcome == SmbClient::Outcome::Delivered)
            delivered.push_back(member.name);
        else
            problems.push_back(sentence(SmbClient::describe(delivery, member.name, config.timeoutSeconds())));
    }

    const size_t total = found.members.size();
    if (problems.empty()) {
        result.exitCode = Delivered;
        result.out.push_back("Mensaje enviado a " + group + ": " + std::to_string(total)
            + (total == 1 ? " equipo (" : " equipos (") + join(delivered, ", ") + ").");
        result.out.insert(result.out.end(), warnings.begin(), warnings.end());
        result.err = warnings;
        return result;
    }
    const std::string summary = "Error: mensaje no entregado a " + std::to_string(problems.size()) + " de "
        + std::to_string(total) + " equipos del grupo " + group + ".";
    problems.insert(problems.end(), warnings.begin(), warnings.end());
    return failure(NotDelivered, summary, problems);
}
