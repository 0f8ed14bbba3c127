#include "receive/Historial.h"

#include "receive/ModeloRecibidos.h"
#include "receiver/Registro.h"
#include "receiver/SharedFolderFile.h"
#include "runtime/DataFileQt.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cmath>
#include <cstring>
// The history's own folder is opened, or made for this user alone, and its journal removed once
// the whole file holds it; the renames themselves go through the receiver's SharedFolderFile.
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kArchivo = QStringLiteral("recibidos.json");
const QString kDiario = QStringLiteral("recibidos.diario");
// A thousand messages of 1,600 characters, each escaped at worst: well under this.
constexpr size_t kMaxBytes = 32 * 1024 * 1024;
constexpr int kMaxMostrados = 100000;
// The journal is folded into the file once it is as large as the file, or as this when the file is small.
constexpr qint64 kMinDiario = 256 * 1024;
// The latest arrival a record's name can carry (ten digits of seconds), in milliseconds.
constexpr double kMaxLlegada = 9999999999999.0;

QString limpio(const QJsonValue &valor, bool esTexto)
{
    const std::string bytes = valor.toString().toStdString();
    return QString::fromStdString(esTexto ? Registro::limpiarTexto(bytes) : Registro::limpiarNombre(bytes));
}

bool esId(const QJsonValue &valor)
{
    return valor.isString() && Registro::esNombreRegistro(valor.toString().toStdString());
}

// A message as the file holds it; nothing when a field is missing, of another kind or out of range.
std::optional<Buzon::Mensaje> mensajeDe(const QJsonValue &valor)
{
    const QJsonObject o = valor.toObject();
    const QJsonValue llegada = o.value(QStringLiteral("llegada"));
    const double ms = llegada.toDouble(-1);
    if (!valor.isObject() || !esId(o.value(QStringLiteral("id"))) || !o.value(QStringLiteral("de")).isString()
        || !o.value(QStringLiteral("para")).isString() || !o.value(QStringLiteral("texto")).isString()
        || !o.value(QStringLiteral("cortado")).isBool() || !llegada.isDouble() || !(ms >= 0 && ms <= kMaxLlegada)
        || ms != std::floor(ms))
        return std::nullopt;
    // The sending computer and its address came later: older entries have neither.
    const QJsonValue equipo = o.value(QStringLiteral("equipo"));
    const QJsonValue direccion = o.value(QStringLiteral("direccion"));
    if (!(equipo.isUndefined() || equipo.isString()) || !(direccion.isUndefined() || direccion.isString()))
        return std::nullopt;
    return Buzon::Mensaje { o.value(QStringLiteral("id")).toString(), limpio(o.value(QStringLiteral("de")), false),
        limpio(o.value(QStringLiteral("para")), false), QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC),
        o.value(QStringLiteral("cortado")).toBool(), limpio(o.value(QStringLiteral("texto")), true),
        limpio(equipo, false), limpio(direccion, false) };
}

QJsonObject objeto(const Buzon::Mensaje &m)
{
    return QJsonObject { { QStringLiteral("id"), m.id }, { QStringLiteral("de"), m.de },
        { QStringLiteral("para"), m.para }, { QStringLiteral("llegada"), double(m.llegada.toMSecsSinceEpoch()) },
        { QStringLiteral("cortado"), m.cortado }, { QStringLiteral("texto"), m.texto },
        { QStringLiteral("equipo"), m.equipo }, { QStringLiteral("direccion"), m.direccion } };
}

QByteArray linea(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QString entradas(int n)
{
    return n == 1 ? QStringLiteral("tiene 1 entrada no válida") : QStringLiteral("tiene %1 entradas no válidas").arg(n);
}

// What is wrong with the bytes of recibidos.json (empty when nothing); the valid part goes to
// mensajes and mostrados either way.
QString analizarArchivo(const QByteArray &bytes, QList<Buzon::Mensaje> &mensajes, QSet<QString> &mostrados)
{
    QJsonParseError analisis {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &analisis);
    if (!doc.isObject())
        return QStringLiteral("no es un historial (%1)").arg(analisis.errorString());
    const QJsonObject raiz = doc.object();
    const QJsonValue lista = raiz.value(QStringLiteral("mensajes"));
    const QJsonValue vistos = raiz.value(QStringLiteral("mostrados"));
    if (raiz.value(QStringLiteral("formato")) != QJsonValue(1) || !lista.isArray() || !vistos.isArray())
        return QStringLiteral("no tiene la forma de un historial");
    int malas = 0;
    for (const QJsonValue &v : lista.toArray()) {
        if (const std::optional<Buzon::Mensaje> m = mensajeDe(v))
            mensajes << *m;
        else
            ++malas;
    }
    for (const QJsonValue &v : vistos.toArray()) {
        if (!esId(v))
            ++malas;
        else if (mostrados.size() < kMaxMostrados)
            mostrados.insert(v.toString());
    }
    return malas ? entradas(malas) : QString();
}

} // namespace

