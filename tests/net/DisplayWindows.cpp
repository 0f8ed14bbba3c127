#include "DisplayWindows.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace DisplayWindows {

QStringList search(const QStringList &arguments, const QString &display)
{
    QByteArray found;
    for (int attempt = 0; attempt < 10; ++attempt) {
        QProcess xdotool;
        if (!display.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), display);
            xdotool.setProcessEnvironment(env);
        }
        xdotool.start(QStringLiteral("xdotool"), QStringList { QStringLiteral("search") } + arguments);
        if (!xdotool.waitForFinished(10000)) {
            xdotool.kill();
            xdotool.waitForFinished();
        }
        found = xdotool.readAllStandardOutput();
        if (!xdotool.readAllStandardError().contains("X Error"))
            break;
    }
    QStringList ids;
    for (const QByteArray &line : found.split('\n')) {
        if (!line.trimmed().isEmpty())
            ids << QString::fromLatin1(line.trimmed());
    }
    return ids;
}

} // namespace DisplayWindows
