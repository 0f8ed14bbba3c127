#include "profile/Utf8Text.h"

#include "profile/Unicode.h"

#include <climits>

namespace Utf8Text {

bool isAsciiBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string valid(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t pos = 0; pos < bytes.size();) {
        char32_t c = 0;
        const int length = Unicode::readUtf8(bytes, pos, c);
        if (length == 0) {
            Unicode::appendUtf8(out, 0xFFFD);
            ++pos;
        } else {
            out.append(bytes.substr(pos, size_t(length)));
            pos += size_t(length);
        }
    }
    return out;
}

char32_t next(std::string_view text, size_t &pos)
{
    char32_t c = 0xFFFD;
    const int length = Unicode::readUtf8(text, pos, c);
    pos += length == 0 ? 1 : size_t(length);
    return length == 0 ? 0xFFFD : c;
}

bool isSpace(char32_t c)
{
    if (c < 0x80)
        return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029
        || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

std::string printable(std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const char32_t c = next(text, pos);
        if (c == U'\n') {
            out += "\\n";
        } else if (c == U'\r') {
            out += "\\r";
        } else if (c == U'\t') {
            out += "\\t";
        } else if (isControl(c)) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else if (c == 0x2028 || c == 0x2029) {
            out += c == 0x2028 ? "\\u2028" : "\\u2029";
        } else {
            Unicode::appendUtf8(out, c);
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t pos = start;
        if (!isSpace(next(text, pos)))
            break;
        start = pos;
    }
    text.remove_prefix(start);
    // Walk forward, remembering where the last non-blank character ended.
    size_t end = 0;
    for (size_t pos = 0; pos < text.size();) {
        if (!isSpace(next(text, pos)))
            end = pos;
    }
    return text.substr(0, end);
}

size_t characters(std::string_view text)
{
    size_t count = 0;
    for (size_t pos = 0; pos < text.size(); ++count)
        next(text, pos);
    return count;
}

size_t utf16Length(std::string_view text)
{
    size_t count = 0;
    for (size_t pos = 0; pos < text.size();)
        count += next(text, pos) > 0xFFFF ? 2 : 1;
    return count;
}

std::string toLatin1(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        const char32_t c = next(text, pos);
        if (c <= 0xFF)
            out += char(c);
        else
            out.append(c > 0xFFFF ? "??" : "?"); // one per UTF-16 unit
    }
    return out;
}

std::optional<size_t> prefixIgnoringCase(std::string_view text, std::string_view ascii)
{
    size_t pos = 0;
    for (const char a : ascii) {
        if (pos >= text.size())
            return std::nullopt;
        if (Unicode::fold(next(text, pos)) != Unicode::fold(char32_t(static_cast<unsigned char>(a))))
            return std::nullopt;
    }
    return pos;
}

bool equalsIgnoringCase(std::string_view text, std::string_view ascii)
{
    const auto length = prefixIgnoringCase(text, ascii);
    return length && *length == text.size();
}

std::string folded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();)
        Unicode::appendUtf8(out, Unicode::fold(next(text, pos)));
    return out;
}

bool utf16Less(std::string_view a, std::string_view b)
{
    const auto units = [](std::string_view text) {
        std::u16string out;
        for (size_t pos = 0; pos < text.size();) {
            const char32_t c = next(text, pos);
            if (c > 0xFFFF) {
                out += char16_t(0xD800 + ((c - 0x10000) >> 10));
                out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                out += char16_t(c);
            }
        }
        return out;
    };
    return units(a) < units(b);
}

std::optional<int> toInt(std::string_view text)
{
    while (!text.empty() && isAsciiBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isAsciiBlank(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        return std::nullopt;
    return int(value);
}

} // namespace Utf8Text
