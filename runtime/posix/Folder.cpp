#include "runtime/posix/Folder.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace Folder {

Descriptor open(const std::string &path, Links links)
{
    const int noFollow = links == Links::Refuse ? O_NOFOLLOW : 0;
    return Descriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow));
}

std::optional<uid_t> owner(int folder)
{
    struct stat st = {};
    if (::fstat(folder, &st) != 0)
        return std::nullopt;
    return st.st_uid;
}

std::optional<uid_t> owner(const std::string &path)
{
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return st.st_uid;
}

bool make(const std::string &path, mode_t mode)
{
    return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

Listing forEachEntry(int folder, size_t maxEntries, const std::function<void(const char *name)> &visit)
{
    // The listing reads through a copy, which closedir() closes with it: the folder stays open.
    Descriptor copy(::dup(folder));
    DIR *dir = copy.isOpen() ? ::fdopendir(copy.get()) : nullptr;
    if (!dir)
        return Listing::Unreadable;
    copy.release();
    // A copy shares its position with the folder, which an earlier listing may have moved.
    ::rewinddir(dir);
    Listing listing = Listing::Whole;
    size_t entries = 0;
    while (const dirent *e = ::readdir(dir)) {
        if (++entries > maxEntries) {
            listing = Listing::Cut;
            break;
        }
        visit(e->d_name);
    }
    ::closedir(dir);
    return listing;
}

} // namespace Folder
