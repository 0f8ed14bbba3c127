#include "receive/Mailbox.h"

#include "receiver/SafeFolder.h"
#include "receiver/Delivery.h"
#include "receiver/Record.h"
#include "receiver/SharedFolderFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
// The mailbox is read through one open folder, by the rules and with the pieces of the receiver
// that writes it (SharedFolderFile, SafeFolder), which work on POSIX descriptors.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// More entries than this and the folder is not a mailbox any more: stop reading.
constexpr int kMaxEntries = 100000;

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

} // namespace

Mailbox::Mailbox(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(QDir::cleanPath(QDir(path).absolutePath()))
{
    m_pending.setSingleShot(true);
    m_pending.setInterval(0);
    connect(&m_pending, &QTimer::timeout, this, &Mailbox::read);
    connect(&m_vigilante, &QFileSystemWatcher::directoryChanged, this, [this] {
        updateWatch();
        m_pending.start();
    });
}

QString Mailbox::Message::sender() const
{
    const bool otherComputer = !computer.isEmpty() && computer.compare(from, Qt::CaseInsensitive) != 0;
    return otherComputer ? QStringLiteral("%1 (%2)").arg(from, computer) : from;
}

QString Mailbox::defaultPath()
{
    const QString path = qEnvironmentVariable("VELRISA_BUZON");
    return path.isEmpty() ? QString::fromLatin1(Delivery::kDefaultMailbox) : path;
}

QString Mailbox::ownPath(const QString &mailbox)
{
    const passwd *pw = ::getpwuid(::geteuid());
    // Without a name, a folder that is nobody's.
    const QString name = pw ? QString::fromLocal8Bit(pw->pw_name) : QStringLiteral(".%1").arg(::geteuid());
    return mailbox + QLatin1Char('/') + name;
}

bool Mailbox::exists() const
{
    return QFileInfo(m_path).isDir();
}

void Mailbox::watch()
{
    updateWatch();
    read();
}

void Mailbox::updateWatch()
{
    const bool exists = QFileInfo(m_path).isDir();
    // The nearest folder above that exists sees the mailbox made again after a deletion.
    QString up = folderOf(m_path);
    while (!QFileInfo(up).isDir() && up != QDir::rootPath())
        up = folderOf(up);
    QStringList want { up };
    if (exists)
        want << m_path;
    const QStringList have = m_vigilante.directories();
    for (const QString &d : have) {
        if (!want.contains(d))
            m_vigilante.removePath(d);
    }
    for (const QString &d : std::as_const(want)) {
        if (!have.contains(d))
            m_vigilante.addPath(d);
    }
    if (exists != m_exists) {
        m_exists = exists;
        Q_EMIT existenceChanged(exists);
    }
}

void Mailbox::read()
{
    m_complete = false;
    const QByteArray path = QFile::encodeName(m_path);
    const int dirfd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd < 0)
        return;
    struct stat folder = {};
    // A person's own folder is theirs and its records the receiver's: the mailbox above it
    // answers for both, its safety and whose records are genuine.
    const QByteArray ownerOf = m_ownerOf.isEmpty() ? path : QFile::encodeName(m_ownerOf);
    std::string refusal
        = ::fstat(dirfd, &folder) != 0 || (!m_ownerOf.isEmpty() && ::stat(ownerOf.constData(), &folder) != 0)
        ? SharedFolderFile::describeError(errno)
        : SafeFolder::problem(ownerOf.toStdString(), ::geteuid());
    if (refusal.empty() && m_owner && folder.st_uid != *m_owner)
        refusal = "se ha hecho de nuevo y ahora es de otro usuario (" + std::to_string(folder.st_uid) + ", antes "
            + std::to_string(*m_owner) + ")";
    if (!refusal.empty()) {
        if (refusal != m_refusal)
            qWarning("velrisa: no se lee el buzón %s: %s", qPrintable(m_path), refusal.c_str());
        m_refusal = refusal;
        ::close(dirfd);
        return;
    }
    m_refusal.clear();
    m_owner = folder.st_uid;
    const int copy = ::dup(dirfd);
    DIR *dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        ::close(dirfd);
        return;
    }
    QList<Message> found;
    QSet<QString> presentes;
    int entries = 0;
    bool complete = true;
    while (const dirent *e = ::readdir(dir)) {
        if (++entries > kMaxEntries) {
            qWarning("velrisa: el buzón %s tiene más de %d entradas: no se leen las demás", qPrintable(m_path),
                kMaxEntries);
            complete = false;
            break;
        }
        const std::string name = e->d_name;
        if (!Record::isRecordName(name))
            continue;
        const QString id = QString::fromLatin1(name);
        presentes.insert(id);
        if (m_seen.contains(id) || (m_skip && m_skip(id)))
            continue;
        m_seen.insert(id);
        const SharedFolderFile::Contents l = SharedFolderFile::read(dirfd, name, Record::kMaxRecordBytes);
        std::string problem = l.error;
        std::optional<Record::Message> m;
        if (problem.empty() && l.exceeds)
            problem = "es demasiado grande para ser un mensaje";
        // Only the receiver (the mailbox's owner) writes records; anybody else's is a forgery.
        else if (problem.empty() && l.info.st_uid != folder.st_uid && l.info.st_uid != 0)
            problem = "no es del dueño del buzón";
        else if (problem.empty() && !(m = Record::parse(l.bytes)))
            problem = "no es un mensaje recibido";
        if (!problem.empty()) {
            qWarning("velrisa: se descarta %s del buzón %s: %s", name.c_str(), qPrintable(m_path), problem.c_str());
            continue;
        }
        const qint64 ms = m->seconds * 1000 + m->nanoseconds / 1000000;
        found << Message { id, QString::fromStdString(m->from), QString::fromStdString(m->to),
            QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC), m->cut, QString::fromStdString(m->text),
            QString::fromStdString(m->computer), QString::fromStdString(m->address) };
    }
    ::closedir(dir);
    ::close(dirfd);

    m_seen.intersect(presentes);
    m_present = std::move(presentes);
    m_complete = complete;
    std::sort(found.begin(), found.end(), [](const Message &a, const Message &b) { return a.id < b.id; });
    if (!found.isEmpty())
        Q_EMIT arrived(found);
}
