#pragma once

#include <optional>
#include <string>
#include <string_view>

// One profile file read once, for programs without Qt: the same syntax, case rules and
// code page as ProfileFiles::read, names and values as UTF-8 text.
class IniReader final
{
public:
    // Reads the whole file as DataFile::read does: a file that is missing, unreadable, not a
    // regular file (a folder, a pipe, a device) or larger than its bound reads as absent.
    explicit IniReader(const std::string &path);

    // The value of key in section, or nullopt when the file, the section or the key is absent.
    std::optional<std::string> read(std::string_view section, std::string_view key) const;

private:
    std::optional<std::string> m_bytes;
};
