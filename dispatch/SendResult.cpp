#include "dispatch/SendResult.h"

namespace SendResult {

QString firstField(const QByteArray &output)
{
    const QString text = QString::fromLocal8Bit(output);
    qsizetype lineEnd = text.size();
    for (qsizetype k = 0; k < text.size(); ++k) {
        if (text.at(k) == QLatin1Char('\n') || text.at(k) == QLatin1Char('\r')) {
            lineEnd = k;
            break;
        }
    }
    qsizetype start = 0;
    while (start < lineEnd && text.at(start) == QLatin1Char(' '))
        ++start;
    if (start < lineEnd && text.at(start) == QLatin1Char('"')) {
        const qsizetype closing = text.indexOf(QLatin1Char('"'), start + 1);
        const qsizetype fin = (closing < 0 || closing > lineEnd) ? lineEnd : closing;
        return text.mid(start + 1, fin - start - 1);
    }
    const qsizetype coma = text.indexOf(QLatin1Char(','), start);
    const qsizetype fin = (coma < 0 || coma > lineEnd) ? lineEnd : coma;
    return text.mid(start, fin - start);
}

QString firstLine(const QByteArray &output)
{
    qsizetype fin = 0;
    while (fin < output.size() && output.at(fin) != '\n' && output.at(fin) != '\r')
        ++fin;
    QString line = QString::fromLocal8Bit(output.first(fin));
    for (QChar &c : line) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    }
    line = line.trimmed();
    if (line.size() > kAnswerLength)
        line = line.left(kAnswerLength - 1) + QChar(0x2026);
    return line;
}

qint16 evaluate(const QString &field)
{
    static const QString mark = QStringLiteral("MENSAJE ENVIADO");
    return field.left(mark.size()).toUpper() == mark ? 1 : 0;
}

} // namespace SendResult
