#include "profile/Cp1252Table.h"

#include "profile/Unicode.h"

#include <array>

namespace Cp1252Table {

namespace {

// The block 0x80-0x9F, where the code page differs from Latin-1. Zero marks a byte the
// code page leaves undefined.
constexpr char16_t kHighBlock[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0, //
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178, //
};

} // namespace

char16_t decode(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0 && kHighBlock[byte - 0x80] != 0)
        return kHighBlock[byte - 0x80];
    return char16_t(byte);
}

char encode(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    if (c < 0xA0)
        return kHighBlock[c - 0x80] == 0 ? char(c) : '?';
    for (int i = 0; i < 32; ++i) {
        if (kHighBlock[i] == c)
            return char(0x80 + i);
    }
    return '?';
}

char16_t folded(unsigned char byte)
{
    // Every character of the code page folds to one in the BMP. Names are hashed and compared
    // through it byte by byte: worked out once for all 256 bytes.
    static const auto table = [] {
        std::array<char16_t, 256> t {};
        for (int b = 0; b < 256; ++b)
            t[size_t(b)] = char16_t(Unicode::fold(decode((unsigned char)b)));
        return t;
    }();
    return table[byte];
}

std::string toUtf8(std::string_view bytes)
{
    std::string output;
    output.reserve(bytes.size());
    for (const char b : bytes)
        Unicode::appendUtf8(output, decode(static_cast<unsigned char>(b)));
    return output;
}

std::string fromUtf8(std::string_view text)
{
    std::string output;
    output.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        char32_t c = 0;
        const int length = Unicode::readUtf8(text, pos, c);
        output += length == 0 ? '?' : encode(c);
        pos += size_t(length == 0 ? 1 : length);
    }
    return output;
}

} // namespace Cp1252Table
