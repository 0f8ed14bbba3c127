#include "addressbook/BusquedaRed.h"

#include "net/NetCommand.h"
#include "net/NetConfig.h"
#include "runtime/ProgramOutput.h"

#include <QDir>
#include <QFileInfo>

namespace {

// net's first line when it says what went wrong, else how it ended.
QString motivo(const ProgramOutput::Result &net)
{
    QByteArray linea = net.out.left(net.out.indexOf('\n')).trimmed();
    if (linea.isEmpty())
        linea = net.err.left(net.err.indexOf('\n')).trimmed();
    if (!linea.isEmpty())
        return QString::fromUtf8(linea);
    if (net.end == ProgramOutput::Result::End::Crashed)
        return QStringLiteral("El programa net terminó de forma anormal.");
    return QStringLiteral("El programa net terminó con el código %1.").arg(net.exitCode);
}

QString demasiadaSalida()
{
    return QStringLiteral("El programa net ha escrito más de %1 bytes; no es una lista de nombres.")
        .arg(BusquedaRed::kMaxSalida);
}

} // namespace

int BusquedaRed::esperaMs(const QString &carpetaPrograma)
{
    const NetConfig config(QDir(carpetaPrograma).filePath(QStringLiteral("net.ini")).toStdString());
    return (2 * config.timeoutSeconds() + 2) * 1000;
}

QStringList BusquedaRed::leerNombres(const QByteArray &salida)
{
    QStringList nombres;
    const QList<QByteArray> lineas = salida.split('\n');
    for (qsizetype i = 1; i < lineas.size(); ++i) {
        const QByteArray nombre = lineas.at(i).trimmed();
        if (!nombre.isEmpty() && NetCommand::validName(QString::fromUtf8(nombre).toStdString()))
            nombres << QString::fromUtf8(nombre);
    }
    return nombres;
}

BusquedaRed::Resultado BusquedaRed::buscar(const QString &carpetaPrograma, int tipo)
{
    // Only our own net, never one found on the search path.
    const QString programa = QDir(carpetaPrograma).filePath(QStringLiteral("net"));
    const QFileInfo info(programa);
    if (!info.isFile() || !info.isExecutable())
        return { {},
            QStringLiteral("No se encuentra el programa net en %1.").arg(QDir::toNativeSeparators(carpetaPrograma)) };

    const int espera = esperaMs(carpetaPrograma);
    const ProgramOutput::Result net = ProgramOutput::run(programa,
        tipo == 0 ? QStringList { QStringLiteral("view") }
                  : QStringList { QStringLiteral("view"), QStringLiteral("/domain") },
        carpetaPrograma, espera, kMaxSalida);
    switch (net.end) {
    case ProgramOutput::Result::End::TooMuchOutput:
        return { {}, demasiadaSalida() };
    case ProgramOutput::Result::End::TimedOut:
        return { {}, QStringLiteral("La búsqueda en la red no ha terminado en %1 segundos.").arg(espera / 1000) };
    case ProgramOutput::Result::End::FailedToStart:
        return { {}, QStringLiteral("No se pudo ejecutar el programa %1.").arg(QDir::toNativeSeparators(programa)) };
    case ProgramOutput::Result::End::Crashed:
        return { {}, motivo(net) };
    case ProgramOutput::Result::End::Finished:
        break;
    }
    if (net.exitCode != 0)
        return { {}, motivo(net) };
    return { leerNombres(net.out), {} };
}