Historial::Historial(const QString &carpeta)
    : m_carpeta(carpeta)
    , m_modelo(std::make_unique<ModeloRecibidos>())
    , m_todo(true)
{ }

Historial::~Historial() = default;

QString Historial::ruta() const
{
    return m_carpeta + QLatin1Char('/') + kArchivo;
}

QString Historial::rutaDiario() const
{
    return m_carpeta + QLatin1Char('/') + kDiario;
}

bool Historial::cargar()
{
    m_error.clear();
    m_noEscribir.clear();
    m_mostrados.clear();
    m_lineas.clear();
    m_todo = false;
    m_bytesArchivo = m_bytesDiario = 0;
    // Without a folder of its own the files would land wherever the process happens to be.
    if (!QDir::isAbsolutePath(m_carpeta)) {
        m_noEscribir = m_error = QStringLiteral("no hay carpeta de datos para el historial");
        return false;
    }
    QStringList problemas;
    // Either file that is not what this class writes is set aside whole; what of it was valid is kept.
    const auto apartarConMotivo = [this, &problemas](const QString &archivo, const QString &motivo) {
        m_todo = true;
        QString porque;
        const QString aparte = apartar(archivo, &porque);
        if (aparte.isEmpty()) {
            // Never written over: the history is not saved in this run.
            m_noEscribir = QStringLiteral("%1 %2 y no se puede guardar aparte (%3)").arg(archivo, motivo, porque);
            problemas << m_noEscribir;
        } else {
            problemas << QStringLiteral("%1 %2; se ha guardado aparte como %3").arg(archivo, motivo, aparte);
        }
    };
    const auto leer = [](const QString &archivo, QByteArray &bytes, QString &motivo) {
        const SharedFolderFile::Contents l
            = SharedFolderFile::read(AT_FDCWD, QFile::encodeName(archivo).toStdString(), kMaxBytes);
        motivo = l.missing     ? QString()
            : !l.error.empty() ? QString::fromStdString(l.error)
            : l.exceeds        ? QStringLiteral("es demasiado grande")
                               : QString();
        bytes = QByteArray::fromStdString(l.bytes);
        return !l.missing;
    };

    QList<Buzon::Mensaje> mensajes;
    QSet<QString> mostrados;
    QByteArray bytes;
    QString motivo;
    m_nuevo = !leer(ruta(), bytes, motivo);
    if (m_nuevo) {
        m_todo = true; // the first write makes the file
    } else {
        if (motivo.isEmpty())
            motivo = analizarArchivo(bytes, mensajes, mostrados);
        m_bytesArchivo = bytes.size();
        if (!motivo.isEmpty())
            apartarConMotivo(ruta(), motivo);
    }

    // The journal: one message or one pop-up per line, in the order they happened.
    QSet<QString> conocidos = mostrados;
    for (const Buzon::Mensaje &m : std::as_const(mensajes))
        conocidos.insert(m.id);
    QStringList vistosDespues;
    if (leer(rutaDiario(), bytes, motivo)) {
        m_nuevo = false;
        m_bytesDiario = bytes.size();
        int malas = 0;
        QList<QByteArray> lineas = bytes.split('\n');
        // A last line without its line end was being written when the program stopped: what
        // it said is still in the mailbox. The journal is folded in at the next write.
        if (!lineas.last().isEmpty())
            m_todo = true;
        lineas.removeLast();
        for (const QByteArray &l : std::as_const(lineas)) {
            const QJsonObject o = QJsonDocument::fromJson(l).object();
            const QJsonValue visto = o.value(QStringLiteral("mostrado"));
            if (o.size() == 1 && esId(visto)) {
                vistosDespues << visto.toString();
            } else if (const std::optional<Buzon::Mensaje> m = mensajeDe(o)) {
                mensajes << *m;
                conocidos.insert(m->id);
            } else {
                ++malas;
            }
        }
        if (motivo.isEmpty() && malas)
            motivo = entradas(malas);
        if (!motivo.isEmpty())
            apartarConMotivo(rutaDiario(), motivo);
    }
    // A pop-up counts only with its message: after a crash the disk may hold a later line and
    // not an earlier one, and a record marked shown whose message is not here would be lost.
    for (const QString &id : std::as_const(vistosDespues)) {
        if (conocidos.contains(id) && mostrados.size() < kMaxMostrados)
            mostrados.insert(id);
    }
    m_modelo->reemplazar(mensajes);
    m_modelo->quitarPrimeras(m_modelo->rowCount() - kMaxMensajes);
    m_mostrados = std::move(mostrados);
    m_error = problemas.join(QStringLiteral("; "));
    return problemas.isEmpty();
}

