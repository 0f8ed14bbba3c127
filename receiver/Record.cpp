#include "receiver/Record.h"

#include "profile/Utf8Text.h"

#include <charconv>

namespace Record {

namespace {

constexpr std::string_view kHeader = "velrisa-mensaje 1\n";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
// Ten digits, as in the file names: up to the year 2286.
constexpr int64_t kMaxSeconds = 9999999999;

// Characters past maximum are dropped; isText keeps LF and tab and turns every CR (alone
// or before LF) into one LF.
std::string clean(std::string_view bytes, size_t maximum, bool isText, bool *cut)
{
    const std::string valid = Utf8Text::valid(bytes);
    std::string out;
    out.reserve(valid.size());
    size_t characters = 0;
    size_t pos = 0;
    while (pos < valid.size() && characters < maximum) {
        const size_t start = pos;
        const char32_t c = Utf8Text::next(valid, pos);
        if (isText && c == U'\r') {
            if (pos < valid.size() && valid[pos] == '\n')
                ++pos;
            out += '\n';
        } else if (Utf8Text::isControl(c) && !(isText && (c == U'\n' || c == U'\t'))) {
            out += kReplacement;
        } else {
            out.append(valid, start, pos - start);
        }
        ++characters;
    }
    if (cut)
        *cut = pos < valid.size();
    return out;
}

// The value of the line "clave: value\n" at the start of bytes, which it then leaves.
std::optional<std::string_view> line(std::string_view &bytes, std::string_view key)
{
    if (bytes.substr(0, key.size()) != key || bytes.substr(key.size(), 2) != ": ")
        return std::nullopt;
    bytes.remove_prefix(key.size() + 2);
    const size_t end = bytes.find('\n');
    if (end == std::string_view::npos)
        return std::nullopt;
    const std::string_view value = bytes.substr(0, end);
    bytes.remove_prefix(end + 1);
    return value;
}

// Plain decimal digits, nothing else, as std::from_chars reads them.
template <typename T> bool number(std::string_view text, T &value)
{
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::string digits(int64_t value, int width)
{
    std::string s = std::to_string(value);
    if (int(s.size()) < width)
        s.insert(0, size_t(width) - s.size(), '0');
    return s;
}

} // namespace

std::string cleanName(std::string_view bytes, bool *cut)
{
    return clean(bytes, kMaxNameChars, false, cut);
}

std::string cleanText(std::string_view bytes, bool *cut)
{
    return clean(bytes, kMaxTextChars, true, cut);
}

std::string legible(std::string_view bytes)
{
    return clean(bytes, std::string_view::npos, false, nullptr);
}

std::string compose(const Message &m)
{
    std::string out;
    out.reserve(
        kHeader.size() + m.from.size() + m.to.size() + m.computer.size() + m.address.size() + m.text.size() + 128);
    out += kHeader;
    out += "De: " + m.from + '\n';
    out += "Para: " + m.to + '\n';
    if (!m.computer.empty())
        out += "Equipo: " + m.computer + '\n';
    if (!m.address.empty())
        out += "Direccion: " + m.address + '\n';
    out += "Llegada: " + std::to_string(m.seconds) + '.' + digits(m.nanoseconds, 9) + '\n';
    out += std::string("Cortado: ") + (m.cut ? '1' : '0') + '\n';
    out += "Longitud: " + std::to_string(m.text.size()) + "\n\n";
    out += m.text;
    return out;
}

std::optional<Message> parse(std::string_view bytes)
{
    if (bytes.size() > kMaxRecordBytes || bytes.substr(0, kHeader.size()) != kHeader)
        return std::nullopt;
    bytes.remove_prefix(kHeader.size());
    const auto from = line(bytes, "De");
    const auto to = line(bytes, "Para");
    // Records written before the sending computer was known have neither line.
    const auto computer = line(bytes, "Equipo");
    const auto address = line(bytes, "Direccion");
    const auto arrival = line(bytes, "Llegada");
    const auto cut = from && to && arrival ? line(bytes, "Cortado") : std::nullopt;
    const auto lengthField = cut ? line(bytes, "Longitud") : std::nullopt;
    if (!lengthField || bytes.substr(0, 1) != "\n")
        return std::nullopt;
    bytes.remove_prefix(1);

    Message m;
    const size_t point = arrival->find('.');
    size_t length = 0;
    if (point == std::string_view::npos || arrival->size() - point - 1 != 9
        || !number(arrival->substr(0, point), m.seconds) || m.seconds > kMaxSeconds
        || !number(arrival->substr(point + 1), m.nanoseconds) || (*cut != "0" && *cut != "1")
        || !number(*lengthField, length) || length != bytes.size())
        return std::nullopt;
    m.cut = *cut == "1";
    m.from = std::string(*from);
    m.to = std::string(*to);
    m.computer = std::string(computer.value_or(std::string_view()));
    m.address = std::string(address.value_or(std::string_view()));
    m.text = std::string(bytes);
    // Exactly what the receiver writes: anything it would have had to clean is refused.
    bool longName = false;
    bool longText = false;
    if (cleanName(m.from, &longName) != m.from || longName || cleanName(m.to, &longName) != m.to
        || longName || cleanName(m.computer, &longName) != m.computer || longName
        || cleanName(m.address, &longName) != m.address || longName || (computer && m.computer.empty())
        || (address && m.address.empty()) || cleanText(m.text, &longText) != m.text || longText)
        return std::nullopt;
    return m;
}

std::string fileName(int64_t seconds, int32_t nanoseconds, long pid)
{
    return 'm' + digits(seconds, 10) + '.' + digits(nanoseconds, 9) + '.' + std::to_string(pid);
}

bool isRecordName(std::string_view name, int64_t *seconds, int32_t *nanoseconds)
{
    // m + 10 digits + . + 9 digits + . + 1 to 10 digits
    if (name.size() < 23 || name.size() > 32 || name[0] != 'm' || name[11] != '.' || name[21] != '.')
        return false;
    int64_t s = 0;
    int32_t ns = 0;
    long pid = 0;
    if (!number(name.substr(1, 10), s) || !number(name.substr(12, 9), ns) || !number(name.substr(22), pid))
        return false;
    if (seconds)
        *seconds = s;
    if (nanoseconds)
        *nanoseconds = ns;
    return true;
}

} // namespace Record
