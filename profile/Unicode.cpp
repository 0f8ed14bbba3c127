#include "profile/Unicode.h"

namespace Unicode {

int readUtf8(std::string_view text, size_t pos, char32_t &c)
{
    const auto b = static_cast<unsigned char>(text[pos]);
    int length = 0;
    char32_t minimum = 0;
    if (b < 0x80) {
        c = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2, c = b & 0x1F, minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, c = b & 0x0F, minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, c = b & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (pos + size_t(length) > text.size())
        return 0;
    for (int i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + size_t(i)]);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

void appendUtf8(std::string &output, char32_t c)
{
    if (c < 0x80) {
        output += char(c);
    } else if (c < 0x800) {
        output += char(0xC0 | (c >> 6));
        output += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        output += char(0xE0 | (c >> 12));
        output += char(0x80 | ((c >> 6) & 0x3F));
        output += char(0x80 | (c & 0x3F));
    } else {
        output += char(0xF0 | (c >> 18));
        output += char(0x80 | ((c >> 12) & 0x3F));
        output += char(0x80 | ((c >> 6) & 0x3F));
        output += char(0x80 | (c & 0x3F));
    }
}

char32_t fold(char32_t c)
{
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    switch (c) {
    case 0x00B5: // micro sign: Greek small mu
        return 0x03BC;
    case 0x0160: // S, O E and Z with caron or ligature: the small letter follows the capital
    case 0x0152:
    case 0x017D:
        return c + 1;
    case 0x0178: // Y with diaeresis
        return 0x00FF;
    case 0x017F: // long s
        return U's';
    case 0x212A: // Kelvin sign
        return U'k';
    default:
        return c;
    }
}

} // namespace Unicode
