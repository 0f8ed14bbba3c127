#include "net/NetCommand.h"

#include "net/MessageText.h"
#include "net/NameLookup.h"
#include "net/NetConfig.h"
#include "net/SmbClient.h"

#include <algorithm>
#include <utility>

namespace {

const QString domainSwitch = QStringLiteral("/domain:");

NetCommand::Result failure(int code, const QString &line, const QStringList &more = {})
{
    NetCommand::Result result;
    result.exitCode = code;
    result.out << line << more;
    result.err << line << more;
    return result;
}

// The rest of a sentence as the first line: capital letter, final stop.
QString sentence(const QString &text)
{
    QString s = text;
    if (!s.isEmpty())
        s[0] = s.at(0).toUpper();
    return s + QLatin1Char('.');
}

} // namespace

NetCommand::NetCommand(QString iniPath, QString sender)
    : m_iniPath(std::move(iniPath))
    , m_sender(std::move(sender))
{ }

QString NetCommand::usage()
{
    return QStringLiteral("Uso: net send {equipo | * | /domain:grupo} mensaje");
}

bool NetCommand::validName(const QString &name)
{
    if (name.isEmpty() || name.size() > 15 || name.startsWith(QLatin1Char('-')))
        return false;
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|+=;,");
    for (const QChar c : name) {
        if (c.isSpace() || c.category() == QChar::Other_Control || forbidden.contains(c))
            return false;
    }
    return true;
}

NetCommand::Result NetCommand::run(const QStringList &arguments)
{
    if (arguments.isEmpty() || arguments.at(0).compare(QLatin1String("send"), Qt::CaseInsensitive) != 0)
        return failure(Usage, usage());
    if (arguments.size() < 3)
        return failure(Usage, usage());

    const QString target = arguments.at(1);
    const QString message = arguments.mid(2).join(QLatin1Char(' '));
    if (message.trimmed().isEmpty())
        return failure(Usage, usage());

    NetConfig config(m_iniPath);
    if (!config.error().isEmpty())
        return failure(Usage, QStringLiteral("Error: %1.").arg(config.error()));

    // "/domain" alone means the own workgroup, as "*" does.
    QString group;
    bool isGroup = false;
    if (target == QLatin1String("*") || target.compare(QLatin1String("/domain"), Qt::CaseInsensitive) == 0) {
        isGroup = true;
        group = config.workgroup();
    } else if (target.startsWith(domainSwitch, Qt::CaseInsensitive)) {
        isGroup = true;
        group = target.mid(domainSwitch.size());
    }
    const QString name = isGroup ? group : target;
    if (!validName(name))
        return failure(Usage, QStringLiteral("Error: nombre de destino no válido: \"%1\".").arg(name));

    const MessageText::Prepared text = MessageText::prepare(message, config.codePage());
    if (!text.codePageKnown)
        return failure(Usage, QStringLiteral("Error: página de códigos desconocida: %1.").arg(config.codePage()));

    QStringList warnings;
    if (text.droppedChars > 0)
        warnings << QStringLiteral("Aviso: el mensaje era demasiado largo (más de %1 bytes); se han cortado "
                                   "los últimos %2 caracteres.")
                        .arg(MessageText::maxWireBytes)
                        .arg(text.droppedChars);
    if (!text.unmappable.isEmpty())
        warnings << QStringLiteral("Aviso: la página de códigos %1 no tiene estos caracteres, enviados como "
                                   "\"?\": %2")
                        .arg(config.codePage(), text.unmappable);

    const SmbClient::Options smbOptions { config.clientConfig(), config.codePage(), m_sender, config.timeoutSeconds() };
    Result result;

    if (!isGroup) {
        SmbClient::Target destination { name, {}, 0 };
        if (const auto endpoint = config.endpoint(name)) {
            destination.address = endpoint->address;
            destination.port = endpoint->port;
        } else if (!config.error().isEmpty()) {
            return failure(Usage, QStringLiteral("Error: %1.").arg(config.error()));
        }
        const SmbClient::Delivery delivery = SmbClient::send(destination, smbOptions, text.bytes);
        if (delivery.outcome == SmbClient::Outcome::Delivered) {
            result.exitCode = Delivered;
            result.out << QStringLiteral("Mensaje enviado a %1.").arg(name) << warnings;
            result.err << warnings;
        } else {
            result = failure(NotDelivered,
                QStringLiteral("Error: %1.").arg(SmbClient::describe(delivery, name, config.timeoutSeconds())),
                warnings);
        }
        return result;
    }

    const NameLookup::Members found = NameLookup::members(
        group, NameLookup::Options { config.clientConfig(), config.broadcast(), config.timeoutSeconds() });
    if (found.toolMissing)
        return failure(NotDelivered,
            QStringLiteral("Error: no se encuentra el programa nmblookup en el PATH (paquete smbclient)."));
    if (found.timedOut)
        return failure(NotDelivered,
            QStringLiteral("Error: la búsqueda del grupo %1 no ha terminado en %2 segundos.")
                .arg(group)
                .arg(config.timeoutSeconds()));
    if (found.members.isEmpty())
        return failure(NotDelivered, QStringLiteral("Error: no se encuentra ningún equipo del grupo %1.").arg(group));

    // Answers arrive in network order; the members are served and listed by name.
    QList<NameLookup::Member> members = found.members;
    std::sort(members.begin(), members.end(),
        [](const NameLookup::Member &a, const NameLookup::Member &b) { return a.name < b.name; });
    QStringList delivered;
    QStringList problems;
    for (const NameLookup::Member &member : members) {
        if (member.name.isEmpty() || !validName(member.name)) {
            problems << QStringLiteral("El equipo %1 no ofrece el servicio de mensajes.").arg(member.address);
            continue;
        }
        const SmbClient::Delivery delivery
            = SmbClient::send(SmbClient::Target { member.name, member.address, 0 }, smbOptions, text.bytes);
        if (delivery.outcome == SmbClient::Outcome::Delivered)
            delivered << member.name;
        else
            problems << sentence(SmbClient::describe(delivery, member.name, config.timeoutSeconds()));
    }

    const int total = int(found.members.size());
    if (problems.isEmpty()) {
        result.exitCode = Delivered;
        result.out << QStringLiteral("Mensaje enviado a %1: %2 %3 (%4).")
                          .arg(group)
                          .arg(total)
                          .arg(total == 1 ? QStringLiteral("equipo") : QStringLiteral("equipos"),
                              delivered.join(QStringLiteral(", ")))
                   << warnings;
        result.err << warnings;
        return result;
    }
    return failure(NotDelivered,
        QStringLiteral("Error: mensaje no entregado a %1 de %2 equipos del grupo %3.")
            .arg(problems.size())
            .arg(total)
            .arg(group),
        problems + warnings);
}
