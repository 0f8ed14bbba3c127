// The repair of what smbd hands over. Any bytes: no zero byte comes out, and what comes out is
// either the bytes as they came or shorter valid UTF-8 (each restored letter arrived as two or
// three). The input made valid UTF-8 again, as a text typed at smbclient: it goes through
// smbclient and smbd as they work (pieces of 127 bytes of input converted to CP850 by iconv,
// raw where that fails; all of it decoded as CP850; the CR of each CR LF dropped), and where
// every piece went raw the repair gives back exactly what smbclient read, whole characters.

#include "Check.h"

#include "profile/Utf8Text.h"
#include "receiver/TextRepair.h"

#include <algorithm>
#include <optional>

namespace {

std::string withoutCrLf(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
            out += s[i];
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes = fuzz::text(data, size);
    std::string withoutNuls(bytes);
    std::erase(withoutNuls, '\0');
    const std::string repaired = TextRepair::repair(bytes);
    CHECK_THAT(repaired.find('\0') == std::string::npos);
    CHECK_THAT(
        repaired == withoutNuls || (Utf8Text::valid(repaired) == repaired && repaired.size() < withoutNuls.size()));

    // smbclient: every LF as CR LF, at most 1,598 bytes (1,599 when the last is that LF).
    const std::string text = Utf8Text::valid(withoutNuls);
    std::string input;
    for (const char c : text) {
        if (input.size() >= 1598)
            break;
        if (c == '\n')
            input += '\r';
        input += c;
    }
    std::string wire;
    bool allRaw = true;
    for (size_t i = 0; i < input.size(); i += 127) {
        const std::string_view piece = std::string_view(input).substr(i, 127);
        const std::optional<std::string> converted = fuzz::convert("CP850", "UTF-8", piece);
        allRaw = allRaw && !converted;
        wire += converted ? *converted : std::string(piece);
    }
    const std::optional<std::string> decoded = fuzz::convert("UTF-8", "CP850", wire);
    CHECK_THAT(decoded);
    if (!allRaw || input.empty())
        return 0;
    // What smbclient read, short of a character its limit cut.
    std::string read = withoutCrLf(input);
    while (Utf8Text::valid(read) != read)
        read.pop_back();
    CHECK_THAT(TextRepair::repair(withoutCrLf(*decoded)) == read);
    return 0;
}
