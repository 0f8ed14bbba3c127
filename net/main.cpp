#include "net/NetCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <cstdio>
#include <pwd.h>
#include <unistd.h>

namespace {

// The logged-in user, as the sender of the message. smbclient would read "%" as the
// start of a password and "/" or "\" as a domain separator, so those become "_".
QString senderName()
{
    QString name;
    if (const passwd *entry = ::getpwuid(::getuid()))
        name = QString::fromLocal8Bit(entry->pw_name);
    if (name.isEmpty())
        name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        name = QStringLiteral("usuario");
    for (QChar &c : name) {
        if (c == QLatin1Char('%') || c == QLatin1Char('/') || c == QLatin1Char('\\') || c.isSpace())
            c = QLatin1Char('_');
    }
    if (name.startsWith(QLatin1Char('-')))
        name[0] = QLatin1Char('_');
    return name;
}

// The folder of this executable, where net.ini lives. The kernel's link names the real
// file, symbolic links resolved, as QCoreApplication::applicationDirPath() would.
QString programDir(const char *argv0)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        return QFileInfo(QFile::decodeName(QByteArray(buffer, n))).absolutePath();
    return QFileInfo(QFile::decodeName(argv0)).canonicalPath();
}

void writeLines(FILE *stream, const QStringList &lines)
{
    for (const QString &line : lines) {
        const QByteArray bytes = line.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    }
    std::fflush(stream);
}

} // namespace

// No QCoreApplication: net needs no event loop, and building one (with its event
// dispatcher and locale set-up) is a measurable share of a run this short.
int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString iniPath = QDir(programDir(argv[0])).filePath(QStringLiteral("net.ini"));
    NetCommand command(iniPath, senderName());
    const NetCommand::Result result = command.run(arguments);
    writeLines(stdout, result.out);
    writeLines(stderr, result.err);
    return result.exitCode;
}
