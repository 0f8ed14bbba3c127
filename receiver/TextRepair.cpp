#include "receiver/TextRepair.h"

#include "profile/Unicode.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// How a text is recognised. The file is decoded CP850, so each of its characters gives back
// the byte that travelled; every LF travelled as CR LF. Those bytes are cut into smbclient's
// pieces again, each either
//  - converted: CP850 bytes standing for exactly 127 bytes of UTF-8 input (fewer in the last
//    piece), shown as received; or
//  - raw: exactly 127 bytes (fewer in the last piece) that are UTF-8 which smbclient could not
//    have converted: valid UTF-8 except a character cut at either edge (the neighbouring raw
//    piece holding the rest of it), and holding such a cut character or one that CP850 lacks.
// A raw piece is certain, not a guess: a piece that smbclient could have converted went out
// converted, so text that re-encodes to convertible UTF-8 is real CP850 text and stays. And the
// marks of mis-decoding are all required together: every byte from 0x80 up re-encodes into a
// well-formed sequence (a lead among "├┬ÔÕ..." followed by the right number of continuation
// characters among "ñáé▒®..."), with at least one multi-byte sequence. Real Spanish text fails
// this at its first accented letter, whose CP850 byte is a stray continuation byte.
// The pieces are laid out from the first, a raw piece tried before a converted one; where no
// layout ends exactly at the end of the text, or the result is not valid UTF-8, nothing but the
// zero bytes is changed. The only piece allowed to end inside a character is a raw last one at
// smbclient's input limit (1,598 bytes), which cut that character: what came of it is dropped.
namespace TextRepair {

namespace {

// CP850's characters for the bytes 0x80 to 0xFF (the bytes below are ASCII), as glibc's iconv,
// and so smbd, decodes them.
constexpr char16_t kCp850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, //
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, //
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, //
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, //
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, //
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, //
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0, //
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, //
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, //
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, //
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, //
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, //
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, //
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, //
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8, //
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0, //
};

// Bytes of smbclient's input in each piece.
constexpr size_t kPiece = 127;
// smbclient reads at most 1,598 bytes, 1,599 when the last is an LF after its CR.
constexpr size_t kInputCut = 1598;
constexpr size_t kMaxPieces = (kInputCut + 1 + kPiece - 1) / kPiece;

// CP850's byte for c; -1 when CP850 lacks it.
int byteCp850(char32_t c)
{
    if (c < 0x80)
        return int(c);
    const auto *end = std::end(kCp850);
    const auto *p = std::find(std::begin(kCp850), end, char16_t(c));
    return c > 0xFFFF || p == end ? -1 : 0x80 + int(p - std::begin(kCp850));
}

char32_t cp850Character(unsigned char b)
{
    return b < 0x80 ? char32_t(b) : char32_t(kCp850[b - 0x80]);
}

bool continuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// The length of the sequence a lead byte starts; 0 for any other byte.
size_t sequenceLength(unsigned char b)
{
    return b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
}

class Pieces final
{
public:
    explicit Pieces(std::string_view sent)
        : m_w(sent)
        , m_memo((kMaxPieces + 1) * (sent.size() + 1) * 4, kUnknown)
    { }

    // Whether the bytes from pos on lay out as pieces k, k + 1... with `pending` continuation
    // bytes owed to a character the previous raw piece cut.
    bool fits(size_t k, size_t pos, size_t pending)
    {
        if (pos == m_w.size())
            return pending == 0;
        if (k >= kMaxPieces)
            return false;
        uint8_t &memo = m_memo[(k * (m_w.size() + 1) + pos) * 4 + pending];
        if (memo == kUnknown) {
            Step rawHere, convertedHere;
            if (raw(k, pos, pending, rawHere)
                && (rawHere.last || fits(k + 1, pos + rawHere.length, rawHere.pending)))
                memo = kRaw;
            else if (pending == 0 && converted(pos, convertedHere)
                && (convertedHere.last || fits(k + 1, pos + convertedHere.length, 0)))
                memo = kConverted;
            else
                memo = kNo;
        }
        return memo != kNo;
    }

