// A message as net gets it (any bytes made valid UTF-8), the first byte choosing the code page.
// What goes to smbclient never takes more than 1,598 bytes on the wire (a line end counts two),
// holds whole characters only (it converts back without a cut sequence), is the start of the
// message with each character the page lacks as "?", and is cut only where the next character
// would not fit; the report of what was cut and replaced is exact.

#include "Comprobar.h"

#include "net/MessageText.h"
#include "profile/Utf8Text.h"

#include <algorithm>

namespace {

struct Pagina
{
    const char *nombre;
    bool unByte; // one byte for every character, and back to the same character
};

constexpr Pagina kPaginas[] = {
    { "CP850", true },
    { "CP437", true },
    { "CP1252", true },
    { "ASCII", true },
    { "UTF-8", false },
    { "CP932", false },
    { "NO-EXISTE", false },
};

std::vector<std::string_view> caracteres(std::string_view texto)
{
    std::vector<std::string_view> todos;
    for (size_t pos = 0; pos < texto.size();) {
        const size_t inicio = pos;
        Utf8Text::next(texto, pos);
        todos.push_back(texto.substr(inicio, pos - inicio));
    }
    return todos;
}

size_t enLinea(std::string_view bytes)
{
    return bytes.size() + size_t(std::count(bytes.begin(), bytes.end(), '\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t largo)
{
    if (largo == 0)
        return 0;
    const Pagina &pagina = kPaginas[datos[0] % std::size(kPaginas)];
    const std::string texto = Utf8Text::valid(fuzz::texto(datos + 1, largo - 1));
    const MessageText::Prepared p = MessageText::prepare(texto, pagina.nombre);

    const bool conocida = fuzz::convertir(pagina.nombre, "UTF-8", "").has_value();
    COMPROBAR(p.codePageKnown == conocida);
    if (!conocida) {
        COMPROBAR(p.bytes.empty());
        return 0;
    }
    COMPROBAR(enLinea(p.bytes) <= size_t(MessageText::maxWireBytes));

    // The characters the page lacks, each once, each one that does not convert and was sent.
    const std::vector<std::string_view> sinPagina = caracteres(p.unmappable);
    for (size_t i = 0; i < sinPagina.size(); ++i) {
        COMPROBAR(std::count(sinPagina.begin(), sinPagina.end(), sinPagina[i]) == 1);
        COMPROBAR(sinPagina[i] != "\n" && !fuzz::convertir(pagina.nombre, "UTF-8", sinPagina[i]));
    }

    // Whole characters: the bytes convert back, and as many characters as were kept.
    const std::optional<std::string> devuelto = fuzz::convertir("UTF-8", pagina.nombre, p.bytes);
    COMPROBAR(devuelto.has_value());
    const std::vector<std::string_view> todos = caracteres(texto);
    COMPROBAR(p.droppedChars >= 0 && size_t(p.droppedChars) <= todos.size());
    const size_t guardados = todos.size() - size_t(p.droppedChars);
    COMPROBAR(Utf8Text::characters(*devuelto) == guardados);
    for (const std::string_view c : sinPagina)
        COMPROBAR(std::find(todos.begin(), todos.begin() + std::ptrdiff_t(guardados), c)
            != todos.begin() + std::ptrdiff_t(guardados));

    // The start of the message, "?" for what the page lacks.
    std::string esperado;
    for (size_t i = 0; i < guardados; ++i) {
        const bool falta = std::find(sinPagina.begin(), sinPagina.end(), todos[i]) != sinPagina.end();
        esperado += falta ? std::string_view("?") : todos[i];
    }
    if (pagina.unByte || std::string_view(pagina.nombre) == "UTF-8")
        COMPROBAR(*devuelto == esperado);

    // Cut only where the next character would not fit.
    if (p.droppedChars > 0 && (pagina.unByte || std::string_view(pagina.nombre) == "UTF-8")) {
        const std::string_view siguiente = todos[guardados];
        const bool falta = std::find(sinPagina.begin(), sinPagina.end(), siguiente) != sinPagina.end();
        const size_t coste = pagina.unByte || falta ? enLinea(siguiente.substr(0, 1)) : enLinea(siguiente);
        COMPROBAR(enLinea(p.bytes) + coste > size_t(MessageText::maxWireBytes));
    }
    return 0;
}
