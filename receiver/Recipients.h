#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// Which called names belong to one person of this computer. recepcion.sh writes the list
// (root's, readable by all) and velrisa-recibe reads it at each message: a message to a
// name on it goes into that user's own folder of the mailbox, any other name reaches every
// user of the computer. One entry a line, "NAME USER"; blank lines and lines starting with
// "#" say nothing. Names are NetBIOS names (at most 15 characters, ASCII) and compared
// without regard to case, as smbd hands the called name over in lower case.
namespace Recipients {

// Called name in lower case -> login name.
using Map = std::map<std::string, std::string>;

inline constexpr size_t kMaxBytes = 256 * 1024;

// The entries of the file's bytes; nullopt (with error naming the line) when a line is
// not an entry or a name stands twice for different users.
std::optional<Map> parse(std::string_view bytes, std::string &error);

// Reads the file at path, which only owner (root) may be able to change: a file that
// somebody else owns or could write, a link or anything but a regular file is refused,
// as it would send one person's messages to another.
std::optional<Map> read(const std::string &path, std::string &error, uid_t owner = 0);

// The user the called name belongs to; empty for a name of the whole computer.
std::string userOf(const Map &map, std::string_view called);

} // namespace Recipients
