#pragma once

#include <string>
#include <string_view>

// Windows-1252 byte by byte, without Qt: the one table behind both the profile files
// (Cp1252) and the `net` command's reading of net.ini.
namespace Cp1252Table {

// The character of a byte. The five bytes the code page leaves undefined come back as
// the control characters of the same value, so that they survive a round trip.
char16_t decode(unsigned char byte);

// The byte of a character, or "?" when the code page has none. A control character
// 0x80-0x9F has a byte only where the code page has a hole.
char encode(char32_t character);

// The character of a byte, case-folded (Unicode::fold).
char16_t folded(unsigned char byte);

// Windows-1252 bytes as UTF-8 text.
std::string toUtf8(std::string_view bytes);

// UTF-8 text as Windows-1252; a byte that is not valid UTF-8 becomes "?" as well.
std::string fromUtf8(std::string_view text);

} // namespace Cp1252Table
