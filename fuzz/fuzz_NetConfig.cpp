// Any bytes as net.ini. What NetConfig accepts is sound (a time-out of 1 to 3600 seconds, code
// page and broadcast address that cannot pass for options or hold blanks, an absolute client
// configuration path); anything else set in the file is refused with a reason. Every address of
// [Equipos] is what parseEndpoint makes of its value, and any line as an address is either
// refused or an address and port that, written out again, read back the same.

#include "Comprobar.h"

#include "net/NetConfig.h"
#include "profile/LecturaIni.h"
#include "profile/SintaxisIni.h"
#include "profile/TablaCp1252.h"
#include "profile/Utf8Text.h"

#include <QList>
#include <QString>

namespace {

using Endpoint = NetConfig::Endpoint;

// Cannot be taken for an option, and holds no blank or control character (by QString's rules).
bool simple(const std::string &valor)
{
    if (valor.empty() || valor.front() == '-' || Utf8Text::valid(valor) != valor)
        return false;
    for (const char32_t c : QString::fromStdString(valor).toUcs4()) {
        if (QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control)
            return false;
    }
    return true;
}

bool iguales(const std::optional<Endpoint> &a, const std::optional<Endpoint> &b)
{
    return a.has_value() == b.has_value() && (!a || (a->address == b->address && a->port == b->port));
}

void direccion(std::string_view texto)
{
    const std::optional<Endpoint> e = NetConfig::parseEndpoint(texto);
    if (!e)
        return;
    COMPROBAR(simple(e->address));
    COMPROBAR(e->port >= 0 && e->port <= 65535);
    if (e->address.find_first_of("[]") != std::string::npos)
        return;
    const bool v6 = e->address.find(':') != std::string::npos;
    std::string escrita = v6 ? '[' + e->address + ']' : e->address;
    if (e->port)
        escrita += ':' + std::to_string(e->port);
    COMPROBAR(iguales(NetConfig::parseEndpoint(escrita), e));
}

std::string recortado(const std::optional<std::string> &valor)
{
    return valor ? std::string(Utf8Text::trimmed(*valor)) : std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t largo)
{
    static fuzz::ArchivoEnMemoria archivo;
    const std::string_view bytes = fuzz::texto(datos, largo);
    const std::string &ruta = archivo.escribir(bytes);
    NetConfig config(ruta);
    const LecturaIni ini(ruta);

    COMPROBAR(config.timeoutSeconds() >= 1 && config.timeoutSeconds() <= 3600);
    COMPROBAR(simple(config.codePage()));
    COMPROBAR(config.broadcast().empty() || simple(config.broadcast()));
    COMPROBAR(config.clientConfig().empty() || config.clientConfig().front() == '/');
    COMPROBAR(Utf8Text::valid(config.error()) == config.error());
    if (config.error().empty()) {
        // Nothing set in the file was passed over.
        const std::string espera = recortado(ini.leer("Opciones", "Espera"));
        COMPROBAR(espera.empty() || Utf8Text::toInt(espera) == config.timeoutSeconds());
        const std::string pagina = recortado(ini.leer("Opciones", "PaginaCodigos"));
        COMPROBAR(pagina.empty() || pagina == config.codePage());
        COMPROBAR(recortado(ini.leer("Opciones", "Difusion")) == config.broadcast());
    }

    int nombres = 0;
    for (const std::string_view linea : fuzz::partir(bytes, '\n')) {
        const std::string texto = TablaCp1252::aUtf8(SintaxisIni::sinFinDeLinea(linea));
        direccion(texto);
        const SintaxisIni::Linea l = SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(linea));
        if (l.tipo != SintaxisIni::Linea::Tipo::Clave || ++nombres > 32)
            continue;
        const std::string nombre = TablaCp1252::aUtf8(l.nombre);
        const std::string valor = recortado(ini.leer("Equipos", nombre));
        const bool sinError = config.error().empty();
        const std::optional<Endpoint> e = config.endpoint(nombre);
        COMPROBAR(iguales(e, valor.empty() ? std::nullopt : NetConfig::parseEndpoint(valor)));
        // A malformed address is reported, unless something else was reported first.
        if (!valor.empty() && !e && sinError)
            COMPROBAR(!config.error().empty());
    }
    return 0;
}
