#pragma once

#include <optional>
#include <string>
#include <string_view>

// Text as UTF-8 in std::string, with the few Unicode rules the `net` command needs.
// Where a rule decides what net accepts or prints, it is QString's, as it was when the
// command was built on Qt: the same blanks, the same replacement of broken bytes.
namespace Utf8Text {

// The text with every byte that does not begin a valid UTF-8 sequence replaced by U+FFFD.
std::string valid(std::string_view bytes);

// The character at pos of valid UTF-8 text, and pos moved past it.
char32_t next(std::string_view text, size_t &pos);

// Unicode blanks and line breaks (categories Zs, Zl, Zp and the ASCII ones, U+0085).
bool isSpace(char32_t c);

// The ASCII blanks and line breaks (space, tab, LF, VT, FF, CR): what separates the
// words of the Samba tools' messages.
bool isAsciiBlank(char c);

// Control characters (category Cc).
bool isControl(char32_t c);

// The text as one printable line: control characters and the Unicode line and paragraph
// separators written as escapes ("\n", "\x1b", "\u2028"), broken bytes as U+FFFD.
std::string printable(std::string_view text);

// Without the blanks of isSpace at either end.
std::string_view trimmed(std::string_view text);

// Length in characters, and in UTF-16 units (characters beyond the BMP count twice).
size_t characters(std::string_view text);
size_t utf16Length(std::string_view text);

// One byte per character; characters beyond Latin-1 become "?", those beyond the BMP "??"
// (one per UTF-16 unit).
std::string toLatin1(std::string_view text);

// Whether text is `ascii` without regard to case, case-folded as Unicode does (so the
// long s matches "s" and the Kelvin sign "k"). `ascii` must be ASCII.
bool equalsIgnoringCase(std::string_view text, std::string_view ascii);

// The length in bytes of the start of text that matches `ascii` as equalsIgnoringCase
// does; nullopt when text does not start so.
std::optional<size_t> prefixIgnoringCase(std::string_view text, std::string_view ascii);

// The text case-folded character by character, as fold folds: names that differ only
// in case fold alike.
std::string folded(std::string_view text);

// Whether a sorts before b by their UTF-16 units, the order QString compares in.
bool utf16Less(std::string_view a, std::string_view b);

// A decimal int with optional sign and ASCII blanks around it; nullopt when it is not one
// or does not fit.
std::optional<int> toInt(std::string_view text);

} // namespace Utf8Text
