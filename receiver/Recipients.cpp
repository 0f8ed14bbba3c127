#include "receiver/Recipients.h"

#include "receiver/SharedFolderFile.h"

#include <fcntl.h>

namespace Recipients {

namespace {

std::string lowercase(std::string_view text)
{
    std::string out(text);
    for (char &c : out) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return out;
}

bool isName(std::string_view name)
{
    if (name.empty() || name.size() > 15 || name[0] == '.' || name[0] == '-')
        return false;
    for (const char c : name) {
        const bool valid = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
            || c == '.' || c == '-';
        if (!valid)
            return false;
    }
    return true;
}

// A login name as Debian's adduser allows it, and never a path.
bool isUser(std::string_view user)
{
    if (user.empty() || user.size() > 32 || user[0] == '-' || user[0] == '.')
        return false;
    for (const char c : user) {
        const bool valid = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
            || c == '.' || c == '-' || c == '$';
        if (!valid)
            return false;
    }
    return true;
}

} // namespace

std::optional<Map> parse(std::string_view bytes, std::string &error)
{
    Map map;
    size_t number = 0;
    while (!bytes.empty()) {
        ++number;
        const size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t blank = line.find(' ');
        const std::string_view name = line.substr(0, blank);
        const std::string_view user
            = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        if (!isName(name) || !isUser(user)) {
            error = "la línea " + std::to_string(number) + " no es «NOMBRE USUARIO»";
            return std::nullopt;
        }
        const auto [place, fresh] = map.emplace(lowercase(name), std::string(user));
        if (!fresh && place->second != user) {
            error = "el nombre " + std::string(name) + " es de dos usuarios (línea " + std::to_string(number) + ')';
            return std::nullopt;
        }
    }
    return map;
}

std::optional<Map> read(const std::string &path, std::string &error, uid_t owner)
{
    const SharedFolderFile::Contents l = SharedFolderFile::read(AT_FDCWD, path, kMaxBytes);
    if (!l.error.empty()) {
        error = "no se puede leer la lista de usuarios " + path + ": " + l.error;
        return std::nullopt;
    }
    if (l.exceeds) {
        error = "la lista de usuarios " + path + " es demasiado grande";
        return std::nullopt;
    }
    if (l.info.st_uid != owner || (l.info.st_mode & 022) != 0) {
        error = "la lista de usuarios " + path + " no es solo de root: se descarta";
        return std::nullopt;
    }
    std::string reason;
    auto map = parse(l.bytes, reason);
    if (!map)
        error = "la lista de usuarios " + path + " no vale: " + reason;
    return map;
}

std::string userOf(const Map &map, std::string_view called)
{
    const auto it = map.find(lowercase(called));
    return it == map.end() ? std::string() : it->second;
}

} // namespace Recipients
