// A message as net gets it (any bytes made valid UTF-8), the first byte choosing the code page.
// What goes to smbclient never takes more than 1,598 bytes on the wire (a line end counts two),
// holds whole characters only (it converts back without a cut sequence), is the start of the
// message with each character the page lacks as "?", and is cut only where the next character
// would not fit; the report of what was cut and replaced is exact.

#include "Check.h"

#include "net/MessageText.h"
#include "profile/Utf8Text.h"

#include <algorithm>

namespace {

struct CodePage
{
    const char *name;
    bool singleByte; // one byte for every character, and back to the same character
};

constexpr CodePage kCodePages[] = {
    { "CP850", true },
    { "CP437", true },
    { "CP1252", true },
    { "ASCII", true },
    { "UTF-8", false },
    { "CP932", false },
    { "NO-EXISTE", false },
};

std::vector<std::string_view> splitCharacters(std::string_view text)
{
    std::vector<std::string_view> all;
    for (size_t pos = 0; pos < text.size();) {
        const size_t start = pos;
        Utf8Text::next(text, pos);
        all.push_back(text.substr(start, pos - start));
    }
    return all;
}

size_t wireBytes(std::string_view bytes)
{
    return bytes.size() + size_t(std::count(bytes.begin(), bytes.end(), '\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const CodePage &page = kCodePages[data[0] % std::size(kCodePages)];
    const std::string text = Utf8Text::valid(fuzz::text(data + 1, size - 1));
    const MessageText::Prepared p = MessageText::prepare(text, page.name);

    const bool known = fuzz::convert(page.name, "UTF-8", "").has_value();
    CHECK_THAT(p.codePageKnown == known);
    if (!known) {
        CHECK_THAT(p.bytes.empty());
        return 0;
    }
    CHECK_THAT(wireBytes(p.bytes) <= size_t(MessageText::kMaxWireBytes));

    // The characters the page lacks, each once, each one that does not convert and was sent.
    const std::vector<std::string_view> unmappable = splitCharacters(p.unmappable);
    for (size_t i = 0; i < unmappable.size(); ++i) {
        CHECK_THAT(std::count(unmappable.begin(), unmappable.end(), unmappable[i]) == 1);
        CHECK_THAT(unmappable[i] != "\n" && !fuzz::convert(page.name, "UTF-8", unmappable[i]));
    }

    // Whole characters: the bytes convert back, and as many characters as were kept.
    const std::optional<std::string> convertedBack = fuzz::convert("UTF-8", page.name, p.bytes);
    CHECK_THAT(convertedBack.has_value());
    const std::vector<std::string_view> all = splitCharacters(text);
    CHECK_THAT(p.droppedChars >= 0 && size_t(p.droppedChars) <= all.size());
    const size_t kept = all.size() - size_t(p.droppedChars);
    CHECK_THAT(Utf8Text::characters(*convertedBack) == kept);
    for (const std::string_view c : unmappable)
        CHECK_THAT(std::find(all.begin(), all.begin() + std::ptrdiff_t(kept), c) != all.begin() + std::ptrdiff_t(kept));

    // The start of the message, "?" for what the page lacks.
    std::string expected;
    for (size_t i = 0; i < kept; ++i) {
        const bool lacking = std::find(unmappable.begin(), unmappable.end(), all[i]) != unmappable.end();
        expected += lacking ? std::string_view("?") : all[i];
    }
    if (page.singleByte || std::string_view(page.name) == "UTF-8")
        CHECK_THAT(*convertedBack == expected);

    // Cut only where the next character would not fit.
    if (p.droppedChars > 0 && (page.singleByte || std::string_view(page.name) == "UTF-8")) {
        const std::string_view next = all[kept];
        const bool lacking = std::find(unmappable.begin(), unmappable.end(), next) != unmappable.end();
        const size_t cost = page.singleByte || lacking ? wireBytes(next.substr(0, 1)) : wireBytes(next);
        CHECK_THAT(wireBytes(p.bytes) + cost > size_t(MessageText::kMaxWireBytes));
    }
    return 0;
}