QString Historial::apartar(const QString &archivo, QString *porque)
{
    const QString nombre = QFileInfo(archivo).fileName() + QStringLiteral(".ilegible-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const int carpeta = ::open(QFile::encodeName(m_carpeta).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (carpeta < 0) {
        *porque = QString::fromStdString(SharedFolderFile::describeError(errno));
        return {};
    }
    QString aparte;
    // Another file set aside in the same second keeps its name: this one takes the next number.
    for (int n = 1; n <= 1000 && aparte.isEmpty(); ++n) {
        const QString hacia = n == 1 ? nombre : nombre + QStringLiteral("-%1").arg(n);
        bool existe = false;
        const std::string error
            = SharedFolderFile::renameNoReplace(carpeta, QFile::encodeName(QFileInfo(archivo).fileName()).toStdString(),
                QFile::encodeName(hacia).toStdString(), &existe);
        if (error.empty())
            aparte = m_carpeta + QLatin1Char('/') + hacia;
        else if (!existe || n == 1000)
            *porque = QString::fromStdString(error);
        if (!error.empty() && !existe)
            break;
    }
    ::close(carpeta);
    return aparte;
}

bool Historial::guardar()
{
    m_error.clear();
    if (!m_noEscribir.isEmpty()) {
        m_error = m_noEscribir;
        return false;
    }
    if (!pendiente())
        return true;
    if (!QDir(m_carpeta).exists()) {
        const QByteArray carpeta = QFile::encodeName(m_carpeta);
        if (!QDir().mkpath(QFileInfo(m_carpeta).absolutePath())
            || (::mkdir(carpeta.constData(), 0700) != 0 && errno != EEXIST)) {
            m_error = QStringLiteral("%1: %2").arg(m_carpeta, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    qint64 nuevos = 0;
    for (const QByteArray &l : std::as_const(m_lineas))
        nuevos += l.size();
    if (m_todo || m_bytesDiario + nuevos > std::max(m_bytesArchivo, kMinDiario))
        return guardarTodo();
    return anadirAlDiario();
}

bool Historial::guardarTodo()
{
    QJsonArray mensajes;
    for (const Buzon::Mensaje &m : m_modelo->filas())
        mensajes.append(objeto(m));
    QStringList mostrados(m_mostrados.cbegin(), m_mostrados.cend());
    mostrados.sort();
    const QJsonObject raiz { { QStringLiteral("formato"), 1 }, { QStringLiteral("mensajes"), mensajes },
        { QStringLiteral("mostrados"), QJsonArray::fromStringList(mostrados) } };
    const QByteArray bytes = QJsonDocument(raiz).toJson(QJsonDocument::Compact);
    // What a user received is that user's alone, whatever the folder lets others see.
    if (!DataFileQt::replace(ruta(), bytes, DataFile::Sync::Flush, &m_error, 0600))
        return false;
    m_bytesArchivo = bytes.size();
    m_lineas.clear();
    m_todo = false;
    // The file holds all the journal said. Should the journal outlive this (a crash, a failed
    // removal), reading it again adds nothing: its messages and pop-ups are there already.
    if (::unlink(QFile::encodeName(rutaDiario()).constData()) == 0 || errno == ENOENT)
        m_bytesDiario = 0;
    return true;
}

bool Historial::anadirAlDiario()
{
    const QByteArray bytes = m_lineas.join();
    off_t tamano = 0;
    const int error = DataFile::append(QFile::encodeName(rutaDiario()).toStdString(),
        std::string_view(bytes.constData(), size_t(bytes.size())), 0600, &tamano);
    if (error != 0) {
        m_error = QStringLiteral("%1: %2").arg(
            rutaDiario(), QString::fromStdString(SharedFolderFile::describeError(error)));
        // A line may be half there: the next write is the whole file, which leaves the journal behind.
        m_todo = true;
        return false;
    }
    m_bytesDiario = tamano;
    m_lineas.clear();
    return true;
}

bool Historial::agregar(const Buzon::Mensaje &mensaje)
{
    if (!m_modelo->insertar(mensaje))
        return false;
    m_modelo->quitarPrimeras(m_modelo->rowCount() - kMaxMensajes);
    m_lineas << linea(objeto(mensaje));
    return true;
}

void Historial::marcarMostrado(const QString &id)
{
    if (m_mostrados.contains(id))
        return;
    m_mostrados.insert(id);
    m_lineas << linea(QJsonObject { { QStringLiteral("mostrado"), id } });
}

bool Historial::olvidarMostradosSalvo(const QSet<QString> &presentes)
{
    const qsizetype antes = m_mostrados.size();
    m_mostrados.intersect(presentes);
    return m_mostrados.size() != antes;
}
