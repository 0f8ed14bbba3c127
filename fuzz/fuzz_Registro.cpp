// The mailbox's records. Any bytes as a record file: what is taken for a record is written back
// as the same record. Any bytes as the sender, the called name and the text (NUL between them):
// cleaned, they make a record that reads back whole and fits the reader's bound. Cleaning gives
// valid UTF-8 without control characters (LF and tab aside in a text) within the limits, and
// cleaning it again changes nothing.

#include "Comprobar.h"

#include "profile/Utf8Text.h"
#include "receiver/Registro.h"

#include <QString>

#include <algorithm>

namespace {

bool same(const Registro::Mensaje &a, const Registro::Mensaje &b)
{
    return a.de == b.de && a.para == b.para && a.segundos == b.segundos && a.nanosegundos == b.nanosegundos
        && a.cortado == b.cortado && a.texto == b.texto && a.equipo == b.equipo && a.direccion == b.direccion;
}

bool clean(const std::string &s, bool isText)
{
    if (Utf8Text::valid(s) != s)
        return false;
    for (size_t pos = 0; pos < s.size();) {
        const char32_t c = Utf8Text::next(s, pos);
        if (Utf8Text::isControl(c) && !(isText && (c == U'\n' || c == U'\t')))
            return false;
    }
    return Utf8Text::characters(s) <= (isText ? Registro::kMaxCaracteresTexto : Registro::kMaxCaracteresNombre);
}

std::string cleanAndCheck(std::string_view bytes, bool isText, bool &cut)
{
    const std::string firstPass = isText ? Registro::limpiarTexto(bytes, &cut) : Registro::limpiarNombre(bytes, &cut);
    COMPROBAR(clean(firstPass, isText));
    if (isText && !cut) {
        // Every line end kept: CR LF, a lone CR and LF each become one LF.
        const QString q = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
        const qsizetype lineEnds
            = q.count(QLatin1Char('\n')) + q.count(QLatin1Char('\r')) - q.count(QLatin1String("\r\n"));
        COMPROBAR(std::count(firstPass.begin(), firstPass.end(), '\n') == lineEnds);
    }
    bool cutAgain = true;
    COMPROBAR((isText ? Registro::limpiarTexto(firstPass, &cutAgain) : Registro::limpiarNombre(firstPass, &cutAgain))
        == firstPass);
    COMPROBAR(!cutAgain);
    return firstPass;
}

void readsBackWhole(const Registro::Mensaje &m)
{
    const std::string record = Registro::componer(m);
    COMPROBAR(record.size() <= Registro::kMaxBytesRegistro);
    const std::optional<Registro::Mensaje> readBack = Registro::analizar(record);
    COMPROBAR(readBack && same(*readBack, m));
}

uint64_t number(std::string_view bytes)
{
    uint64_t n = 0;
    for (const char c : bytes.substr(0, 8))
        n = (n << 8) | static_cast<unsigned char>(c);
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes = fuzz::texto(data, size);

    if (const std::optional<Registro::Mensaje> m = Registro::analizar(bytes))
        readsBackWhole(*m);

    const std::vector<std::string_view> parts = fuzz::partir(bytes, '\0');
    bool fromCut = false, toCut = false, textCut = false;
    Registro::Mensaje m;
    m.de = cleanAndCheck(parts[0], false, fromCut);
    m.para = cleanAndCheck(parts.size() > 1 ? parts[1] : std::string_view(), false, toCut);
    m.texto = cleanAndCheck(parts.size() > 2 ? parts[2] : std::string_view(), true, textCut);
    m.cortado = textCut;
    bool computerCut = false;
    m.equipo = cleanAndCheck(parts.size() > 3 ? parts[3] : std::string_view(), false, computerCut);
    m.direccion = cleanAndCheck(parts.size() > 4 ? parts[4] : std::string_view(), false, computerCut);
    const uint64_t n = number(bytes);
    m.segundos = int64_t(n % 10000000000ULL);
    m.nanosegundos = int32_t(n % 1000000000ULL);
    readsBackWhole(m);

    const std::string line = Registro::legible(bytes);
    COMPROBAR(Utf8Text::valid(line) == line);
    for (size_t pos = 0; pos < line.size();)
        COMPROBAR(!Utf8Text::isControl(Utf8Text::next(line, pos)));

    const long pid = long(n % 2147483648ULL);
    int64_t seconds = -1;
    COMPROBAR(Registro::esNombreRegistro(Registro::nombreArchivo(m.segundos, m.nanosegundos, pid), &seconds));
    COMPROBAR(seconds == m.segundos);
    return 0;
}
