#include "profile/LecturaIni.h"

#include "profile/SintaxisIni.h"
#include "profile/TablaCp1252.h"

#include "runtime/DataFile.h"

LecturaIni::LecturaIni(const std::string &ruta)
{
    std::string bytes;
    if (DataFile::read(ruta, bytes) == DataFile::ReadResult::Read)
        m_bytes = std::move(bytes);
}

std::optional<std::string> LecturaIni::leer(std::string_view seccion, std::string_view clave) const
{
    if (!m_bytes)
        return std::nullopt;
    const auto valor = SintaxisIni::buscar(*m_bytes, TablaCp1252::desdeUtf8(seccion), TablaCp1252::desdeUtf8(clave));
    if (!valor)
        return std::nullopt;
    return TablaCp1252::aUtf8(*valor);
}
