#include "runtime/posix/DataFolder.h"

#include "runtime/Archivos.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

} // namespace

QString choose(const QString &exeDir)
{
    const QString exe = QDir::cleanPath(exeDir);
    if (!QFileInfo::exists(exe + QLatin1Char('/') + QLatin1String(kInstalledMark)) && Archivos::folderWritable(exe))
        return exe;
    // A relative XDG_DATA_HOME is invalid and ignored.
    QString base = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (!base.startsWith(QLatin1Char('/')))
        base = homeDir() + QStringLiteral("/.local/share");
    const QString dir = QDir::cleanPath(base + QStringLiteral("/velrisa"));
    makePrivatePath(dir);
    return dir;
}

} // namespace DataFolder
