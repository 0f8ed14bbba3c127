#include "runtime/DataFile.h"

#include "runtime/posix/Descriptor.h"
#include "runtime/posix/Folder.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace DataFile {

namespace {

constexpr std::string_view kTemporarySuffix = ".nuevo";
constexpr size_t kRandomLength = 6;

bool alphanumeric(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whether name is a temporary file of base as this program names them: base, a dot, one to
// twelve letters or digits, ".nuevo" (earlier versions put their process id there).
bool isTemporaryOf(std::string_view name, std::string_view base)
{
    if (name.size() <= base.size() + 1 + kTemporarySuffix.size() || name.substr(0, base.size()) != base
        || name[base.size()] != '.' || name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix)
        return false;
    const std::string_view middle
        = name.substr(base.size() + 1, name.size() - base.size() - 1 - kTemporarySuffix.size());
    if (middle.size() > 12)
        return false;
    for (char c : middle) {
        if (!alphanumeric(c))
            return false;
    }
    return true;
}

std::string temporaryName(std::string_view base, unsigned attempt)
{
    static constexpr char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    unsigned char random[kRandomLength] {};
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != ssize_t(sizeof random)) {
        struct timespec t
        {
        };
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        unsigned long long x = (unsigned long long)t.tv_nsec ^ ((unsigned long long)::getpid() << 20) ^ attempt;
        for (unsigned char &b : random) {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
            b = (unsigned char)(x >> 56);
        }
    }
    std::string name(base);
    name += '.';
    for (unsigned char b : random)
        name += kLetters[b % (sizeof kLetters - 1)];
    name += kTemporarySuffix;
    return name;
}

// Leftovers of saves that were cut short (the program killed at the wrong moment). Only names
// of our own pattern; unlinking a name never touches what a link points to.
void removeTemporaries(int folder, std::string_view base)
{
    Folder::forEachEntry(folder, SIZE_MAX, [&](const char *name) {
        if (!isTemporaryOf(name, base))
            return;
        struct stat st
        {
        };
        if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
            ::unlinkat(folder, name, 0);
    });
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

} // namespace

ReadResult read(const std::string &path, struct stat &st, const std::function<char *(size_t)> &resizeTo,
    const ReadOptions &options)
{
    const bool follow = options.links == Links::Follow;
    // Looked at before it is opened, so that a device is never opened at all.
    if (::fstatat(options.folder, path.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        const int reason = errno;
        st = {};
        errno = reason;
        return reason == ENOENT || reason == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode))
        return ReadResult::Missing;
    // Non-blocking all the same, in case a pipe (or a link) took its place in the meantime.
    Descriptor fd(::openat(
        options.folder, path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW)));
    if (fd.get() < 0) {
        if (errno != ENOENT)
            return ReadResult::Failed;
        st = {};
        errno = ENOENT;
        return ReadResult::Missing;
    }
    if (::fstat(fd.get(), &st) != 0)
        return ReadResult::Failed;
    if (!S_ISREG(st.st_mode))
        return ReadResult::Missing;
    const size_t limit = options.limit;
    if (size_t(st.st_size) > limit && !options.cut)
        return ReadResult::TooLarge;

