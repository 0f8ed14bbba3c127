#include "receiver/ReparaTexto.h"

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
namespace ReparaTexto {

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
constexpr size_t kPieza = 127;
// smbclient reads at most 1,598 bytes, 1,599 when the last is an LF after its CR.
constexpr size_t kCorteEntrada = 1598;
constexpr size_t kMaxPiezas = (kCorteEntrada + 1 + kPieza - 1) / kPieza;

// CP850's byte for c; -1 when CP850 lacks it.
int byteCp850(char32_t c)
{
    if (c < 0x80)
        return int(c);
    const auto *fin = std::end(kCp850);
    const auto *p = std::find(std::begin(kCp850), fin, char16_t(c));
    return c > 0xFFFF || p == fin ? -1 : 0x80 + int(p - std::begin(kCp850));
}

char32_t caracterCp850(unsigned char b)
{
    return b < 0x80 ? char32_t(b) : char32_t(kCp850[b - 0x80]);
}

bool continuacion(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// The length of the sequence a lead byte starts; 0 for any other byte.
size_t largoSecuencia(unsigned char b)
{
    return b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
}

class Piezas final
{
public:
    explicit Piezas(std::string_view enviado)
        : m_w(enviado)
        , m_memo((kMaxPiezas + 1) * (enviado.size() + 1) * 4, kDesconocido)
    { }

    // Whether the bytes from pos on lay out as pieces k, k + 1... with `pendientes` continuation
    // bytes owed to a character the previous raw piece cut.
    bool cabe(size_t k, size_t pos, size_t pendientes)
    {
        if (pos == m_w.size())
            return pendientes == 0;
        if (k >= kMaxPiezas)
            return false;
        uint8_t &memo = m_memo[(k * (m_w.size() + 1) + pos) * 4 + pendientes];
        if (memo == kDesconocido) {
            Paso crudoAqui, convertidoAqui;
            if (crudo(k, pos, pendientes, crudoAqui)
                && (crudoAqui.ultimo || cabe(k + 1, pos + crudoAqui.largo, crudoAqui.pendientes)))
                memo = kCrudo;
            else if (pendientes == 0 && convertido(pos, convertidoAqui)
                && (convertidoAqui.ultimo || cabe(k + 1, pos + convertidoAqui.largo, 0)))
                memo = kConvertido;
            else
                memo = kNo;
        }
        return memo != kNo;
    }

    // The text, following the layout cabe() found from the start.
    std::string texto()
    {
        std::string out;
        size_t k = 0, pos = 0, pendientes = 0;
        while (pos < m_w.size()) {
            Paso p;
            const bool esCrudo = m_memo[(k * (m_w.size() + 1) + pos) * 4 + pendientes] == kCrudo;
            if (esCrudo) {
                crudo(k, pos, pendientes, p);
                out.append(m_w.substr(pos, p.largo - p.sobrante));
            } else {
                convertido(pos, p);
                for (const char b : m_w.substr(pos, p.largo))
                    Unicode::anadirUtf8(out, caracterCp850(static_cast<unsigned char>(b)));
            }
            if (p.ultimo)
                break;
            ++k, pos += p.largo, pendientes = p.pendientes;
        }
        return out;
    }

private:
    static constexpr uint8_t kDesconocido = 0, kNo = 1, kCrudo = 2, kConvertido = 3;

    struct Paso
    {
        size_t largo = 0; // bytes of the piece
        size_t pendientes = 0; // continuation bytes it leaves owed to the next piece
        size_t sobrante = 0; // bytes of a character cut by smbclient's limit, at its end
        bool ultimo = false; // the text ends with it
    };

    // Piece k at pos as raw UTF-8 that CP850 could not take.
    bool crudo(size_t k, size_t pos, size_t pendientes, Paso &p) const
    {
        const std::string_view s = m_w.substr(pos, kPieza);
        size_t i = 0;
        while (i < s.size() && i <= pendientes && continuacion(static_cast<unsigned char>(s[i])))
            ++i;
        if (i != pendientes)
            return false;
        bool inconvertible = pendientes > 0;
        while (i < s.size()) {
            const size_t largo = largoSecuencia(static_cast<unsigned char>(s[i]));
            if (largo == 0)
                return false;
            if (i + largo > s.size()) {
                // Cut at the piece's edge: what is there must be the start of a sequence.
                for (size_t j = i + 1; j < s.size(); ++j) {
                    if (!continuacion(static_cast<unsigned char>(s[j])))
                        return false;
                }
                p.pendientes = i + largo - s.size();
                p.sobrante = s.size() - i;
                inconvertible = true;
                break;
            }
            char32_t c = 0;
            if (Unicode::leerUtf8(s, i, c) != int(largo))
                return false;
            inconvertible = inconvertible || byteCp850(c) < 0;
            i += largo;
        }
        p.largo = s.size();
        p.ultimo = pos + s.size() == m_w.size();
        if (p.ultimo && p.pendientes > 0) {
            // Only smbclient's own limit ends a text inside a character.
            if (k * kPieza + s.size() < kCorteEntrada)
                return false;
            p.pendientes = 0;
        } else {
            p.sobrante = 0;
        }
        return inconvertible;
    }

    // Piece at pos as CP850 bytes for exactly kPieza bytes of UTF-8, or fewer at the end.
    bool convertido(size_t pos, Paso &p) const
    {
        size_t entrada = 0;
        size_t j = pos;
        while (j < m_w.size() && entrada < kPieza) {
            const char32_t c = caracterCp850(static_cast<unsigned char>(m_w[j++]));
            entrada += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        }
        p.largo = j - pos;
        p.ultimo = j == m_w.size();
        return entrada <= kPieza;
    }

    std::string_view m_w;
    std::vector<uint8_t> m_memo;
};

} // namespace

std::string reparar(std::string_view bytes)
{
    std::string recibido;
    recibido.reserve(bytes.size());
    std::copy_if(bytes.begin(), bytes.end(), std::back_inserter(recibido), [](char b) { return b != '\0'; });

    // The bytes that travelled: smbclient's input, short of what it could not convert.
    std::string enviado;
    enviado.reserve(recibido.size() + recibido.size() / 8);
    bool alto = false;
    for (size_t pos = 0; pos < recibido.size();) {
        char32_t c = 0;
        const int largo = Unicode::leerUtf8(recibido, pos, c);
        const int b = largo == 0 ? -1 : byteCp850(c);
        if (b < 0)
            return recibido; // not smbd's CP850 decoding
        if (c == U'\n')
            enviado += '\r';
        enviado += char(b);
        alto = alto || b >= 0x80;
        pos += size_t(largo);
        if (enviado.size() > kCorteEntrada + 1)
            return recibido; // more than smbclient sends
    }
    if (!alto)
        return recibido;

    Piezas piezas(enviado);
    if (!piezas.cabe(0, 0, 0))
        return recibido;
    std::string texto = piezas.texto();
    // smbd drops the CR of each CR LF.
    std::string out;
    out.reserve(texto.size());
    for (size_t i = 0; i < texto.size(); ++i) {
        if (!(texto[i] == '\r' && i + 1 < texto.size() && texto[i + 1] == '\n'))
            out += texto[i];
    }
    for (size_t pos = 0; pos < out.size();) {
        char32_t c = 0;
        const int largo = Unicode::leerUtf8(out, pos, c);
        if (largo == 0)
            return recibido;
        pos += size_t(largo);
    }
    return out;
}

} // namespace ReparaTexto
