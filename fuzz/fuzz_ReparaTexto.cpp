// The repair of what smbd hands over. Any bytes: no zero byte comes out, and what comes out is
// either the bytes as they came or shorter valid UTF-8 (each restored letter arrived as two or
// three). The input made valid UTF-8 again, as a text typed at smbclient: it goes through
// smbclient and smbd as they work (pieces of 127 bytes of input converted to CP850 by iconv,
// raw where that fails; all of it decoded as CP850; the CR of each CR LF dropped), and where
// every piece went raw the repair gives back exactly what smbclient read, whole characters.

#include "Comprobar.h"

#include "profile/Utf8Text.h"
#include "receiver/ReparaTexto.h"

#include <algorithm>
#include <optional>

namespace {

std::string sinCrLf(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
            out += s[i];
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t largo)
{
    const std::string_view bytes = fuzz::texto(datos, largo);
    std::string sinCeros(bytes);
    std::erase(sinCeros, '\0');
    const std::string reparado = ReparaTexto::reparar(bytes);
    COMPROBAR(reparado.find('\0') == std::string::npos);
    COMPROBAR(reparado == sinCeros || (Utf8Text::valid(reparado) == reparado && reparado.size() < sinCeros.size()));

    // smbclient: every LF as CR LF, at most 1,598 bytes (1,599 when the last is that LF).
    const std::string texto = Utf8Text::valid(sinCeros);
    std::string entrada;
    for (const char c : texto) {
        if (entrada.size() >= 1598)
            break;
        if (c == '\n')
            entrada += '\r';
        entrada += c;
    }
    std::string cable;
    bool todoCrudo = true;
    for (size_t i = 0; i < entrada.size(); i += 127) {
        const std::string_view pieza = std::string_view(entrada).substr(i, 127);
        const std::optional<std::string> convertida = fuzz::convertir("CP850", "UTF-8", pieza);
        todoCrudo = todoCrudo && !convertida;
        cable += convertida ? *convertida : std::string(pieza);
    }
    const std::optional<std::string> decodificado = fuzz::convertir("UTF-8", "CP850", cable);
    COMPROBAR(decodificado);
    if (!todoCrudo || entrada.empty())
        return 0;
    // What smbclient read, short of a character its limit cut.
    std::string leido = sinCrLf(entrada);
    while (Utf8Text::valid(leido) != leido)
        leido.pop_back();
    COMPROBAR(ReparaTexto::reparar(sinCrLf(*decodificado)) == leido);
    return 0;
}
