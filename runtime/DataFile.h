#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>

// The program's data files (profile files, the batch file and its output, net.ini, received
// messages and their history), read and written without Qt, so that the helper programs share
// the same rules: only a regular file is ever read, never more than a bound, and never by
// blocking on it; a file is replaced whole or not at all.
namespace DataFile {

// Far above the largest legitimate file (a full address book is about 2 MB).
inline constexpr size_t kReadLimit = 64 * 1024 * 1024;

enum class ReadResult {
    Read,
    Cut, // only when asked to cut: larger than the bound, and its first bytes were read
    Missing, // nothing there, or no regular file: a folder, a pipe, a device, a link to one (any link if refused)
    TooLarge, // larger than the bound
    Failed, // it is there but could not be read
};

// What read does with a symbolic link at the path it is given.
enum class Links {
    Follow, // followed to a regular file: the user may have put it there on purpose
    Refuse, // refused, where somebody else may plant one (a folder that others write to)
};

struct ReadOptions
{
    size_t limit = kReadLimit;
    // Past the bound: the first `limit` bytes and Cut, instead of TooLarge and nothing.
    bool cut = false;
    Links links = Links::Follow;
    // The folder a relative path is taken from (an open folder, or AT_FDCWD).
    int folder = AT_FDCWD;
};

// Reads the regular file at path whole; opening never waits on a pipe or a device. st gets the
// file's status as it was read; when the result is Missing its type says what is there (0:
// nothing), and on Failed errno says why. resizeTo(n) makes the caller's buffer n bytes long
// and returns where it starts; on anything but Read and Cut its contents mean nothing.
ReadResult read(const std::string &path, struct stat &st, const std::function<char *(size_t)> &resizeTo,
    const ReadOptions &options = {});

// The same into a std::string, QByteArray or any buffer with resize() and data().
template <typename Buffer>
ReadResult read(const std::string &path, Buffer &bytes, struct stat *st = nullptr, const ReadOptions &options = {})
{
    struct stat own
    {
    };
    return read(
        path, st ? *st : own,
        [&bytes](size_t n) {
            bytes.resize(decltype(bytes.size())(n));
            return bytes.data();
        },
        options);
}

// Whether the data must be on the disk before the file is replaced. Files that hold the user's
// data need it; a file that lives only until a command has read it can skip the cost.
enum class Sync { Flush, NoFlush };

// Replaces the file at path with bytes, whole or not at all: they go to a new file beside it
// (named path + ".XXXXXX.nuevo"), every step is checked, and only then is it renamed over
// path. A link at path is replaced, never written through; a folder, pipe or device there is
// left alone and the save fails. The new file keeps the mode and owner of the regular file it
// replaces; where there was none it gets newMode (less the umask). On failure the old file is
// as it was, the new one is gone and error says why. Leftovers of earlier saves of the same
// file that were cut short are removed first.
bool replace(
    const std::string &path, std::string_view bytes, Sync sync, std::string &error, mode_t newMode = 0666);

// Adds bytes at the end of the regular file at path, creating it with newMode (less the
// umask) where there is none, and waits until they are on the disk. A link, a folder, a pipe
// or a device at path is neither followed nor opened for good. Returns 0, or the errno of the
// step that failed; on success *sizeAfter (when given) is the file's size after them.
int append(const std::string &path, std::string_view bytes, mode_t newMode = 0666, off_t *sizeAfter = nullptr);

// Removes the name path (a link itself, never what it points to); true when it is gone, also
// when it was not there. Otherwise errno says why.
bool remove(const std::string &path);

// The status of the file at path (a link followed), as the file system keeps it; false, with
// errno, when there is none.
bool status(const std::string &path, struct stat &st);

// The coarse real-time clock, by which the file system stamps the times of a change.
struct timespec coarseNow();

} // namespace DataFile
