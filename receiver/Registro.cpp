#include "receiver/Registro.h"

#include "profile/Utf8Text.h"

#include <charconv>

namespace Registro {

namespace {

constexpr std::string_view kCabecera = "velrisa-mensaje 1\n";
constexpr std::string_view kSustituto = "\xEF\xBF\xBD"; // U+FFFD
// Ten digits, as in the file names: up to the year 2286.
constexpr int64_t kMaxSegundos = 9999999999;

// Characters past maximo are dropped; esTexto keeps LF and tab and turns every CR (alone
// or before LF) into one LF.
std::string limpiar(std::string_view bytes, size_t maximo, bool esTexto, bool *cortado)
{
    const std::string valido = Utf8Text::valid(bytes);
    std::string out;
    out.reserve(valido.size());
    size_t caracteres = 0;
    size_t pos = 0;
    while (pos < valido.size() && caracteres < maximo) {
        const size_t inicio = pos;
        const char32_t c = Utf8Text::next(valido, pos);
        if (esTexto && c == U'\r') {
            if (pos < valido.size() && valido[pos] == '\n')
                ++pos;
            out += '\n';
        } else if (Utf8Text::isControl(c) && !(esTexto && (c == U'\n' || c == U'\t'))) {
            out += kSustituto;
        } else {
            out.append(valido, inicio, pos - inicio);
        }
        ++caracteres;
    }
    if (cortado)
        *cortado = pos < valido.size();
    return out;
}

// The value of the line "clave: value\n" at the start of bytes, which it then leaves.
std::optional<std::string_view> linea(std::string_view &bytes, std::string_view clave)
{
    if (bytes.substr(0, clave.size()) != clave || bytes.substr(clave.size(), 2) != ": ")
        return std::nullopt;
    bytes.remove_prefix(clave.size() + 2);
    const size_t fin = bytes.find('\n');
    if (fin == std::string_view::npos)
        return std::nullopt;
    const std::string_view valor = bytes.substr(0, fin);
    bytes.remove_prefix(fin + 1);
    return valor;
}

// Plain decimal digits, nothing else, as std::from_chars reads them.
template <typename T> bool numero(std::string_view texto, T &valor)
{
    if (texto.empty() || texto.size() > 19 || texto.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const auto [fin, error] = std::from_chars(texto.data(), texto.data() + texto.size(), valor);
    return error == std::errc() && fin == texto.data() + texto.size();
}

std::string digitos(int64_t valor, int ancho)
{
    std::string s = std::to_string(valor);
    if (int(s.size()) < ancho)
        s.insert(0, size_t(ancho) - s.size(), '0');
    return s;
}

} // namespace

std::string limpiarNombre(std::string_view bytes, bool *cortado)
{
    return limpiar(bytes, kMaxCaracteresNombre, false, cortado);
}

std::string limpiarTexto(std::string_view bytes, bool *cortado)
{
    return limpiar(bytes, kMaxCaracteresTexto, true, cortado);
}

std::string legible(std::string_view bytes)
{
    return limpiar(bytes, std::string_view::npos, false, nullptr);
}

std::string componer(const Mensaje &m)
{
    std::string out;
    out.reserve(
        kCabecera.size() + m.de.size() + m.para.size() + m.equipo.size() + m.direccion.size() + m.texto.size() + 128);
    out += kCabecera;
    out += "De: " + m.de + '\n';
    out += "Para: " + m.para + '\n';
    if (!m.equipo.empty())
        out += "Equipo: " + m.equipo + '\n';
    if (!m.direccion.empty())
        out += "Direccion: " + m.direccion + '\n';
    out += "Llegada: " + std::to_string(m.segundos) + '.' + digitos(m.nanosegundos, 9) + '\n';
    out += std::string("Cortado: ") + (m.cortado ? '1' : '0') + '\n';
    out += "Longitud: " + std::to_string(m.texto.size()) + "\n\n";
    out += m.texto;
    return out;
}

std::optional<Mensaje> analizar(std::string_view bytes)
{
    if (bytes.size() > kMaxBytesRegistro || bytes.substr(0, kCabecera.size()) != kCabecera)
        return std::nullopt;
    bytes.remove_prefix(kCabecera.size());
    const auto de = linea(bytes, "De");
    const auto para = linea(bytes, "Para");
    // Records written before the sending computer was known have neither line.
    const auto equipo = linea(bytes, "Equipo");
    const auto direccion = linea(bytes, "Direccion");
    const auto llegada = linea(bytes, "Llegada");
    const auto cortado = de && para && llegada ? linea(bytes, "Cortado") : std::nullopt;
    const auto longitud = cortado ? linea(bytes, "Longitud") : std::nullopt;
    if (!longitud || bytes.substr(0, 1) != "\n")
        return std::nullopt;
    bytes.remove_prefix(1);

    Mensaje m;
    const size_t punto = llegada->find('.');
    size_t largo = 0;
    if (punto == std::string_view::npos || llegada->size() - punto - 1 != 9
        || !numero(llegada->substr(0, punto), m.segundos) || m.segundos > kMaxSegundos
        || !numero(llegada->substr(punto + 1), m.nanosegundos) || (*cortado != "0" && *cortado != "1")
        || !numero(*longitud, largo) || largo != bytes.size())
        return std::nullopt;
    m.cortado = *cortado == "1";
    m.de = std::string(*de);
    m.para = std::string(*para);
    m.equipo = std::string(equipo.value_or(std::string_view()));
    m.direccion = std::string(direccion.value_or(std::string_view()));
    m.texto = std::string(bytes);
    // Exactly what the receiver writes: anything it would have had to clean is refused.
    bool nombreLargo = false;
    bool textoLargo = false;
    if (limpiarNombre(m.de, &nombreLargo) != m.de || nombreLargo || limpiarNombre(m.para, &nombreLargo) != m.para
        || nombreLargo || limpiarNombre(m.equipo, &nombreLargo) != m.equipo || nombreLargo
        || limpiarNombre(m.direccion, &nombreLargo) != m.direccion || nombreLargo || (equipo && m.equipo.empty())
        || (direccion && m.direccion.empty()) || limpiarTexto(m.texto, &textoLargo) != m.texto || textoLargo)
        return std::nullopt;
    return m;
}

std::string nombreArchivo(int64_t segundos, int32_t nanosegundos, long pid)
{
    return 'm' + digitos(segundos, 10) + '.' + digitos(nanosegundos, 9) + '.' + std::to_string(pid);
}

bool esNombreRegistro(std::string_view nombre, int64_t *segundos, int32_t *nanosegundos)
{
    // m + 10 digits + . + 9 digits + . + 1 to 10 digits
    if (nombre.size() < 23 || nombre.size() > 32 || nombre[0] != 'm' || nombre[11] != '.' || nombre[21] != '.')
        return false;
    int64_t s = 0;
    int32_t ns = 0;
    long pid = 0;
    if (!numero(nombre.substr(1, 10), s) || !numero(nombre.substr(12, 9), ns) || !numero(nombre.substr(22), pid))
        return false;
    if (segundos)
        *segundos = s;
    if (nanosegundos)
        *nanosegundos = ns;
    return true;
}

} // namespace Registro
