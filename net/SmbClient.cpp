#include "net/SmbClient.h"

namespace {

// What separates the words of smbclient's messages: ASCII blanks only.
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'));
}

QString firstLine(const QByteArray &text)
{
    const QString all = QString::fromUtf8(text).trimmed();
    return all.section(QLatin1Char('\n'), 0, 0).trimmed();
}

// The text is scanned by hand rather than with a regular expression: compiling one is a
// visible part of a net run, which is mostly start-up.

// The first "NT_STATUS_" followed by a code of capitals, digits and "_".
QString ntStatus(const QString &text)
{
    static const QLatin1String prefix("NT_STATUS_");
    for (qsizetype at = text.indexOf(prefix); at >= 0; at = text.indexOf(prefix, at + 1)) {
        qsizetype end = at + prefix.size();
        while (end < text.size()
            && ((text.at(end) >= QLatin1Char('A') && text.at(end) <= QLatin1Char('Z'))
                || (text.at(end) >= QLatin1Char('0') && text.at(end) <= QLatin1Char('9'))
                || text.at(end) == QLatin1Char('_')))
            ++end;
        if (end > at + prefix.size())
            return text.mid(at, end - at);
    }
    return {};
}

// The status after the first "cli_message<anything> returned ", if there is one.
QString refusal(const QString &text)
{
    static const QLatin1String call("cli_message");
    static const QLatin1String returned(" returned ");
    for (qsizetype at = text.indexOf(call); at >= 0; at = text.indexOf(call, at + 1)) {
        qsizetype pos = at + call.size();
        while (pos < text.size() && !isBlank(text.at(pos)))
            ++pos;
        if (!QStringView(text).mid(pos).startsWith(returned))
            continue;
        pos += returned.size();
        qsizetype end = pos;
        while (end < text.size() && !isBlank(text.at(end)))
            ++end;
        if (end > pos)
            return text.mid(pos, end - pos);
    }
    return {};
}

} // namespace

QStringList SmbClient::arguments(const Target &target, const Options &options)
{
    // Every value rides in its "--option=value" form, so no name or address, however
    // odd, can be taken for another option. The message is read as bytes already in the
    // DOS code page: with the same page as "unix charset" smbclient passes them through
    // unchanged, instead of garbling a whole block when one character fails to convert.
    QStringList args;
    if (!options.clientConfig.isEmpty())
        args << QStringLiteral("--configfile=") + options.clientConfig;
    args << QStringLiteral("--option=dos charset=") + options.codePage
         << QStringLiteral("--option=unix charset=") + options.codePage << QStringLiteral("--message=") + target.name;
    if (!target.address.isEmpty())
        args << QStringLiteral("--ip-address=") + target.address;
    if (target.port > 0)
        args << QStringLiteral("--port=") + QString::number(target.port);
    args << QStringLiteral("--timeout=") + QString::number(options.timeoutSeconds) << QStringLiteral("--no-pass")
         << QStringLiteral("--user=") + options.sender;
    return args;
}

SmbClient::Delivery SmbClient::classify(const BoundedProcess::Result &run)
{
    if (!run.found || !run.started)
        return { Outcome::Missing, {} };
    if (run.timedOut)
        return { Outcome::TimedOut, {} };

    const QString err = QString::fromUtf8(run.err);
    const QString out = QString::fromUtf8(run.out);
    const QString refusedWith = refusal(err + QLatin1Char('\n') + out);
    if (!refusedWith.isEmpty())
        return { Outcome::Refused, refusedWith };
    if (run.exitCode == 0)
        return { Outcome::Delivered, {} };

    const QString both = out + QLatin1Char('\n') + err;
    const QString status = ntStatus(both);
    if (status == QLatin1String("NT_STATUS_NOT_FOUND") || status == QLatin1String("NT_STATUS_BAD_NETWORK_NAME")
        || status == QLatin1String("NT_STATUS_OBJECT_NAME_NOT_FOUND"))
        return { Outcome::NotFound, status };
    if (status == QLatin1String("NT_STATUS_IO_TIMEOUT"))
        return { Outcome::TimedOut, status };
    if (status == QLatin1String("NT_STATUS_CONNECTION_REFUSED") || status == QLatin1String("NT_STATUS_HOST_UNREACHABLE")
        || status == QLatin1String("NT_STATUS_NETWORK_UNREACHABLE")
        || status == QLatin1String("NT_STATUS_CONNECTION_RESET")
        || status == QLatin1String("NT_STATUS_CONNECTION_DISCONNECTED")
        || status == QLatin1String("NT_STATUS_PORT_UNREACHABLE"))
        return { Outcome::NoAnswer, status };
    const QString line = firstLine(run.out).isEmpty() ? firstLine(run.err) : firstLine(run.out);
    return { Outcome::Failed,
        line.isEmpty() ? QStringLiteral("smbclient terminó con el código %1").arg(run.exitCode) : line };
}

SmbClient::Delivery SmbClient::send(const Target &target, const Options &options, const QByteArray &message)
{
    // A little beyond smbclient's own per-request time-out, which reports more precisely.
    const int boundMs = options.timeoutSeconds * 1000 + 500;
    return classify(BoundedProcess::run(QStringLiteral("smbclient"), arguments(target, options), message, boundMs));
}

QString SmbClient::describe(const Delivery &delivery, const QString &name, int timeoutSeconds)
{
    switch (delivery.outcome) {
    case Outcome::Delivered:
        return QStringLiteral("mensaje entregado a %1").arg(name);
    case Outcome::NotFound:
        return QStringLiteral("no se encuentra el equipo %1 en la red (%2)").arg(name, delivery.detail);
    case Outcome::NoAnswer:
        return QStringLiteral("el equipo %1 no responde (%2)").arg(name, delivery.detail);
    case Outcome::Refused:
        return QStringLiteral("el equipo %1 ha rechazado el mensaje (%2)").arg(name, delivery.detail);
    case Outcome::Missing:
        return QStringLiteral("no se encuentra el programa smbclient en el PATH (paquete smbclient)");
    case Outcome::TimedOut:
        return QStringLiteral("el equipo %1 no ha contestado en %2 %3")
            .arg(name)
            .arg(timeoutSeconds)
            .arg(timeoutSeconds == 1 ? QStringLiteral("segundo") : QStringLiteral("segundos"));
    case Outcome::Failed:
        break;
    }
    return QStringLiteral("no se pudo enviar el mensaje a %1: %2").arg(name, delivery.detail);
}
