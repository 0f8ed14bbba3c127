#include "addressbook/BusquedaRed.h"

#include "net/NetCommand.h"
#include "net/NetConfig.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

namespace {

// net's first line when it says what went wrong, else how it ended.
QString motivo(QProcess &net, const QByteArray &salida)
{
    QByteArray linea = salida.left(salida.indexOf('\n')).trimmed();
    if (linea.isEmpty()) {
        const QByteArray errores = net.readAllStandardError().left(BusquedaRed::kMaxSalida);
        linea = errores.left(errores.indexOf('\n')).trimmed();
    }
    if (!linea.isEmpty())
        return QString::fromUtf8(linea);
    if (net.exitStatus() == QProcess::CrashExit)
        return QStringLiteral("El programa net terminó de forma anormal.");
    return QStringLiteral("El programa net terminó con el código %1.").arg(net.exitCode());
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
    QProcess net;
    net.setProgram(programa);
    net.setArguments(tipo == 0 ? QStringList { QStringLiteral("view") }
                               : QStringList { QStringLiteral("view"), QStringLiteral("/domain") });
    net.setWorkingDirectory(carpetaPrograma);
    net.setStandardInputFile(QProcess::nullDevice());

    QByteArray salida;
    bool demasiado = false;
    QEventLoop bucle;
    QTimer plazo;
    plazo.setSingleShot(true);
    QObject::connect(&plazo, &QTimer::timeout, &bucle, &QEventLoop::quit);
    QObject::connect(&net, &QProcess::finished, &bucle, &QEventLoop::quit);
    QObject::connect(&net, &QProcess::errorOccurred, &bucle, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            bucle.quit();
    });
    QObject::connect(&net, &QProcess::readyReadStandardOutput, &bucle, [&] {
        salida += net.readAllStandardOutput();
        if (salida.size() > kMaxSalida) {
            demasiado = true;
            bucle.quit();
        }
    });
    net.start();
    plazo.start(espera);
    // Windows repaint meanwhile; keys and clicks wait until the answer is in.
    if (net.state() != QProcess::NotRunning || net.error() != QProcess::FailedToStart)
        bucle.exec(QEventLoop::ExcludeUserInputEvents);

    if (net.state() != QProcess::NotRunning) {
        // net takes its own children down when asked to stop; it is killed only if it does not.
        net.terminate();
        if (!net.waitForFinished(1000)) {
            net.kill();
            net.waitForFinished(1000);
        }
        if (demasiado)
            return { {}, demasiadaSalida() };
        return { {}, QStringLiteral("La búsqueda en la red no ha terminado en %1 segundos.").arg(espera / 1000) };
    }
    if (net.error() == QProcess::FailedToStart)
        return { {}, QStringLiteral("No se pudo ejecutar el programa %1.").arg(QDir::toNativeSeparators(programa)) };
    salida += net.readAllStandardOutput();
    if (salida.size() > kMaxSalida)
        return { {}, demasiadaSalida() };
    if (net.exitStatus() != QProcess::NormalExit || net.exitCode() != 0)
        return { {}, motivo(net, salida) };
    return { leerNombres(salida), {} };
}
