#pragma once

#include <optional>
#include <string>
#include <string_view>

// The line syntax of profile files, on raw Windows-1252 bytes and without Qt: what makes a
// line a section header or a key, and how a value is written and read back. IniDocument
// builds on it, and the `net` command reads net.ini through it.
namespace IniSyntax {

// The length of the line at the start of text, its line end included. As on Windows, a line
// ends after LF, after CR LF, and after a CR alone (files saved the old Mac way).
size_t lineLength(std::string_view text);

// The line without its line end (LF, CR LF, or a CR alone).
std::string_view withoutLineEnd(std::string_view line);

// Without the blanks (space, tab) at either end.
std::string_view trim(std::string_view text);

struct Line
{
    enum class Kind { Other, Section, Key };
    Kind kind = Kind::Other;
    std::string_view name; // section or key name, blanks removed
};

// What a line is, given without its line end. A key line counts only inside a section;
// that is the caller's to know.
Line parse(std::string_view line);

// The value of a key line (without its line end), as it is handed back: blanks around
// it removed and matching double quotes dropped.
std::string_view value(std::string_view line);

// Whether a value, already in the code page, must be written in double quotes so that it
// reads back as itself.
bool needsQuotes(std::string_view value);

// Whether a name, already in the code page, can be written and read back as itself.
bool validName(std::string_view name, bool isSection);

// Whether two names in the code page are the same without regard to case.
bool sameName(std::string_view a, std::string_view b);

// A hash of a name in the code page that agrees with sameName: the same names, the same hash.
size_t fingerprint(std::string_view name, size_t salt = 0);

// The value of key in section of a whole file: names in the code page, the first of
// duplicated sections or keys wins (a later duplicate section is hidden whole). The value
// comes back in the code page; nullopt when section or key is absent.
std::optional<std::string_view> search(std::string_view file, std::string_view section, std::string_view key);

} // namespace IniSyntax
