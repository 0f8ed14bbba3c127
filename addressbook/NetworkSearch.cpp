#include "addressbook/NetworkSearch.h"

#include "net/NetCommand.h"
#include "net/NetConfig.h"
#include "runtime/ProgramOutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// net's first line when it says what went wrong, else how it ended.
QString reason(const ProgramOutput::Result &net)
{
    QByteArray line = net.out.left(net.out.indexOf('\n')).trimmed();
    if (line.isEmpty())
        line = net.err.left(net.err.indexOf('\n')).trimmed();
    if (!line.isEmpty())
        return QString::fromUtf8(line);
    if (net.end == ProgramOutput::Result::End::Crashed)
        return QStringLiteral("El programa net terminó de forma anormal.");
    return QStringLiteral("El programa net terminó con el código %1.").arg(net.exitCode);
}

QString tooMuchOutput()
{
    return QStringLiteral("El programa net ha escrito más de %1 bytes; no es una lista de nombres.")
        .arg(NetworkSearch::kMaxOutput);
}

} // namespace

int NetworkSearch::waitMs(const QString &programFolder, const std::string &systemIni)
{
    // The net.ini that the net beside the program reads, by net's own rule.
    const NetConfig config(NetConfig::applicableIni(QFile::encodeName(programFolder).toStdString(), systemIni));
    return (2 * config.timeoutSeconds() + 2) * 1000;
}

QStringList NetworkSearch::readNames(const QByteArray &output)
{
    QStringList names;
    const QList<QByteArray> lines = output.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray name = lines.at(i).trimmed();
        if (!name.isEmpty() && NetCommand::validName(QString::fromUtf8(name).toStdString()))
            names << QString::fromUtf8(name);
    }
    return names;
}

NetworkSearch::Result NetworkSearch::search(const QString &programFolder, int kind)
{
    // Only our own net, never one found on the search path.
    const QString program = QDir(programFolder).filePath(QStringLiteral("net"));
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable())
        return { {},
            QStringLiteral("No se encuentra el programa net en %1.").arg(QDir::toNativeSeparators(programFolder)) };

    const int wait = waitMs(programFolder);
    const ProgramOutput::Result net = ProgramOutput::run(program,
        kind == 0 ? QStringList { QStringLiteral("view") }
                  : QStringList { QStringLiteral("view"), QStringLiteral("/domain") },
        programFolder, wait, kMaxOutput);
    switch (net.end) {
    case ProgramOutput::Result::End::TooMuchOutput:
        return { {}, tooMuchOutput() };
    case ProgramOutput::Result::End::TimedOut:
        return { {}, QStringLiteral("La búsqueda en la red no ha terminado en %1 segundos.").arg(wait / 1000) };
    case ProgramOutput::Result::End::FailedToStart:
        return { {}, QStringLiteral("No se pudo ejecutar el programa %1.").arg(QDir::toNativeSeparators(program)) };
    case ProgramOutput::Result::End::Crashed:
        return { {}, reason(net) };
    case ProgramOutput::Result::End::Finished:
        break;
    }
    if (net.exitCode != 0)
        return { {}, reason(net) };
    return { readNames(net.out), {} };
}
