#include "dispatch/BatchLine.h"

namespace BatchLine {

namespace {

// Characters that sh gives a meaning outside quotes (the blank excepted: it must keep
// separating the message's words, as it does for net on Windows).
bool specialOutside(QChar c)
{
    static const QString specials = QStringLiteral("|&;<>()$`\\\"'*?[#~\t");
    return specials.contains(c);
}

} // namespace

QString escapeWords(const QString &text)
{
    QString result;
    result.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            // A backslash before a newline would join the lines; quoting keeps the newline itself.
            result += QLatin1String("'\n'");
        } else {
            if (specialOutside(c))
                result += QLatin1Char('\\');
            result += c;
        }
    }
    return result;
}

QString escapeInQuotes(const QString &text)
{
    QString result;
    result.reserve(text.size() + 4);
    for (const QChar c : text) {
        if (c == QLatin1Char('$') || c == QLatin1Char('`') || c == QLatin1Char('\\') || c == QLatin1Char('"'))
            result += QLatin1Char('\\');
        result += c;
    }
    return result;
}

QString arm(const QString &recipient, bool group, const QString &message, const QString &rutaPrograma)
{
    const QString target = (group ? QStringLiteral("/domain:") : QString()) + escapeWords(recipient);
    return QStringLiteral("net send ") + target + QLatin1Char(' ') + escapeWords(message)
        + QStringLiteral(" > \"") + escapeInQuotes(rutaPrograma + QStringLiteral("mensaje.txt"))
        + QLatin1Char('"');
}

QByteArray contents(const QString &line)
{
    return line.toLocal8Bit() + '\n';
}

} // namespace BatchLine
