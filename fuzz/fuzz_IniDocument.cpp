// A profile file and a list of edits: "bytes of the file" NUL "edit" LF "edit"..., each edit
// "section" US "key" US "value" (US is 0x1F), names and value as UTF-8.
//
// Parsed and written back unedited, the file comes out byte for byte. After the edits every
// value written reads back (from the document and from its bytes parsed again), every other key
// keeps its value, every line the edits did not touch is still there in its order, and a copy
// taken before the edits still reads as the file did.

#include "Comprobar.h"

#include "profile/Cp1252.h"
#include "profile/IniDocument.h"
#include "profile/SintaxisIni.h"

#include <QString>

#include <map>
#include <set>

using namespace SintaxisIni;

namespace {

struct Nombres
{
    QString seccion;
    QString clave;
};

// Section and key names as the file matches them: trimmed, in the code page, case-folded.
using Clave = std::pair<QString, QString>;

Clave clave(const QString &seccion, const QString &clave)
{
    auto plegado = [](const QString &nombre) {
        const QByteArray bytes = Cp1252::encode(nombre);
        return Cp1252::decode(recortar(std::string_view(bytes.constData(), size_t(bytes.size())))).toCaseFolded();
    };
    return { plegado(seccion), plegado(clave) };
}

// One line ("renglón") of a file without its line end and, for a key line under a section, its names.
struct Renglon
{
    std::string_view texto;
    std::optional<Nombres> nombres;
};

std::vector<Renglon> lineas(std::string_view archivo)
{
    std::vector<Renglon> todas;
    std::optional<QString> seccion;
    for (size_t pos = 0; pos < archivo.size();) {
        const std::string_view bruta = archivo.substr(pos, largoLinea(archivo.substr(pos)));
        pos += bruta.size();
        const std::string_view texto = sinFinDeLinea(bruta);
        const SintaxisIni::Linea l = analizar(texto);
        if (l.tipo == SintaxisIni::Linea::Tipo::Seccion)
            seccion = Cp1252::decode(l.nombre);
        if (l.tipo == SintaxisIni::Linea::Tipo::Clave && seccion)
            todas.push_back({ texto, Nombres { *seccion, Cp1252::decode(l.nombre) } });
        else
            todas.push_back({ texto, std::nullopt });
    }
    return todas;
}

struct Edicion
{
    Nombres nombres;
    QString valor;
};

std::vector<Edicion> ediciones(std::string_view lista)
{
    auto qt = [](std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); };
    std::vector<Edicion> todas;
    for (const std::string_view edicion : fuzz::partir(lista, '\n')) {
        const std::vector<std::string_view> campos = fuzz::partir(edicion, '\x1f');
        if (campos.size() == 3 && todas.size() < 16)
            todas.push_back({ { qt(campos[0]), qt(campos[1]) }, qt(campos[2]) });
    }
    return todas;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t largo)
{
    const std::string_view entrada = fuzz::texto(datos, largo);
    const size_t nul = entrada.find('\0');
    const std::string_view archivo = entrada.substr(0, nul);
    const QByteArray bytes(archivo.data(), qsizetype(archivo.size()));

    const IniDocument original = IniDocument::parse(bytes);
    COMPROBAR(original.toBytes() == bytes);
    const std::vector<Renglon> antes = lineas(archivo);
    std::map<Clave, std::pair<Nombres, QString>> valoresAntes;
    for (const Renglon &l : antes) {
        if (l.nombres && valoresAntes.size() < 64) {
            const Nombres &n = *l.nombres;
            valoresAntes.try_emplace(clave(n.seccion, n.clave), n, original.value(n.seccion, n.clave));
        }
    }

    IniDocument doc = original;
    std::map<Clave, QString> escritos; // what each edited key must read back
    const std::vector<Edicion> lista = ediciones(nul == entrada.npos ? std::string_view() : entrada.substr(nul + 1));
    for (const Edicion &e : lista) {
        if (!IniDocument::isValidName(e.nombres.seccion, true) || !IniDocument::isValidName(e.nombres.clave, false))
            continue;
        doc.setValue(e.nombres.seccion, e.nombres.clave, e.valor);
        // What the code page keeps of the value, line breaks as blanks, is what reads back.
        QString esperado = Cp1252::decode(Cp1252::encode(e.valor));
        esperado.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        COMPROBAR(doc.value(e.nombres.seccion, e.nombres.clave) == esperado);
        escritos[clave(e.nombres.seccion, e.nombres.clave)] = esperado;
    }

    const QByteArray despues = doc.toBytes();
    const IniDocument releido = IniDocument::parse(despues);
    for (const Edicion &e : lista) {
        const auto escrito = escritos.find(clave(e.nombres.seccion, e.nombres.clave));
        if (escrito == escritos.end())
            continue;
        COMPROBAR(doc.value(e.nombres.seccion, e.nombres.clave) == escrito->second);
        COMPROBAR(releido.value(e.nombres.seccion, e.nombres.clave) == escrito->second);
    }
    // Keys the edits left alone keep their values, and the copy taken before sees none of it.
    for (const auto &[k, antesDe] : valoresAntes) {
        const auto &[n, valor] = antesDe;
        COMPROBAR(original.value(n.seccion, n.clave) == valor);
        if (escritos.count(k))
            continue;
        COMPROBAR(doc.value(n.seccion, n.clave) == valor);
        COMPROBAR(releido.value(n.seccion, n.clave) == valor);
    }
    // Every line but the key lines of edited keys is still there, in its order.
    const std::vector<Renglon> ahora = lineas(std::string_view(despues.constData(), size_t(despues.size())));
    size_t j = 0;
    for (const Renglon &l : antes) {
        if (l.nombres && escritos.count(clave(l.nombres->seccion, l.nombres->clave)))
            continue;
        while (j < ahora.size() && ahora[j].texto != l.texto)
            ++j;
        COMPROBAR(j < ahora.size());
        ++j;
    }
    return 0;
}
