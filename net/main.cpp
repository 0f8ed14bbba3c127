#include "net/NetCommand.h"

#include <QCoreApplication>
#include <QDir>

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

void writeLines(FILE *stream, const QStringList &lines)
{
    for (const QString &line : lines) {
        const QByteArray bytes = line.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    }
    std::fflush(stream);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString iniPath = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("net.ini"));
    NetCommand command(iniPath, senderName());
    const NetCommand::Result result = command.run(QCoreApplication::arguments().mid(1));
    writeLines(stdout, result.out);
    writeLines(stderr, result.err);
    return result.exitCode;
}
