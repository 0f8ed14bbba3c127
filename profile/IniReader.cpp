#include "profile/IniReader.h"

#include "profile/IniSyntax.h"
#include "profile/Cp1252Table.h"

#include "runtime/DataFile.h"

IniReader::IniReader(const std::string &path)
{
    std::string bytes;
    if (DataFile::read(path, bytes) == DataFile::ReadResult::Read)
        m_bytes = std::move(bytes);
}

std::optional<std::string> IniReader::read(std::string_view section, std::string_view key) const
{
    if (!m_bytes)
        return std::nullopt;
    const auto value = IniSyntax::search(*m_bytes, Cp1252Table::fromUtf8(section), Cp1252Table::fromUtf8(key));
    if (!value)
        return std::nullopt;
    return Cp1252Table::toUtf8(*value);
}
