#include "net/NameLookup.h"

#include <QRegularExpression>

namespace {

QStringList commonArguments(const NameLookup::Options &options)
{
    QStringList args;
    if (!options.clientConfig.isEmpty())
        args << QStringLiteral("--configfile=") + options.clientConfig;
    return args;
}

} // namespace

QStringList NameLookup::parseGroupAnswer(const QByteArray &output)
{
    static const QRegularExpression answer(QStringLiteral("^(\\S+)\\s+\\S+<00>\\s*$"));
    QStringList addresses;
    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const auto match = answer.match(line.trimmed());
        if (match.hasMatch() && !addresses.contains(match.captured(1)))
            addresses << match.captured(1);
    }
    return addresses;
}

QString NameLookup::parseMessengerName(const QByteArray &output)
{
    static const QRegularExpression entry(QStringLiteral("^(\\S+)\\s+<03>\\s+-\\s+(<GROUP>)?"));
    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const auto match = entry.match(line.trimmed());
        if (match.hasMatch() && match.captured(2).isEmpty())
            return match.captured(1);
    }
    return {};
}

NameLookup::Members NameLookup::members(const QString &group, const Options &options)
{
    Members result;
    const int boundMs = options.timeoutSeconds * 1000;
    QStringList args = commonArguments(options);
    if (!options.broadcast.isEmpty())
        args << QStringLiteral("--broadcast=") + options.broadcast;
    // "--" keeps a group name from being read as an option.
    args << QStringLiteral("--") << group;
    const auto query = BoundedProcess::run(QStringLiteral("nmblookup"), args, {}, boundMs);
    if (!query.found || !query.started) {
        result.toolMissing = true;
        return result;
    }
    if (query.timedOut) {
        result.timedOut = true;
        return result;
    }
    for (const QString &address : parseGroupAnswer(query.out)) {
        const auto status = BoundedProcess::run(QStringLiteral("nmblookup"),
            commonArguments(options) << QStringLiteral("--lookup-by-ip") << QStringLiteral("--") << address, {},
            boundMs);
        result.members << Member { address, status.timedOut ? QString() : parseMessengerName(status.out) };
    }
    return result;
}
