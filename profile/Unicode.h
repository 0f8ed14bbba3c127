#pragma once

#include <string>
#include <string_view>

// The project's one UTF-8 codec and one case-folding table, without Qt: the Windows-1252
// table, the profile-file syntax and the `net` command all build on these.
namespace Unicode {

// The length of the valid UTF-8 sequence at text[pos] and, in c, its character; 0 when
// the byte there begins none (a stray or cut-short byte, an overlong form, a surrogate).
int readUtf8(std::string_view text, size_t pos, char32_t &c);

// Appends c (a Unicode scalar value) in UTF-8.
void appendUtf8(std::string &output, char32_t c);

// The simple case folding of c, as QChar::toCaseFolded gives it, for every character of
// Windows-1252 and for the two outside it that fold into ASCII (long s, Kelvin sign); any
// other character comes back unchanged.
char32_t fold(char32_t c);

} // namespace Unicode
