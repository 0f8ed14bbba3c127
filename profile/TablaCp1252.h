#pragma once

#include <string>
#include <string_view>

// Windows-1252 byte by byte, without Qt: the one table behind both the profile files
// (Cp1252) and the `net` command's reading of net.ini.
namespace TablaCp1252 {

// The character of a byte. The five bytes the code page leaves undefined come back as
// the control characters of the same value, so that they survive a round trip.
char16_t decodificar(unsigned char byte);

// The byte of a character, or "?" when the code page has none. A control character
// 0x80-0x9F has a byte only where the code page has a hole.
char codificar(char32_t caracter);

// The character of a byte, case-folded (Unicode::plegar).
char16_t plegado(unsigned char byte);

// Windows-1252 bytes as UTF-8 text.
std::string aUtf8(std::string_view bytes);

// UTF-8 text as Windows-1252; a byte that is not valid UTF-8 becomes "?" as well.
std::string desdeUtf8(std::string_view texto);

} // namespace TablaCp1252
