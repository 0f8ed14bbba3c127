#include "receive/Mailbox.h"

#include "receiver/Delivery.h"
#include "receiver/Record.h"
#include "receiver/SafeFolder.h"
#include "receiver/SharedFolderFile.h"
#include "runtime/posix/Account.h"
#include "runtime/posix/Folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

namespace {

// More entries than this and the folder is not a mailbox any more: stop reading.
constexpr int kMaxEntries = 100000;

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

// The record name of the open mailbox as a message; nullopt, said in the log, when it is none
// or not the mailbox owner's.
std::optional<Mailbox::Message> readRecord(const QString &mailbox, int folder, const std::string &name, uid_t owner)
{
    const SharedFolderFile::Contents l = SharedFolderFile::read(folder, name, Record::kMaxRecordBytes);
    std::string problem = l.error;
    std::optional<Record::Message> m;
    if (problem.empty() && l.exceeds)
        problem = "es demasiado grande para ser un mensaje";
    // Only the receiver (the mailbox's owner) writes records; anybody else's is a forgery.
    else if (problem.empty() && l.info.st_uid != owner && l.info.st_uid != 0)
        problem = "no es del dueño del buzón";
    else if (problem.empty() && !(m = Record::parse(l.bytes)))
        problem = "no es un mensaje recibido";
    if (!problem.empty()) {
        qWarning("velrisa: se descarta %s del buzón %s: %s", name.c_str(), qPrintable(mailbox), problem.c_str());
        return std::nullopt;
    }
    const qint64 ms = m->seconds * 1000 + m->nanoseconds / 1000000;
    return Mailbox::Message { QString::fromLatin1(name), QString::fromStdString(m->from), QString::fromStdString(m->to),
        QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC), m->cut, QString::fromStdString(m->text),
        QString::fromStdString(m->computer), QString::fromStdString(m->address) };
}

} // namespace

Mailbox::Mailbox(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(QDir::cleanPath(QDir(path).absolutePath()))
{
    m_pending.setSingleShot(true);
    m_pending.setInterval(0);
    connect(&m_pending, &QTimer::timeout, this, &Mailbox::read);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
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
    const uid_t uid = Account::effectiveId();
    const std::string own = Account::nameOf(uid);
    // Without a name, a folder that is nobody's.
    const QString name = own.empty() ? QStringLiteral(".%1").arg(uid) : QString::fromLocal8Bit(own);
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
    const QStringList have = m_watcher.directories();
    for (const QString &d : have) {
        if (!want.contains(d))
            m_watcher.removePath(d);
    }
    for (const QString &d : std::as_const(want)) {
        if (!have.contains(d))
            m_watcher.addPath(d);
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
    const Descriptor folder = Folder::open(path.toStdString());
    if (!folder.isOpen())
        return;
    const int dirfd = folder.get();
    // A person's own folder is theirs and its records the receiver's: the mailbox above it
    // answers for both, its safety and whose records are genuine.
    const QByteArray ownerOf = m_ownerOf.isEmpty() ? path : QFile::encodeName(m_ownerOf);
    const std::optional<uid_t> owner
        = m_ownerOf.isEmpty() ? Folder::owner(dirfd) : Folder::owner(ownerOf.toStdString());
    std::string refusal = !owner ? SharedFolderFile::describeError(errno)
                                 : SafeFolder::problem(ownerOf.toStdString(), Account::effectiveId());
    if (refusal.empty() && m_owner && *owner != *m_owner)
        refusal = "se ha hecho de nuevo y ahora es de otro usuario (" + std::to_string(*owner) + ", antes "
            + std::to_string(*m_owner) + ")";
    if (!refusal.empty()) {
        if (refusal != m_refusal)
            qWarning("velrisa: no se lee el buzón %s: %s", qPrintable(m_path), refusal.c_str());
        m_refusal = refusal;
        return;
    }
    m_refusal.clear();
    m_owner = owner;
    QList<Message> found;
    QSet<QString> present;
    const Folder::Listing listing = Folder::forEachEntry(dirfd, kMaxEntries, [&](const char *entry) {
        const std::string name = entry;
        if (!Record::isRecordName(name))
            return;
        const QString id = QString::fromLatin1(name);
        present.insert(id);
        if (m_seen.contains(id) || (m_skip && m_skip(id)))
            return;
        m_seen.insert(id);
        if (const std::optional<Message> m = readRecord(m_path, dirfd, name, *owner))
            found << *m;
    });
    if (listing == Folder::Listing::Unreadable)
        return;
    const bool complete = listing == Folder::Listing::Whole;
    if (!complete)
        qWarning(
            "velrisa: el buzón %s tiene más de %d entradas: no se leen las demás", qPrintable(m_path), kMaxEntries);

    m_seen.intersect(present);
    m_present = std::move(present);
    m_complete = complete;
    std::sort(found.begin(), found.end(), [](const Message &a, const Message &b) { return a.id < b.id; });
    if (!found.isEmpty())
        Q_EMIT arrived(found);
}
