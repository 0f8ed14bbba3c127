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

bool igual(const Registro::Mensaje &a, const Registro::Mensaje &b)
{
    return a.de == b.de && a.para == b.para && a.segundos == b.segundos && a.nanosegundos == b.nanosegundos
        && a.cortado == b.cortado && a.texto == b.texto && a.equipo == b.equipo && a.direccion == b.direccion;
}

bool limpio(const std::string &s, bool esTexto)
{
    if (Utf8Text::valid(s) != s)
        return false;
    for (size_t pos = 0; pos < s.size();) {
        const char32_t c = Utf8Text::next(s, pos);
        if (Utf8Text::isControl(c) && !(esTexto && (c == U'\n' || c == U'\t')))
            return false;
    }
    return Utf8Text::characters(s) <= (esTexto ? Registro::kMaxCaracteresTexto : Registro::kMaxCaracteresNombre);
}

std::string limpiar(std::string_view bytes, bool esTexto, bool &cortado)
{
    const std::string una
        = esTexto ? Registro::limpiarTexto(bytes, &cortado) : Registro::limpiarNombre(bytes, &cortado);
    COMPROBAR(limpio(una, esTexto));
    if (esTexto && !cortado) {
        // Every line end kept: CR LF, a lone CR and LF each become one LF.
        const QString q = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
        const qsizetype finales
            = q.count(QLatin1Char('\n')) + q.count(QLatin1Char('\r')) - q.count(QLatin1String("\r\n"));
        COMPROBAR(std::count(una.begin(), una.end(), '\n') == finales);
    }
    bool otraVez = true;
    COMPROBAR((esTexto ? Registro::limpiarTexto(una, &otraVez) : Registro::limpiarNombre(una, &otraVez)) == una);
    COMPROBAR(!otraVez);
    return una;
}

void seReleeEntero(const Registro::Mensaje &m)
{
    const std::string archivo = Registro::componer(m);
    COMPROBAR(archivo.size() <= Registro::kMaxBytesRegistro);
    const std::optional<Registro::Mensaje> leido = Registro::analizar(archivo);
    COMPROBAR(leido && igual(*leido, m));
}

uint64_t numero(std::string_view bytes)
{
    uint64_t n = 0;
    for (const char c : bytes.substr(0, 8))
        n = (n << 8) | static_cast<unsigned char>(c);
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t largo)
{
    const std::string_view bytes = fuzz::texto(datos, largo);

    if (const std::optional<Registro::Mensaje> m = Registro::analizar(bytes))
        seReleeEntero(*m);

    const std::vector<std::string_view> partes = fuzz::partir(bytes, '\0');
    bool cortadoDe = false, cortadoPara = false, cortadoTexto = false;
    Registro::Mensaje m;
    m.de = limpiar(partes[0], false, cortadoDe);
    m.para = limpiar(partes.size() > 1 ? partes[1] : std::string_view(), false, cortadoPara);
    m.texto = limpiar(partes.size() > 2 ? partes[2] : std::string_view(), true, cortadoTexto);
    m.cortado = cortadoTexto;
    bool cortadoEquipo = false;
    m.equipo = limpiar(partes.size() > 3 ? partes[3] : std::string_view(), false, cortadoEquipo);
    m.direccion = limpiar(partes.size() > 4 ? partes[4] : std::string_view(), false, cortadoEquipo);
    const uint64_t n = numero(bytes);
    m.segundos = int64_t(n % 10000000000ULL);
    m.nanosegundos = int32_t(n % 1000000000ULL);
    seReleeEntero(m);

    const std::string linea = Registro::legible(bytes);
    COMPROBAR(Utf8Text::valid(linea) == linea);
    for (size_t pos = 0; pos < linea.size();)
        COMPROBAR(!Utf8Text::isControl(Utf8Text::next(linea, pos)));

    const long pid = long(n % 2147483648ULL);
    int64_t segundos = -1;
    COMPROBAR(Registro::esNombreRegistro(Registro::nombreArchivo(m.segundos, m.nanosegundos, pid), &segundos));
    COMPROBAR(segundos == m.segundos);
    return 0;
}
