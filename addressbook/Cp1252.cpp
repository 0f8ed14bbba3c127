#include "addressbook/Cp1252.h"

namespace Cp1252 {

namespace {
// The block 0x80-0x9F, where the code page differs from Latin-1. Zero marks a byte the
// code page leaves undefined; it maps to the control character of the same value.
constexpr char16_t kHighBlock[32] = {
    0x20AC,
    0,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0,
    0x017D,
    0,
    0,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0,
    0x017E,
    0x0178,
};

char encodeOne(char16_t c)
{
    if (c < 0x80 || c >= 0xA0) {
        if (c <= 0xFF)
            return char(c);
        for (int i = 0; i < 32; ++i) {
            if (kHighBlock[i] == c)
                return char(0x80 + i);
        }
        return '?';
    }
    // A control character 0x80-0x9F survives only where the code page has a hole.
    return kHighBlock[c - 0x80] == 0 ? char(c) : '?';
}
} // namespace

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
            out += encodeOne(c);
        }
    }
    return out;
}

QString decode(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *d = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x80 && b < 0xA0 && kHighBlock[b - 0x80] != 0)
            d[i] = QChar(kHighBlock[b - 0x80]);
        else
            d[i] = QChar(char16_t(b));
    }
    return out;
}

} // namespace Cp1252
