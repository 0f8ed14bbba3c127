#include "net/MessageText.h"

#include <QList>
#include <QStringView>

#include <cerrno>
#include <iconv.h>

namespace {

// One iconv descriptor, closed on every path.
class Converter
{
public:
    explicit Converter(const QString &codePage)
        : m_cd(iconv_open(codePage.toLatin1().constData(), "UTF-8"))
    { }
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // The character in the code page, or an empty array when the code page has no such
    // character (iconv would otherwise leave smbclient to send the raw UTF-8 bytes).
    QByteArray convert(const QString &character)
    {
        QByteArray in = character.toUtf8();
        char out[16];
        char *inPtr = in.data();
        size_t inLeft = size_t(in.size());
        char *outPtr = out;
        size_t outLeft = sizeof out;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0)
            return {};
        // Stateful code pages end with a shift back to the initial state.
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
        return QByteArray(out, int(outPtr - out));
    }

private:
    iconv_t m_cd;
};

} // namespace

MessageText::Prepared MessageText::prepare(const QString &text, const QString &codePage)
{
    Prepared result;
    Converter converter(codePage);
    if (!converter.valid()) {
        result.codePageKnown = false;
        return result;
    }

    // Walk whole code points, so a surrogate pair is one character and never cut in two.
    int wireBytes = 0;
    int pos = 0;
    while (pos < text.size()) {
        const int length
            = (text.at(pos).isHighSurrogate() && pos + 1 < text.size() && text.at(pos + 1).isLowSurrogate()) ? 2 : 1;
        const QString character = text.mid(pos, length);
        QByteArray bytes;
        if (character == QLatin1String("\n")) {
            bytes = "\n";
        } else {
            bytes = converter.convert(character);
            if (bytes.isEmpty()) {
                if (!result.unmappable.contains(character))
                    result.unmappable += character;
                bytes = "?";
            }
        }
        const int cost = bytes.size() + (bytes == "\n" ? 1 : 0);
        if (wireBytes + cost > maxWireBytes) {
            // Count what is left as characters the user typed, not UTF-16 units.
            const QString rest = text.mid(pos);
            result.droppedChars = int(rest.toUcs4().size());
            break;
        }
        wireBytes += cost;
        result.bytes += bytes;
        pos += length;
    }
    return result;
}
