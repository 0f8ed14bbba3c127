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
void mismaRespuesta(const LecturaIni &lectura, const IniDocument &doc, std::string_view seccion, std::string_view clave)
{
    const std::optional<std::string> deNet = lectura.leer(TablaCp1252::aUtf8(seccion), TablaCp1252::aUtf8(clave));
    const QString delPrograma = doc.value(Cp1252::decode(seccion), Cp1252::decode(clave));
    COMPROBAR(deNet.has_value() == !delPrograma.isNull());
    if (deNet)
        COMPROBAR(*deNet == delPrograma.toStdString());
}

// The name with the case of its letters changed as Qt changes it, in the code page again.
std::string otraCaja(std::string_view nombre, bool mayusculas)
{
    const QString texto = Cp1252::decode(nombre);
    const QByteArray otra = Cp1252::encode(mayusculas ? texto.toUpper() : texto.toLower());
    return otra.toStdString();
}

// What the syntax writes, read back: a key line, a section header, a value (quoted where needed).
void escritoSeLee(std::string_view candidato)
{
    const std::string_view recortado = recortar(candidato);
    if (nombreValido(candidato, false)) {
        const std::string linea = std::string(candidato) + "=x\r\n";
        const Linea l = analizar(sinFinDeLinea(linea));
        COMPROBAR(l.tipo == Linea::Tipo::Clave && l.nombre == recortado);
    }
    if (nombreValido(candidato, true)) {
        const std::string linea = "[" + std::string(candidato) + "]\r\n";
        const Linea l = analizar(sinFinDeLinea(linea));
        COMPROBAR(l.tipo == Linea::Tipo::Seccion && l.nombre == recortado);
    }
    if (candidato.find('\n') == candidato.npos) {
        const std::string escrito
            = necesitaComillas(candidato) ? '"' + std::string(candidato) + '"' : std::string(candidato);
        const std::string linea = "Clave=" + escrito + "\r\n";
        COMPROBAR(analizar(sinFinDeLinea(linea)).nombre == "Clave");
        COMPROBAR(valor(sinFinDeLinea(linea)) == candidato);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t largo)
{
    static fuzz::ArchivoEnMemoria archivo;
    const std::string_view bytes = fuzz::texto(datos, largo);
    const LecturaIni lectura(archivo.escribir(bytes));
    const IniDocument doc = IniDocument::parse(QByteArray(bytes.data(), qsizetype(bytes.size())));

    // Every key line under a section, asked as it is written, in other cases, and in a section
    // it is not in; a bounded number of them, as every question reads the whole file.
    constexpr int kMaxPreguntas = 48;
    int preguntas = 0;
    std::string_view seccion;
    std::string_view anterior;
    bool enSeccion = false;
    for (size_t pos = 0; pos < bytes.size();) {
        const size_t largo = largoLinea(bytes.substr(pos));
        const std::string_view linea = sinFinDeLinea(bytes.substr(pos, largo));
        pos += largo;
        escritoSeLee(linea);
        const Linea l = analizar(linea);
        if (l.tipo == Linea::Tipo::Seccion) {
            anterior = seccion;
            seccion = l.nombre;
            enSeccion = true;
        } else if (l.tipo == Linea::Tipo::Clave) {
            COMPROBAR(!l.nombre.empty() && l.nombre.find('=') == l.nombre.npos);
            if (!enSeccion || ++preguntas > kMaxPreguntas)
                continue;
            mismaRespuesta(lectura, doc, seccion, l.nombre);
            mismaRespuesta(lectura, doc, otraCaja(seccion, true), otraCaja(l.nombre, false));
            mismaRespuesta(lectura, doc, otraCaja(seccion, false), otraCaja(l.nombre, true));
            mismaRespuesta(lectura, doc, anterior, l.nombre);
        }
    }
    mismaRespuesta(lectura, doc, "Equipos", "Total");
    return 0;
}
