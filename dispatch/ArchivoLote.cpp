#include "dispatch/ArchivoLote.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace ArchivoLote {

bool escribir(const QString &ruta, const QByteArray &contenido, QString &error)
{
    // One program instance writes at a time, so its process id makes the name its own; a
    // leftover of a crashed run with the same id is removed (a link itself, never its target).
    const QString temporal = ruta + QStringLiteral(".%1.nuevo").arg(QCoreApplication::applicationPid());
    QFile nuevo(temporal);
    if (!nuevo.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        QFile::remove(temporal);
        if (!nuevo.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            error = nuevo.errorString();
            return false;
        }
    }

    const QFileInfo anterior(ruta);
    bool ok = nuevo.write(contenido) == contenido.size();
    if (ok && anterior.isFile() && !anterior.isSymLink())
        ok = nuevo.setPermissions(anterior.permissions());
    if (ok) {
        nuevo.close();
        ok = nuevo.error() == QFileDevice::NoError;
    }
    if (!ok) {
        error = nuevo.errorString();
        nuevo.close();
        QFile::remove(temporal);
        return false;
    }

    std::error_code fallo;
    std::filesystem::rename(nuevo.filesystemFileName(), QFile(ruta).filesystemFileName(), fallo);
    if (fallo) {
        error = QString::fromLocal8Bit(fallo.message());
        QFile::remove(temporal);
        return false;
    }
    return true;
}

} // namespace ArchivoLote
