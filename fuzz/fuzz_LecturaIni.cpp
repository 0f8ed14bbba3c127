// Any bytes as a profile file. net's reader (LecturaIni) and the program's IniDocument must find
// the same value for every key, whatever the case the name is asked in; and every name and value
// that the syntax lets the program write is read back as itself.

#include "Comprobar.h"

#include "profile/Cp1252.h"
#include "profile/IniDocument.h"
#include "profile/LecturaIni.h"
#include "profile/SintaxisIni.h"
#include "profile/TablaCp1252.h"

#include <QString>

using namespace SintaxisIni;

namespace {

// Both readers asked for one name, in the code page.
void sameAnswer(const LecturaIni &reader, const IniDocument &doc, std::string_view section, std::string_view key)
{
    const std::optional<std::string> fromNet = reader.leer(TablaCp1252::aUtf8(section), TablaCp1252::aUtf8(key));
    const QString fromProgram = doc.value(Cp1252::decode(section), Cp1252::decode(key));
    COMPROBAR(fromNet.has_value() == !fromProgram.isNull());
    if (fromNet)
        COMPROBAR(*fromNet == fromProgram.toStdString());
}

// The name with the case of its letters changed as Qt changes it, in the code page again.
std::string otherCase(std::string_view name, bool upper)
{
    const QString text = Cp1252::decode(name);
    const QByteArray changed = Cp1252::encode(upper ? text.toUpper() : text.toLower());
    return changed.toStdString();
}

// What the syntax writes, read back: a key line, a section header, a value (quoted where needed).
void writtenReadsBack(std::string_view candidate)
{
    const std::string_view trimmed = recortar(candidate);
    if (nombreValido(candidate, false)) {
        const std::string line = std::string(candidate) + "=x\r\n";
        const Linea l = analizar(sinFinDeLinea(line));
        COMPROBAR(l.tipo == Linea::Tipo::Clave && l.nombre == trimmed);
    }
    if (nombreValido(candidate, true)) {
        const std::string line = "[" + std::string(candidate) + "]\r\n";
        const Linea l = analizar(sinFinDeLinea(line));
        COMPROBAR(l.tipo == Linea::Tipo::Seccion && l.nombre == trimmed);
    }
    if (candidate.find('\n') == candidate.npos) {
        const std::string written
            = necesitaComillas(candidate) ? '"' + std::string(candidate) + '"' : std::string(candidate);
        const std::string line = "Clave=" + written + "\r\n";
        COMPROBAR(analizar(sinFinDeLinea(line)).nombre == "Clave");
        COMPROBAR(valor(sinFinDeLinea(line)) == candidate);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static fuzz::ArchivoEnMemoria memoryFile;
    const std::string_view bytes = fuzz::texto(data, size);
    const LecturaIni reader(memoryFile.escribir(bytes));
    const IniDocument doc = IniDocument::parse(QByteArray(bytes.data(), qsizetype(bytes.size())));

    // Every key line under a section, asked as it is written, in other cases, and in a section
    // it is not in; a bounded number of them, as every question reads the whole file.
    constexpr int kMaxQuestions = 48;
    int questions = 0;
    std::string_view section;
    std::string_view previousSection;
    bool inSection = false;
    for (size_t pos = 0; pos < bytes.size();) {
        const size_t lineSize = largoLinea(bytes.substr(pos));
        const std::string_view line = sinFinDeLinea(bytes.substr(pos, lineSize));
        pos += lineSize;
        writtenReadsBack(line);
        const Linea l = analizar(line);
        if (l.tipo == Linea::Tipo::Seccion) {
            previousSection = section;
            section = l.nombre;
            inSection = true;
        } else if (l.tipo == Linea::Tipo::Clave) {
            COMPROBAR(!l.nombre.empty() && l.nombre.find('=') == l.nombre.npos);
            if (!inSection || ++questions > kMaxQuestions)
                continue;
            sameAnswer(reader, doc, section, l.nombre);
            sameAnswer(reader, doc, otherCase(section, true), otherCase(l.nombre, false));
            sameAnswer(reader, doc, otherCase(section, false), otherCase(l.nombre, true));
            sameAnswer(reader, doc, previousSection, l.nombre);
        }
    }
    sameAnswer(reader, doc, "Equipos", "Total");
    return 0;
}
