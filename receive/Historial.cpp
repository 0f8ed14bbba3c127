#include "receive/Historial.h"

#include "receive/ArchivoSeguro.h"
#include "receive/ModeloRecibidos.h"
#include "receive/Registro.h"

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

// The whole file or nothing: a temporary beside it, flushed to the disk, then renamed over it.
bool escribirAtomico(const QString &ruta, const QByteArray &bytes, QString *error)
{
    const QString temporal = ruta + QStringLiteral(".nuevo");
    const QByteArray nombre = QFile::encodeName(temporal);
    ::unlink(nombre.constData()); // a crash's leftover
    const int fd = ::open(nombre.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QStringLiteral("%1: %2").arg(temporal, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    qint64 escritos = 0;
    int fallo = 0;
    while (escritos < bytes.size() && !fallo) {
        const ssize_t n = ::write(fd, bytes.constData() + escritos, size_t(bytes.size() - escritos));
        if (n > 0)
            escritos += n;
        else if (n == 0 || errno != EINTR)
            fallo = n == 0 ? EIO : errno;
    }
    if (!fallo && ::fsync(fd) != 0)
        fallo = errno;
    if (::close(fd) != 0 && !fallo)
        fallo = errno;
    if (!fallo && ::rename(nombre.constData(), QFile::encodeName(ruta).constData()) != 0)
        fallo = errno;
    if (fallo) {
        ::unlink(nombre.constData());
        *error = QStringLiteral("%1: %2").arg(ruta, QString::fromLocal8Bit(std::strerror(fallo)));
        return false;
    }
    return true;
}

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
            o.value(QStringLiteral("cortado")).toBool(), limpio(o.value(QStringLiteral("texto")), true) };
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
            { QStringLiteral("cortado"), m.cortado }, { QStringLiteral("texto"), m.texto } });
    }
    QStringList mostrados(m_mostrados.cbegin(), m_mostrados.cend());
    mostrados.sort();
    const QJsonObject raiz { { QStringLiteral("formato"), 1 }, { QStringLiteral("mensajes"), mensajes },
        { QStringLiteral("mostrados"), QJsonArray::fromStringList(mostrados) } };
    return escribirAtomico(ruta(), QJsonDocument(raiz).toJson(QJsonDocument::Compact), &m_error);
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
