#include "profile/IniSyntax.h"

#include "profile/Cp1252Table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace IniSyntax {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

size_t lineLength(std::string_view text)
{
    // The library's searches, in windows that double: a search for LF alone would run to the
    // end of a file that has none at every line of it.
    const char *const start = text.data();
    size_t from = 0;
    for (size_t window = 256;; window *= 2) {
        const size_t until = std::min(text.size(), from + window);
        const void *lf = std::memchr(start + from, '\n', until - from);
        const size_t lfEnd = lf ? size_t(static_cast<const char *>(lf) - start) : until;
        if (const void *cr = std::memchr(start + from, '\r', lfEnd - from)) {
            const size_t i = size_t(static_cast<const char *>(cr) - start);
            return i + 1 < text.size() && start[i + 1] == '\n' ? i + 2 : i + 1;
        }
        if (lf)
            return lfEnd + 1;
        if (until == text.size())
            return until;
        from = until;
    }
}

std::string_view withoutLineEnd(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

Line parse(std::string_view line)
{
    line = trim(line);
    if (!line.empty() && line.front() == '[') {
        const size_t closing = line.find(']');
        return { Line::Kind::Section, trim(line.substr(1, (closing == line.npos ? line.size() : closing) - 1)) };
    }
    const size_t equal = line.find('=');
    if (line.empty() || line.front() == ';' || equal == line.npos || equal == 0)
        return {};
    return { Line::Kind::Key, trim(line.substr(0, equal)) };
}

std::string_view value(std::string_view line)
{
    line = trim(line);
    std::string_view v = trim(line.substr(line.find('=') + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.substr(1, v.size() - 2);
    return v;
}

bool needsQuotes(std::string_view v)
{
    // Blanks at either end, or a value in quotes, would be lost on reading: quotes keep them.
    return !v.empty()
        && (isBlank(v.front()) || isBlank(v.back()) || (v.size() >= 2 && v.front() == '"' && v.back() == '"'));
}

bool validName(std::string_view name, bool isSection)
{
    const std::string_view v = trim(name);
    if (v.empty() || v.find_first_of(std::string_view("\n\r\0", 3)) != v.npos)
        return false;
    if (isSection)
        return v.find(']') == v.npos;
    return v.find('=') == v.npos && v.front() != '[' && v.front() != ';';
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]
            && Cp1252Table::folded(static_cast<unsigned char>(a[i]))
                != Cp1252Table::folded(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

size_t fingerprint(std::string_view name, size_t salt)
{
    // FNV-1a over the folded characters, then a final mix so that the low bits spread well.
    uint64_t h = 14695981039346656037ULL ^ uint64_t(salt);
    for (const char c : name) {
        h ^= Cp1252Table::folded(static_cast<unsigned char>(c));
        h *= 1099511628211ULL;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return size_t(h);
}

std::optional<std::string_view> search(std::string_view file, std::string_view section, std::string_view key)
{
    section = trim(section);
    key = trim(key);
    bool inside = false; // in the first section of that name; the search ends with it
    size_t pos = 0;
    while (pos < file.size()) {
        const size_t length = lineLength(file.substr(pos));
        const std::string_view line = withoutLineEnd(file.substr(pos, length));
        pos += length;
        const Line l = parse(line);
        if (l.kind == Line::Kind::Section) {
            if (inside)
                return std::nullopt;
            inside = sameName(l.name, section);
        } else if (inside && l.kind == Line::Kind::Key && sameName(l.name, key)) {
            return value(line);
        }
    }
    return std::nullopt;
}

} // namespace IniSyntax
