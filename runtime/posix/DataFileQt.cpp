#include "runtime/DataFileQt.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace DataFileQt {

namespace {
bool anyWriteBit(const struct stat &st)
{
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}
} // namespace

bool writeRefused(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(file.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        if (!anyWriteBit(st) || ::access(file.constData(), W_OK) != 0)
            return true;
    }
    return !folderWritable(QFileInfo(path).absolutePath());
}

bool folderWritable(const QString &dir)
{
    const QByteArray path = QFile::encodeName(dir);
    struct stat st
    {
    };
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && anyWriteBit(st)
        && ::access(path.constData(), W_OK | X_OK) == 0;
}

bool fileExists(const QString &path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool replace(const QString &path, const QByteArray &bytes, DataFile::Sync sync, QString *error, mode_t newMode)
{
    std::string because;
    if (DataFile::replace(QFile::encodeName(path).toStdString(),
            std::string_view(bytes.constData(), size_t(bytes.size())), sync, because, newMode))
        return true;
    if (error)
        *error = QString::fromLocal8Bit(because);
    return false;
}

} // namespace DataFileQt
