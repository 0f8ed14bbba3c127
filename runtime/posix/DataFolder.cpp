#include "runtime/posix/DataFolder.h"

#include "runtime/DataFileQt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DataFolder {

namespace {

QString homeDir()
{
    const QString home = QFile::decodeName(qgetenv("HOME"));
    if (home.startsWith(QLatin1Char('/')))
        return home;
    const passwd *entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? QFile::decodeName(entry->pw_dir) : QDir::tempPath();
}

// Every folder it makes on the way is the user's alone, as the XDG rules ask.
void makePrivatePath(const QString &dir)
{
    if (QFileInfo(dir).isDir())
        return;
    makePrivatePath(QFileInfo(dir).absolutePath());
    ::mkdir(QFile::encodeName(dir).constData(), 0700);
}

// Writes bytes to a new file at target, or leaves everything as it was: a private temporary
// file first, then a hard link, which never replaces a file that appeared meanwhile.
void placeNewFile(const std::string &target, const std::string &bytes)
{
    const std::string temp = target + ".copia";
    ::unlink(temp.c_str()); // a leftover of a copy cut short; only ever ours
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    const bool written = done == bytes.size() && ::fsync(fd) == 0;
    // A link that fails found a file there that appeared meanwhile: the user's, and it stays.
    if (::close(fd) == 0 && written) {
        [[maybe_unused]] const int placed = ::link(temp.c_str(), target.c_str());
    }
    ::unlink(temp.c_str());
}

// An address book and a recent list left beside a program that may not write there are the
// user's to start from: each one goes to the user's folder when it has none of that name.
// Only a regular file is taken (no link, pipe or device), no larger than a data file is read.
void offerProgramFiles(const QString &programDir, const QString &dataDir)
{
    for (const char *name : { "enviara.ini", "mru.ini" }) {
        const std::string target = QFile::encodeName(dataDir + QLatin1Char('/') + QLatin1String(name)).toStdString();
        struct stat there
        {
        };
        if (::lstat(target.c_str(), &there) == 0 || errno != ENOENT)
            continue; // whatever the user has there stays
        std::string bytes;
        DataFile::ReadOptions options;
        options.links = DataFile::Links::Refuse;
        const std::string source = QFile::encodeName(programDir + QLatin1Char('/') + QLatin1String(name)).toStdString();
        if (DataFile::read(source, bytes, nullptr, options) == DataFile::ReadResult::Read)
            placeNewFile(target, bytes);
    }
}

} // namespace

QString userFolder()
{
    // A relative XDG_DATA_HOME is invalid and ignored.
    QString base = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (!base.startsWith(QLatin1Char('/')))
        base = homeDir() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/velrisa"));
}

QString choose(const QString &exeDir)
{
    const QString exe = QDir::cleanPath(exeDir);
    if (!QFileInfo::exists(exe + QLatin1Char('/') + QLatin1String(kInstalledMark)) && DataFileQt::folderWritable(exe))
        return exe;
    const QString dir = userFolder();
    makePrivatePath(dir);
    offerProgramFiles(exe, dir);
    return dir;
}

} // namespace DataFolder
