#pragma once

#include "runtime/posix/Descriptor.h"

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

// Folders worked in through one open descriptor, so that a folder renamed or replaced
// meanwhile is never taken for the one that was opened. Failures leave errno set.
namespace Folder {

enum class Links { Follow, Refuse };

// path opened as a folder; not open when it is none (or a link, with Links::Refuse).
Descriptor open(const std::string &path, Links links = Links::Follow);

// The owner of the open folder, or of path (a link followed); nullopt when unreadable.
std::optional<uid_t> owner(int folder);
std::optional<uid_t> owner(const std::string &path);

// Makes path with mode (the umask applies); true when it exists already as anything.
bool make(const std::string &path, mode_t mode);

enum class Listing { Whole, Cut, Unreadable };

// visit(name) for each entry of the open folder, from its start, "." and ".." included; the
// folder stays open. More than maxEntries entries: the rest are not visited (Cut).
Listing forEachEntry(int folder, size_t maxEntries, const std::function<void(const char *name)> &visit);

} // namespace Folder
