#include "receive/Buzon.h"

#include "receiver/CarpetaSegura.h"
#include "receiver/Entrega.h"
#include "receiver/Registro.h"
#include "receiver/SharedFolderFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
// The mailbox is read through one open folder, by the rules and with the pieces of the receiver
// that writes it (SharedFolderFile, CarpetaSegura), which work on POSIX descriptors.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// More entries than this and the folder is not a mailbox any more: stop reading.
constexpr int kMaxEntradas = 100000;

QString carpetaDe(const QString &ruta)
{
    return QFileInfo(ruta).absolutePath();
}

} // namespace

Buzon::Buzon(const QString &ruta, QObject *parent)
    : QObject(parent)
    , m_ruta(QDir::cleanPath(QDir(ruta).absolutePath()))
{
    m_pendiente.setSingleShot(true);
    m_pendiente.setInterval(0);
    connect(&m_pendiente, &QTimer::timeout, this, &Buzon::leer);
    connect(&m_vigilante, &QFileSystemWatcher::directoryChanged, this, [this] {
        actualizarVigilancia();
        m_pendiente.start();
    });
}

QString Buzon::Mensaje::remitente() const
{
    const bool otroEquipo = !equipo.isEmpty() && equipo.compare(de, Qt::CaseInsensitive) != 0;
    return otroEquipo ? QStringLiteral("%1 (%2)").arg(de, equipo) : de;
}

QString Buzon::rutaPredeterminada()
{
    const QString ruta = qEnvironmentVariable("VELRISA_BUZON");
    return ruta.isEmpty() ? QString::fromLatin1(Entrega::kBuzonPredeterminado) : ruta;
}

QString Buzon::rutaPropia(const QString &buzon)
{
    const passwd *pw = ::getpwuid(::geteuid());
    // Without a name, a folder that is nobody's.
    const QString nombre = pw ? QString::fromLocal8Bit(pw->pw_name) : QStringLiteral(".%1").arg(::geteuid());
    return buzon + QLatin1Char('/') + nombre;
}

bool Buzon::existe() const
{
    return QFileInfo(m_ruta).isDir();
}

void Buzon::vigilar()
{
    actualizarVigilancia();
    leer();
}

void Buzon::actualizarVigilancia()
{
    const bool existe = QFileInfo(m_ruta).isDir();
    // The nearest folder above that exists sees the mailbox made again after a deletion.
    QString arriba = carpetaDe(m_ruta);
    while (!QFileInfo(arriba).isDir() && arriba != QDir::rootPath())
        arriba = carpetaDe(arriba);
    QStringList quiero { arriba };
    if (existe)
        quiero << m_ruta;
    const QStringList tengo = m_vigilante.directories();
    for (const QString &d : tengo) {
        if (!quiero.contains(d))
            m_vigilante.removePath(d);
    }
    for (const QString &d : std::as_const(quiero)) {
        if (!tengo.contains(d))
            m_vigilante.addPath(d);
    }
    if (existe != m_existe) {
        m_existe = existe;
        Q_EMIT existenciaCambiada(existe);
    }
}

void Buzon::leer()
{
    m_completa = false;
    const QByteArray ruta = QFile::encodeName(m_ruta);
    const int dirfd = ::open(ruta.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd < 0)
        return;
    struct stat carpeta = {};
    // A person's own folder is theirs and its records the receiver's: the mailbox above it
    // answers for both, its safety and whose records are genuine.
    const QByteArray duenoDe = m_duenoDe.isEmpty() ? ruta : QFile::encodeName(m_duenoDe);
    std::string rechazo
        = ::fstat(dirfd, &carpeta) != 0 || (!m_duenoDe.isEmpty() && ::stat(duenoDe.constData(), &carpeta) != 0)
        ? SharedFolderFile::describeError(errno)
        : CarpetaSegura::problema(duenoDe.toStdString(), ::geteuid());
    if (rechazo.empty() && m_dueno && carpeta.st_uid != *m_dueno)
        rechazo = "se ha hecho de nuevo y ahora es de otro usuario (" + std::to_string(carpeta.st_uid) + ", antes "
            + std::to_string(*m_dueno) + ")";
    if (!rechazo.empty()) {
        if (rechazo != m_rechazo)
            qWarning("velrisa: no se lee el buzón %s: %s", qPrintable(m_ruta), rechazo.c_str());
        m_rechazo = rechazo;
        ::close(dirfd);
        return;
    }
    m_rechazo.clear();
    m_dueno = carpeta.st_uid;
    const int copia = ::dup(dirfd);
    DIR *dir = copia < 0 ? nullptr : ::fdopendir(copia);
    if (!dir) {
        if (copia >= 0)
            ::close(copia);
        ::close(dirfd);
        return;
    }
    QList<Mensaje> leidos;
    QSet<QString> presentes;
    int entradas = 0;
    bool completa = true;
    while (const dirent *e = ::readdir(dir)) {
        if (++entradas > kMaxEntradas) {
            qWarning("velrisa: el buzón %s tiene más de %d entradas: no se leen las demás", qPrintable(m_ruta),
                kMaxEntradas);
            completa = false;
            break;
        }
        const std::string nombre = e->d_name;
        if (!Registro::esNombreRegistro(nombre))
            continue;
        const QString id = QString::fromLatin1(nombre);
        presentes.insert(id);
        if (m_vistos.contains(id) || (m_omitir && m_omitir(id)))
            continue;
        m_vistos.insert(id);
        const SharedFolderFile::Contents l = SharedFolderFile::read(dirfd, nombre, Registro::kMaxBytesRegistro);
        std::string problema = l.error;
        std::optional<Registro::Mensaje> m;
        if (problema.empty() && l.exceeds)
            problema = "es demasiado grande para ser un mensaje";
        // Only the receiver (the mailbox's owner) writes records; anybody else's is a forgery.
        else if (problema.empty() && l.info.st_uid != carpeta.st_uid && l.info.st_uid != 0)
            problema = "no es del dueño del buzón";
        else if (problema.empty() && !(m = Registro::analizar(l.bytes)))
            problema = "no es un mensaje recibido";
        if (!problema.empty()) {
            qWarning("velrisa: se descarta %s del buzón %s: %s", nombre.c_str(), qPrintable(m_ruta), problema.c_str());
            continue;
        }
        const qint64 ms = m->segundos * 1000 + m->nanosegundos / 1000000;
        leidos << Mensaje { id, QString::fromStdString(m->de), QString::fromStdString(m->para),
            QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC), m->cortado, QString::fromStdString(m->texto),
            QString::fromStdString(m->equipo), QString::fromStdString(m->direccion) };
    }
    ::closedir(dir);
    ::close(dirfd);

    m_vistos.intersect(presentes);
    m_presentes = std::move(presentes);
    m_completa = completa;
    std::sort(leidos.begin(), leidos.end(), [](const Mensaje &a, const Mensaje &b) { return a.id < b.id; });
    if (!leidos.isEmpty())
        Q_EMIT nuevos(leidos);
}
