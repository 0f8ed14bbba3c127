#include "profile/Cp1252.h"

#include "profile/Cp1252Table.h"

namespace Cp1252 {

QByteArray encode(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += '?';
            ++i;
        } else if (QChar::isSurrogate(c)) {
            out += '?';
        } else {
            out += Cp1252Table::encode(c);
        }
    }
    return out;
}

QString decode(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *d = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        d[i] = QChar(Cp1252Table::decode(static_cast<unsigned char>(bytes[i])));
    return out;
}

} // namespace Cp1252
