#include "net/MessageText.h"

#include "profile/Utf8Text.h"

#include <cerrno>
#include <iconv.h>

namespace {

// One iconv descriptor, closed on every path.
class Converter
{
public:
    explicit Converter(std::string_view codePage)
        : m_cd(iconv_open(Utf8Text::toLatin1(codePage).c_str(), "UTF-8"))
    { }
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // The character in the code page, or an empty string when the code page has no such
    // character (iconv would otherwise leave smbclient to send the raw UTF-8 bytes).
    std::string convert(std::string_view character)
    {
        std::string in(character);
        char out[16];
        char *inPtr = in.data();
        size_t inLeft = in.size();
        char *outPtr = out;
        size_t outLeft = sizeof out;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0)
            return {};
        // Stateful code pages end with a shift back to the initial state.
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
        return std::string(out, size_t(outPtr - out));
    }

private:
    iconv_t m_cd;
};

} // namespace

MessageText::Prepared MessageText::prepare(std::string_view text, std::string_view codePage)
{
    Prepared result;
    Converter converter(codePage);
    if (!converter.valid()) {
        result.codePageKnown = false;
        return result;
    }
    // Walk whole characters, so that none is ever cut in two.
    int wireBytes = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = pos;
        Utf8Text::next(text, end);
        const std::string_view character = text.substr(pos, end - pos);
        std::string bytes;
        bool mapped = true;
        if (character == "\n") {
            bytes.assign(1, '\n');
        } else {
            bytes = converter.convert(character);
            if (bytes.empty()) {
                mapped = false;
                bytes.assign(1, '?');
            }
        }
        const int cost = int(bytes.size()) + (bytes == "\n" ? 1 : 0);
        if (wireBytes + cost > kMaxWireBytes) {
            // Count what is left as characters the user typed, not bytes.
            result.droppedChars = int(Utf8Text::characters(text.substr(pos)));
            break;
        }
        // Only what is sent as "?" is reported so; a character cut off is reported as cut.
        if (!mapped && result.unmappable.find(character) == std::string::npos)
            result.unmappable += character;
        wireBytes += cost;
        result.bytes += bytes;
        pos = end;
    }
    return result;
}

std::optional<std::string> MessageText::toUtf8(std::string_view bytes, std::string_view codePage)
{
    const iconv_t cd = iconv_open("UTF-8", Utf8Text::toLatin1(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in(bytes);
    std::string out(bytes.size() * 4 + 16, '\0');
    char *inPtr = in.data();
    size_t inLeft = in.size();
    char *outPtr = out.data();
    size_t outLeft = out.size();
    const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1) && inLeft == 0;
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}
