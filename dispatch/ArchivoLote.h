#pragma once

#include <QByteArray>
#include <QString>

// Writing the batch file of one dispatch.
namespace ArchivoLote {

// Replaces the file at ruta with contenido, whole or not at all (ArchivoDatos::guardar), so
// that no reader ever sees half a batch file and a link at ruta is replaced rather than written
// through. It is not forced to disk: it lives only until the command it holds has run, and a
// sync per recipient would cost more than the rest of the dispatch. On failure the old file is
// left as it was, nothing else is left behind and error says what failed.
bool escribir(const QString &ruta, const QByteArray &contenido, QString &error);

} // namespace ArchivoLote
