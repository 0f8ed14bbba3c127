#pragma once

#include <optional>
#include <string>
#include <string_view>

// The line syntax of profile files, on raw Windows-1252 bytes and without Qt: what makes a
// line a section header or a key, and how a value is written and read back. IniDocument
// builds on it, and the `net` command reads net.ini through it.
namespace SintaxisIni {

// The length of the line at the start of texto, its line end included. As on Windows, a line
// ends after LF, after CR LF, and after a CR alone (files saved the old Mac way).
size_t largoLinea(std::string_view texto);

// The line without its line end (LF, CR LF, or a CR alone).
std::string_view sinFinDeLinea(std::string_view linea);

// Without the blanks (space, tab) at either end.
std::string_view recortar(std::string_view texto);

struct Linea
{
    enum class Tipo { Otra, Seccion, Clave };
    Tipo tipo = Tipo::Otra;
    std::string_view nombre; // section or key name, blanks removed
};

// What a line is, given without its line end. A key line counts only inside a section;
// that is the caller's to know.
Linea analizar(std::string_view linea);

// The value of a key line (without its line end), as it is handed back: blanks around
// it removed and matching double quotes dropped.
std::string_view valor(std::string_view linea);

// Whether a value, already in the code page, must be written in double quotes so that it
// reads back as itself.
bool necesitaComillas(std::string_view valor);

// Whether a name, already in the code page, can be written and read back as itself.
bool nombreValido(std::string_view nombre, bool esSeccion);

// Whether two names in the code page are the same without regard to case.
bool mismoNombre(std::string_view a, std::string_view b);

// A hash of a name in the code page that agrees with mismoNombre: the same names, the same hash.
size_t huella(std::string_view nombre, size_t semilla = 0);

// The value of key in section of a whole file: names in the code page, the first of
// duplicated sections or keys wins (a later duplicate section is hidden whole). The value
// comes back in the code page; nullopt when section or key is absent.
std::optional<std::string_view> buscar(std::string_view archivo, std::string_view seccion, std::string_view clave);

} // namespace SintaxisIni
