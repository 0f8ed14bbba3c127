#include "receive/Historial.h"

#include "receive/ArchivoSeguro.h"
#include "receive/ModeloRecibidos.h"
#include "receive/Registro.h"
#include "runtime/Archivos.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kArchivo = QStringLiteral("recibidos.json");
// A thousand messages of 1,600 characters, each escaped at worst: well under this.
constexpr size_t kMaxBytes = 32 * 1024 * 1024;
constexpr int kMaxMostrados = 100000;

QString limpio(const QJsonValue &valor, bool esTexto)
{
    const std::string bytes = valor.toString().toStdString();
    return QString::fromStdString(esTexto ? Registro::limpiarTexto(bytes) : Registro::limpiarNombre(bytes));
}

} // namespace

Historial::Historial(const QString &carpeta)
    : m_carpeta(carpeta)
    , m_modelo(std::make_unique<ModeloRecibidos>())
{ }

Historial::~Historial() = default;

QString Historial::carpetaPredeterminada()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/velrisa");
}

QString Historial::ruta() const
{
    return m_carpeta + QLatin1Char('/') + kArchivo;
}

bool Historial::cargar()
{
    m_error.clear();
    const ArchivoSeguro::Lectura l = ArchivoSeguro::leer(AT_FDCWD, QFile::encodeName(ruta()).toStdString(), kMaxBytes);
    m_nuevo = l.falta;
    if (l.falta)
        return true;
    QJsonParseError analisis {};
    const QJsonDocument doc = l.error.empty() && !l.excede
        ? QJsonDocument::fromJson(QByteArray::fromStdString(l.bytes), &analisis)
        : QJsonDocument();
    if (!doc.isObject()) {
        const QString motivo = !l.error.empty() ? QString::fromStdString(l.error)
            : l.excede                          ? QStringLiteral("es demasiado grande")
                                                : QStringLiteral("no es un historial (%1)").arg(analisis.errorString());
        const QString aparte = ruta() + QStringLiteral(".ilegible-")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
        const bool apartado
            = ::rename(QFile::encodeName(ruta()).constData(), QFile::encodeName(aparte).constData()) == 0;
        m_error = apartado ? QStringLiteral("%1 %2; se ha guardado aparte como %3").arg(ruta(), motivo, aparte)
                           : QStringLiteral("%1 %2").arg(ruta(), motivo);
        return false;
    }
    const QJsonObject raiz = doc.object();
    QList<Buzon::Mensaje> mensajes;
    for (const QJsonValue &v : raiz.value(QStringLiteral("mensajes")).toArray()) {
        const QJsonObject o = v.toObject();
        const QString id = o.value(QStringLiteral("id")).toString();
        const QJsonValue llegada = o.value(QStringLiteral("llegada"));
        if (!Registro::esNombreRegistro(id.toStdString()) || !llegada.isDouble())
            continue;
        mensajes << Buzon::Mensaje { id, limpio(o.value(QStringLiteral("de")), false),
            limpio(o.value(QStringLiteral("para")), false),
            QDateTime::fromMSecsSinceEpoch(qint64(llegada.toDouble()), Qt::UTC),
            o.value(QStringLiteral("cortado")).toBool(), limpio(o.value(QStringLiteral("texto")), true),
            limpio(o.value(QStringLiteral("equipo")), false), limpio(o.value(QStringLiteral("direccion")), false) };
    }
    m_modelo->reemplazar(mensajes);
    m_modelo->quitarPrimeras(m_modelo->rowCount() - kMaxMensajes);
    m_mostrados.clear();
    for (const QJsonValue &v : raiz.value(QStringLiteral("mostrados")).toArray()) {
        if (m_mostrados.size() >= kMaxMostrados)
            break;
        const QString id = v.toString();
        if (Registro::esNombreRegistro(id.toStdString()))
            m_mostrados.insert(id);
    }
    return true;
}

bool Historial::guardar()
{
    m_error.clear();
    if (!QDir(m_carpeta).exists()) {
        const QByteArray carpeta = QFile::encodeName(m_carpeta);
        if (!QDir().mkpath(QFileInfo(m_carpeta).absolutePath())
            || (::mkdir(carpeta.constData(), 0700) != 0 && errno != EEXIST)) {
            m_error = QStringLiteral("%1: %2").arg(m_carpeta, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    QJsonArray mensajes;
    for (const Buzon::Mensaje &m : m_modelo->filas()) {
        mensajes.append(QJsonObject { { QStringLiteral("id"), m.id }, { QStringLiteral("de"), m.de },
            { QStringLiteral("para"), m.para }, { QStringLiteral("llegada"), double(m.llegada.toMSecsSinceEpoch()) },
            { QStringLiteral("cortado"), m.cortado }, { QStringLiteral("texto"), m.texto },
            { QStringLiteral("equipo"), m.equipo }, { QStringLiteral("direccion"), m.direccion } });
    }
    QStringList mostrados(m_mostrados.cbegin(), m_mostrados.cend());
    mostrados.sort();
    const QJsonObject raiz { { QStringLiteral("formato"), 1 }, { QStringLiteral("mensajes"), mensajes },
        { QStringLiteral("mostrados"), QJsonArray::fromStringList(mostrados) } };
    // What a user received is that user's alone, whatever the folder lets others see.
    return Archivos::guardar(ruta(), QJsonDocument(raiz).toJson(QJsonDocument::Compact),
        ArchivoDatos::Sincronia::Sincronizar, &m_error, 0600);
}

bool Historial::agregar(const Buzon::Mensaje &mensaje)
{
    if (!m_modelo->insertar(mensaje))
        return false;
    m_modelo->quitarPrimeras(m_modelo->rowCount() - kMaxMensajes);
    return true;
}

bool Historial::olvidarMostradosSalvo(const QSet<QString> &presentes)
{
    const qsizetype antes = m_mostrados.size();
    m_mostrados.intersect(presentes);
    return m_mostrados.size() != antes;
}
