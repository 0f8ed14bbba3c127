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
bool simple(const std::string &value)
{
    if (value.empty() || value.front() == '-' || Utf8Text::valid(value) != value)
        return false;
    for (const char32_t c : QString::fromStdString(value).toUcs4()) {
        if (QChar::isSpace(c) || QChar::category(c) == QChar::Other_Control)
            return false;
    }
    return true;
}

bool sameEndpoint(const std::optional<Endpoint> &a, const std::optional<Endpoint> &b)
{
    return a.has_value() == b.has_value() && (!a || (a->address == b->address && a->port == b->port));
}

void checkAddress(std::string_view text)
{
    const std::optional<Endpoint> e = NetConfig::parseEndpoint(text);
    if (!e)
        return;
    COMPROBAR(simple(e->address));
    COMPROBAR(e->port >= 0 && e->port <= 65535);
    if (e->address.find_first_of("[]") != std::string::npos)
        return;
    const bool v6 = e->address.find(':') != std::string::npos;
    std::string written = v6 ? '[' + e->address + ']' : e->address;
    if (e->port)
        written += ':' + std::to_string(e->port);
    COMPROBAR(sameEndpoint(NetConfig::parseEndpoint(written), e));
}

std::string trimmed(const std::optional<std::string> &value)
{
    return value ? std::string(Utf8Text::trimmed(*value)) : std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static fuzz::ArchivoEnMemoria memoryFile;
    const std::string_view bytes = fuzz::texto(data, size);
    const std::string &path = memoryFile.escribir(bytes);
    NetConfig config(path);
    const LecturaIni ini(path);

    COMPROBAR(config.timeoutSeconds() >= 1 && config.timeoutSeconds() <= 3600);
    COMPROBAR(simple(config.codePage()));
    COMPROBAR(config.broadcast().empty() || simple(config.broadcast()));
    COMPROBAR(config.clientConfig().empty() || config.clientConfig().front() == '/');
    COMPROBAR(Utf8Text::valid(config.error()) == config.error());
    if (config.error().empty()) {
        // Nothing set in the file was passed over.
        const std::string timeout = trimmed(ini.leer("Opciones", "Espera"));
        COMPROBAR(timeout.empty() || Utf8Text::toInt(timeout) == config.timeoutSeconds());
        const std::string codePage = trimmed(ini.leer("Opciones", "PaginaCodigos"));
        COMPROBAR(codePage.empty() || codePage == config.codePage());
        COMPROBAR(trimmed(ini.leer("Opciones", "Difusion")) == config.broadcast());
    }

    int keyLines = 0;
    for (const std::string_view line : fuzz::partir(bytes, '\n')) {
        const std::string text = TablaCp1252::aUtf8(SintaxisIni::sinFinDeLinea(line));
        checkAddress(text);
        const SintaxisIni::Linea l = SintaxisIni::analizar(SintaxisIni::sinFinDeLinea(line));
        if (l.tipo != SintaxisIni::Linea::Tipo::Clave || ++keyLines > 32)
            continue;
        const std::string name = TablaCp1252::aUtf8(l.nombre);
        const std::string value = trimmed(ini.leer("Equipos", name));
        const bool noErrorYet = config.error().empty();
        const std::optional<Endpoint> e = config.endpoint(name);
        COMPROBAR(sameEndpoint(e, value.empty() ? std::nullopt : NetConfig::parseEndpoint(value)));
        // A malformed address is reported, unless something else was reported first.
        if (!value.empty() && !e && noErrorYet)
            COMPROBAR(!config.error().empty());
    }
    return 0;
}