    // One byte more than the file's size, so that its end is seen without growing the
    // buffer; files that report no size (as some in /proc do) grow it as they go.
    size_t capacity = std::min(std::max(size_t(st.st_size) + 1, size_t(4096)), limit + 1);
    char *data = resizeTo(capacity);
    size_t used = 0;
    while (used <= limit) {
        if (used == capacity) {
            capacity = std::min(capacity * 2, limit + 1);
            data = resizeTo(capacity);
        }
        const ssize_t n = ::read(fd.get(), data + used, capacity - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ReadResult::Failed;
        if (n == 0)
            break;
        used += size_t(n);
    }
    if (used > limit) {
        if (!options.cut)
            return ReadResult::TooLarge;
        resizeTo(limit);
        return ReadResult::Cut;
    }
    resizeTo(used);
    return ReadResult::Read;
}

bool replace(const std::string &path, std::string_view bytes, Sync sync, std::string &error, mode_t newMode)
{
    auto failure = [&error](const char *what) {
        error = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    const size_t bar = path.rfind('/');
    const std::string folderPath = bar == std::string::npos ? std::string(".") : path.substr(0, bar + 1);
    const std::string base = bar == std::string::npos ? path : path.substr(bar + 1);
    if (base.empty() || base == "." || base == "..") {
        errno = EISDIR;
        return failure(path.c_str());
    }
    const Descriptor folder = Folder::open(folderPath);
    if (folder.get() < 0)
        return failure(folderPath.c_str());

    struct stat previous
    {
    };
    bool hadFile = false;
    if (::fstatat(folder.get(), base.c_str(), &previous, AT_SYMLINK_NOFOLLOW) == 0) {
        hadFile = S_ISREG(previous.st_mode);
        struct stat recipient
        {
        };
        // A link goes, but not one that stands for a folder, a pipe or a device.
        const bool rare = S_ISLNK(previous.st_mode)
            ? ::fstatat(folder.get(), base.c_str(), &recipient, 0) == 0 && !S_ISREG(recipient.st_mode)
            : !hadFile;
        if (rare) {
            error = path + ": no es un archivo normal";
            return false;
        }
    } else if (errno != ENOENT) {
        return failure(path.c_str());
    }

    removeTemporaries(folder.get(), base);

    std::string temporary;
    int created = -1;
    for (unsigned attempt = 0; created < 0 && attempt < 100; ++attempt) {
        temporary = temporaryName(base, attempt);
        created = ::openat(folder.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
            hadFile ? 0600 : newMode);
        if (created < 0 && errno != EEXIST)
            break;
    }
    if (created < 0)
        return failure((folderPath + temporary).c_str());
    Descriptor fresh(created);
    auto giveUp = [&](const char *what) {
        const int saved = errno;
        ::unlinkat(folder.get(), temporary.c_str(), 0);
        errno = saved;
        return failure(what);
    };

    if (hadFile) {
        if (::fchmod(fresh.get(), previous.st_mode & 07777) != 0)
            return giveUp(path.c_str());
        // Only the superuser can give a file away; for anybody else it is already theirs, and
        // a group they are not in stays theirs too: the save goes on either way.
        if (previous.st_uid != ::geteuid() || previous.st_gid != ::getegid()) {
            [[maybe_unused]] const int given = ::fchown(fresh.get(), previous.st_uid, previous.st_gid);
        }
    }
    if (!writeAll(fresh.get(), bytes))
        return giveUp(path.c_str());
    if (sync == Sync::Flush && ::fsync(fresh.get()) != 0)
        return giveUp(path.c_str());
    if (!fresh.close())
        return giveUp(path.c_str());
    if (::renameat(folder.get(), temporary.c_str(), folder.get(), base.c_str()) != 0)
        return giveUp(path.c_str());
    // The new name must reach the disk too; the file is in place whatever this answers.
    if (sync == Sync::Flush)
        (void)::fsync(folder.get());
    return true;
}

int append(const std::string &path, std::string_view bytes, mode_t newMode, off_t *sizeAfter)
{
    Descriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, newMode));
    const int fd = file.get();
    struct stat st = {};
    int error = fd < 0 ? errno : ::fstat(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? EINVAL : 0;
    size_t written = 0;
    while (error == 0 && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n > 0)
            written += size_t(n);
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (error == 0 && ::fdatasync(fd) != 0)
        error = errno;
    if (!file.close() && error == 0)
        error = errno;
    if (error == 0 && sizeAfter)
        *sizeAfter = st.st_size + off_t(written);
    return error;
}

bool remove(const std::string &path)
{
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool status(const std::string &path, struct stat &st)
{
    return ::stat(path.c_str(), &st) == 0;
}

struct timespec coarseNow()
{
    struct timespec now
    {
    };
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

} // namespace DataFile