    // The text, following the layout fits() found from the start.
    std::string text()
    {
        std::string out;
        size_t k = 0, pos = 0, pending = 0;
        while (pos < m_w.size()) {
            Step p;
            const bool isRaw = m_memo[(k * (m_w.size() + 1) + pos) * 4 + pending] == kRaw;
            if (isRaw) {
                raw(k, pos, pending, p);
                out.append(m_w.substr(pos, p.length - p.surplus));
            } else {
                converted(pos, p);
                for (const char b : m_w.substr(pos, p.length))
                    Unicode::appendUtf8(out, cp850Character(static_cast<unsigned char>(b)));
            }
            if (p.last)
                break;
            ++k, pos += p.length, pending = p.pending;
        }
        return out;
    }

private:
    static constexpr uint8_t kUnknown = 0, kNo = 1, kRaw = 2, kConverted = 3;

    struct Step
    {
        size_t length = 0; // bytes of the piece
        size_t pending = 0; // continuation bytes it leaves owed to the next piece
        size_t surplus = 0; // bytes of a character cut by smbclient's limit, at its end
        bool last = false; // the text ends with it
    };

    // Piece k at pos as raw UTF-8 that CP850 could not take.
    bool raw(size_t k, size_t pos, size_t pending, Step &p) const
    {
        const std::string_view s = m_w.substr(pos, kPiece);
        size_t i = 0;
        while (i < s.size() && i <= pending && continuation(static_cast<unsigned char>(s[i])))
            ++i;
        if (i != pending)
            return false;
        bool unconvertible = pending > 0;
        while (i < s.size()) {
            const size_t length = sequenceLength(static_cast<unsigned char>(s[i]));
            if (length == 0)
                return false;
            if (i + length > s.size()) {
                // Cut at the piece's edge: what is there must be the start of a sequence.
                for (size_t j = i + 1; j < s.size(); ++j) {
                    if (!continuation(static_cast<unsigned char>(s[j])))
                        return false;
                }
                p.pending = i + length - s.size();
                p.surplus = s.size() - i;
                unconvertible = true;
                break;
            }
            char32_t c = 0;
            if (Unicode::readUtf8(s, i, c) != int(length))
                return false;
            unconvertible = unconvertible || byteCp850(c) < 0;
            i += length;
        }
        p.length = s.size();
        p.last = pos + s.size() == m_w.size();
        if (p.last && p.pending > 0) {
            // Only smbclient's own limit ends a text inside a character.
            if (k * kPiece + s.size() < kInputCut)
                return false;
            p.pending = 0;
        } else {
            p.surplus = 0;
        }
        return unconvertible;
    }

    // Piece at pos as CP850 bytes for exactly kPiece bytes of UTF-8, or fewer at the end.
    bool converted(size_t pos, Step &p) const
    {
        size_t input = 0;
        size_t j = pos;
        while (j < m_w.size() && input < kPiece) {
            const char32_t c = cp850Character(static_cast<unsigned char>(m_w[j++]));
            input += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        }
        p.length = j - pos;
        p.last = j == m_w.size();
        return input <= kPiece;
    }

    std::string_view m_w;
    std::vector<uint8_t> m_memo;
};

} // namespace

std::string repair(std::string_view bytes)
{
    std::string received;
    received.reserve(bytes.size());
    std::copy_if(bytes.begin(), bytes.end(), std::back_inserter(received), [](char b) { return b != '\0'; });

    // The bytes that travelled: smbclient's input, short of what it could not convert.
    std::string sent;
    sent.reserve(received.size() + received.size() / 8);
    bool beyondAscii = false;
    for (size_t pos = 0; pos < received.size();) {
        char32_t c = 0;
        const int length = Unicode::readUtf8(received, pos, c);
        const int b = length == 0 ? -1 : byteCp850(c);
        if (b < 0)
            return received; // not smbd's CP850 decoding
        if (c == U'\n')
            sent += '\r';
        sent += char(b);
        beyondAscii = beyondAscii || b >= 0x80;
        pos += size_t(length);
        if (sent.size() > kInputCut + 1)
            return received; // more than smbclient sends
    }
    if (!beyondAscii)
        return received;

    Pieces pieces(sent);
    if (!pieces.fits(0, 0, 0))
        return received;
    std::string text = pieces.text();
    // smbd drops the CR of each CR LF.
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    }
    for (size_t pos = 0; pos < out.size();) {
        char32_t c = 0;
        const int length = Unicode::readUtf8(out, pos, c);
        if (length == 0)
            return received;
        pos += size_t(length);
    }
    return out;
}

} // namespace TextRepair
