#include "profile/TablaCp1252.h"

#include "profile/Unicode.h"

#include <array>

namespace TablaCp1252 {

namespace {

// The block 0x80-0x9F, where the code page differs from Latin-1. Zero marks a byte the
// code page leaves undefined.
constexpr char16_t kBloqueAlto[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0, //
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178, //
};

} // namespace

char16_t decodificar(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0 && kBloqueAlto[byte - 0x80] != 0)
        return kBloqueAlto[byte - 0x80];
    return char16_t(byte);
}

char codificar(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    if (c < 0xA0)
        return kBloqueAlto[c - 0x80] == 0 ? char(c) : '?';
    for (int i = 0; i < 32; ++i) {
        if (kBloqueAlto[i] == c)
            return char(0x80 + i);
    }
    return '?';
}

char16_t plegado(unsigned char byte)
{
    // Every character of the code page folds to one in the BMP. Names are hashed and compared
    // through it byte by byte: worked out once for all 256 bytes.
    static const auto tabla = [] {
        std::array<char16_t, 256> t {};
        for (int b = 0; b < 256; ++b)
            t[size_t(b)] = char16_t(Unicode::plegar(decodificar((unsigned char)b)));
        return t;
    }();
    return tabla[byte];
}

std::string aUtf8(std::string_view bytes)
{
    std::string salida;
    salida.reserve(bytes.size());
    for (const char b : bytes)
        Unicode::anadirUtf8(salida, decodificar(static_cast<unsigned char>(b)));
    return salida;
}

std::string desdeUtf8(std::string_view texto)
{
    std::string salida;
    salida.reserve(texto.size());
    for (size_t pos = 0; pos < texto.size();) {
        char32_t c = 0;
        const int largo = Unicode::leerUtf8(texto, pos, c);
        salida += largo == 0 ? '?' : codificar(c);
        pos += size_t(largo == 0 ? 1 : largo);
    }
    return salida;
}

} // namespace TablaCp1252
