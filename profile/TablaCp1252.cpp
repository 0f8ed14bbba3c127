#include "profile/TablaCp1252.h"

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

void anadirUtf8(std::string &salida, char32_t c)
{
    if (c < 0x80) {
        salida += char(c);
    } else if (c < 0x800) {
        salida += char(0xC0 | (c >> 6));
        salida += char(0x80 | (c & 0x3F));
    } else {
        salida += char(0xE0 | (c >> 12));
        salida += char(0x80 | ((c >> 6) & 0x3F));
        salida += char(0x80 | (c & 0x3F));
    }
}

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
    const char16_t c = decodificar(byte);
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return char16_t(c + 0x20);
    switch (c) {
    case 0x00B5: // micro sign: Greek small mu
        return 0x03BC;
    case 0x0160: // S, O E and Z with caron or ligature: the small letter follows the capital
    case 0x0152:
    case 0x017D:
        return char16_t(c + 1);
    case 0x0178: // Y with diaeresis
        return 0x00FF;
    default:
        return c;
    }
}

std::string aUtf8(std::string_view bytes)
{
    std::string salida;
    salida.reserve(bytes.size());
    for (const char b : bytes)
        anadirUtf8(salida, decodificar(static_cast<unsigned char>(b)));
    return salida;
}

int leerUtf8(std::string_view texto, size_t pos, char32_t &c)
{
    const auto b = static_cast<unsigned char>(texto[pos]);
    int largo = 0;
    char32_t minimo = 0;
    if (b < 0x80) {
        c = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        largo = 2, c = b & 0x1F, minimo = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        largo = 3, c = b & 0x0F, minimo = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        largo = 4, c = b & 0x07, minimo = 0x10000;
    } else {
        return 0;
    }
    if (pos + size_t(largo) > texto.size())
        return 0;
    for (int i = 1; i < largo; ++i) {
        const auto siguiente = static_cast<unsigned char>(texto[pos + size_t(i)]);
        if ((siguiente & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (siguiente & 0x3F);
    }
    if (c < minimo || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return largo;
}

std::string desdeUtf8(std::string_view texto)
{
    std::string salida;
    salida.reserve(texto.size());
    for (size_t pos = 0; pos < texto.size();) {
        char32_t c = 0;
        const int largo = leerUtf8(texto, pos, c);
        salida += largo == 0 ? '?' : codificar(c);
        pos += size_t(largo == 0 ? 1 : largo);
    }
    return salida;
}

} // namespace TablaCp1252
