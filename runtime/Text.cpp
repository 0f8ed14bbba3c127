#include "runtime/Text.h"

#include <QRegularExpression>
#include <QTextDocument>

namespace Text {

QString trimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

QString properCase(const QString &text)
{
    QString result;
    result.reserve(text.size());
    bool wordStart = true;
    for (const QChar c : text) {
        if (c.isLetter()) {
            // One character for one, as the ANSI runtime does ("ß" stays "ß", not "SS").
            result += wordStart ? c.toTitleCase() : c.toLower();
            wordStart = false;
        } else {
            result += c;
            wordStart = !c.isDigit() && !c.isMark();
        }
    }
    return result;
}

QString timeOfDay(const QTime &time, const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    // The long format names the time zone ("t", sometimes in brackets or after a comma):
    // a time of day has none.
    static const QRegularExpression zone(QStringLiteral("[\\s,]*[\\(\\[]?\\bt+\\b[\\)\\]]?"));
    format.remove(zone);
    return locale.toString(time, format.trimmed());
}

QString withTrailingSeparator(const QString &dir)
{
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

QString literal(const QString &text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

} // namespace Text
