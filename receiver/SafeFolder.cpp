#include "receiver/SafeFolder.h"

#include "receiver/SharedFolderFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

namespace SafeFolder {

namespace {

std::string octal(mode_t mode)
{
    std::string s = "0000";
    for (int i = 3; i >= 0; --i, mode >>= 3)
        s[size_t(i)] = char('0' + (mode & 7));
    return s;
}

// One folder on the way; isParent: the folder's own parent, where the sticky bit is no excuse.
std::string check(const std::string &path, bool followLink, bool isParent, uid_t user)
{
    struct stat st = {};
    if ((followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
        return "no se puede examinar " + path + ": " + SharedFolderFile::describeError(errno);
    if (!S_ISDIR(st.st_mode))
        return path + " no es una carpeta";
    if (st.st_uid != 0 && st.st_uid != user)
        return path + " es del usuario " + std::to_string(st.st_uid) + ", que podría cambiarla";
    const bool writable = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (writable && (isParent || !(st.st_mode & S_ISVTX)))
        return "otros usuarios pueden escribir en " + path + " (permisos " + octal(st.st_mode & 07777) + ')';
    return {};
}

// Every folder from / down to path (absolute, no trailing slash), the last being the parent.
std::string checkPath(const std::string &path, bool followLinks, uid_t user)
{
    std::vector<std::string> spans { "/" };
    for (size_t i = 1; i <= path.size(); ++i) {
        if ((i == path.size() || path[i] == '/') && path[i - 1] != '/')
            spans.push_back(path.substr(0, i));
    }
    for (size_t k = 0; k < spans.size(); ++k) {
        const std::string failure = check(spans[k], followLinks, k + 1 == spans.size(), user);
        if (!failure.empty())
            return failure;
    }
    return {};
}

} // namespace

std::string problem(const std::string &folder, uid_t user)
{
    if (folder.empty() || folder[0] != '/')
        return "no es una ruta absoluta";
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t bar = path.rfind('/');
    const std::string name = path.substr(bar + 1);
    if (name.empty() || name == "." || name == "..")
        return "no nombra una carpeta dentro de otra";
    const std::string padre = bar == 0 ? "/" : path.substr(0, bar);
    // As the path names them (a link is judged by the folder that holds it and by its target),
    // then the real folders the links lead to.
    std::string failure = checkPath(padre, true, user);
    if (!failure.empty())
        return failure;
    char real[PATH_MAX];
    if (!::realpath(padre.c_str(), real))
        return "no se puede examinar " + padre + ": " + SharedFolderFile::describeError(errno);
    return real == padre ? std::string() : checkPath(real, false, user);
}

} // namespace SafeFolder
