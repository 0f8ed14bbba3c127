#include "dispatch/ArchivoLote.h"

#include "runtime/Archivos.h"

namespace ArchivoLote {

bool escribir(const QString &ruta, const QByteArray &contenido, QString &error)
{
    // The file lives only until the command it holds has run: not worth a sync per recipient.
    return Archivos::guardar(ruta, contenido, ArchivoDatos::Sincronia::SinSincronizar, &error);
}

} // namespace ArchivoLote
