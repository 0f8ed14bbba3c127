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
        const qsizetype end = (closing < 0 || closing > lineEnd) ? lineEnd : closing;
        return text.mid(start + 1, end - start - 1);
    }
    const qsizetype comma = text.indexOf(QLatin1Char(','), start);
    const qsizetype end = (comma < 0 || comma > lineEnd) ? lineEnd : comma;
    return text.mid(start, end - start);
}

QString firstLine(const QByteArray &output)
{
    qsizetype end = 0;
    while (end < output.size() && output.at(end) != '\n' && output.at(end) != '\r')
        ++end;
    QString line = QString::fromLocal8Bit(output.first(end));
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
