#include "receive/History.h"

#include "receive/ReceivedModel.h"
#include "receiver/Record.h"
#include "receiver/SharedFolderFile.h"
#include "runtime/DataFileQt.h"
#include "runtime/posix/Folder.h"

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
#include <optional>

namespace {

const QString kFile = QStringLiteral("recibidos.json");
const QString kJournal = QStringLiteral("recibidos.diario");
// A thousand messages of 1,600 characters, each escaped at worst: well under this.
constexpr size_t kMaxBytes = 32 * 1024 * 1024;
constexpr int kMaxShown = 100000;
// The journal is folded into the file once it is as large as the file, or as this when the file is small.
constexpr qint64 kMinJournal = 256 * 1024;
// The latest arrival a record's name can carry (ten digits of seconds), in milliseconds.
constexpr double kMaxArrival = 9999999999999.0;

QString clean(const QJsonValue &value, bool isText)
{
    const std::string bytes = value.toString().toStdString();
    return QString::fromStdString(isText ? Record::cleanText(bytes) : Record::cleanName(bytes));
}

bool isId(const QJsonValue &value)
{
    return value.isString() && Record::isRecordName(value.toString().toStdString());
}

// A message as the file holds it; nothing when a field is missing, of another kind or out of range.
std::optional<Mailbox::Message> messageFrom(const QJsonValue &value)
{
    const QJsonObject o = value.toObject();
    const QJsonValue arrival = o.value(QStringLiteral("llegada"));
    const double ms = arrival.toDouble(-1);
    if (!value.isObject() || !isId(o.value(QStringLiteral("id"))) || !o.value(QStringLiteral("de")).isString()
        || !o.value(QStringLiteral("para")).isString() || !o.value(QStringLiteral("texto")).isString()
        || !o.value(QStringLiteral("cortado")).isBool() || !arrival.isDouble() || !(ms >= 0 && ms <= kMaxArrival)
        || ms != std::floor(ms))
        return std::nullopt;
    // The sending computer and its address came later: older entries have neither.
    const QJsonValue computer = o.value(QStringLiteral("equipo"));
    const QJsonValue address = o.value(QStringLiteral("direccion"));
    if (!(computer.isUndefined() || computer.isString()) || !(address.isUndefined() || address.isString()))
        return std::nullopt;
    return Mailbox::Message { o.value(QStringLiteral("id")).toString(), clean(o.value(QStringLiteral("de")), false),
        clean(o.value(QStringLiteral("para")), false), QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC),
        o.value(QStringLiteral("cortado")).toBool(), clean(o.value(QStringLiteral("texto")), true),
        clean(computer, false), clean(address, false) };
}

QJsonObject object(const Mailbox::Message &m)
{
    return QJsonObject { { QStringLiteral("id"), m.id }, { QStringLiteral("de"), m.from },
        { QStringLiteral("para"), m.to }, { QStringLiteral("llegada"), double(m.arrival.toMSecsSinceEpoch()) },
        { QStringLiteral("cortado"), m.cut }, { QStringLiteral("texto"), m.text },
        { QStringLiteral("equipo"), m.computer }, { QStringLiteral("direccion"), m.address } };
}

QByteArray line(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QString entries(int n)
{
    return n == 1 ? QStringLiteral("tiene 1 entrada no válida") : QStringLiteral("tiene %1 entradas no válidas").arg(n);
}

// What is wrong with the bytes of recibidos.json (empty when nothing); the valid part goes to
// messages and shown either way.
QString parseFile(const QByteArray &bytes, QList<Mailbox::Message> &messages, QSet<QString> &shown)
{
    QJsonParseError parse {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parse);
    if (!doc.isObject())
        return QStringLiteral("no es un historial (%1)").arg(parse.errorString());
    const QJsonObject root = doc.object();
    const QJsonValue list = root.value(QStringLiteral("mensajes"));
    const QJsonValue seen = root.value(QStringLiteral("mostrados"));
    if (root.value(QStringLiteral("formato")) != QJsonValue(1) || !list.isArray() || !seen.isArray())
        return QStringLiteral("no tiene la forma de un historial");
    int bad = 0;
    for (const QJsonValue &v : list.toArray()) {
        if (const std::optional<Mailbox::Message> m = messageFrom(v))
            messages << *m;
        else
            ++bad;
    }
    for (const QJsonValue &v : seen.toArray()) {
        if (!isId(v))
            ++bad;
        else if (shown.size() < kMaxShown)
            shown.insert(v.toString());
    }
    return bad ? entries(bad) : QString();
}

} // namespace

History::History(const QString &folder)
    : m_folder(folder)
    , m_model(std::make_unique<ReceivedModel>())
    , m_all(true)
{ }

History::~History() = default;

QString History::path() const
{
    return m_folder + QLatin1Char('/') + kFile;
}

QString History::journalPath() const
{
    return m_folder + QLatin1Char('/') + kJournal;
}

bool History::load()
{
    m_error.clear();
    m_noWrite.clear();
    m_shown.clear();
    m_lines.clear();
    m_all = false;
    m_fileBytes = m_journalBytes = 0;
    // Without a folder of its own the files would land wherever the process happens to be.
    if (!QDir::isAbsolutePath(m_folder)) {
        m_noWrite = m_error = QStringLiteral("no hay carpeta de datos para el historial");
        return false;
    }
    QStringList problems;
    // Either file that is not what this class writes is set aside whole; what of it was valid is kept.
    const auto setAsideBecause = [this, &problems](const QString &file, const QString &reason) {
        m_all = true;
        QString because;
        const QString apart = setAside(file, &because);
        if (apart.isEmpty()) {
            // Never written over: the history is not saved in this run.
            m_noWrite = QStringLiteral("%1 %2 y no se puede guardar aparte (%3)").arg(file, reason, because);
            problems << m_noWrite;
        } else {
            problems << QStringLiteral("%1 %2; se ha guardado aparte como %3").arg(file, reason, apart);
        }
    };
    const auto read = [](const QString &file, QByteArray &bytes, QString &reason) {
        const SharedFolderFile::Contents l
            = SharedFolderFile::read(AT_FDCWD, QFile::encodeName(file).toStdString(), kMaxBytes);
        reason = l.missing     ? QString()
            : !l.error.empty() ? QString::fromStdString(l.error)
            : l.exceeds        ? QStringLiteral("es demasiado grande")
                               : QString();
        bytes = QByteArray::fromStdString(l.bytes);
        return !l.missing;
    };

    QList<Mailbox::Message> messages;
    QSet<QString> shown;
    QByteArray bytes;
    QString reason;
    m_new = !read(path(), bytes, reason);
    if (m_new) {
        m_all = true; // the first write makes the file
    } else {
        if (reason.isEmpty())
            reason = parseFile(bytes, messages, shown);
        m_fileBytes = bytes.size();
        if (!reason.isEmpty())
            setAsideBecause(path(), reason);
    }

    // The journal: one message or one pop-up per line, in the order they happened.
    QSet<QString> known = shown;
    for (const Mailbox::Message &m : std::as_const(messages))
        known.insert(m.id);
    QStringList seenAfter;
    if (read(journalPath(), bytes, reason)) {
        m_new = false;
        m_journalBytes = bytes.size();
        int bad = 0;
        QList<QByteArray> lines = bytes.split('\n');
        // A last line without its line end was being written when the program stopped: what
        // it said is still in the mailbox. The journal is folded in at the next write.
        if (!lines.last().isEmpty())
            m_all = true;
        lines.removeLast();
        for (const QByteArray &l : std::as_const(lines)) {
            const QJsonObject o = QJsonDocument::fromJson(l).object();
            const QJsonValue seen = o.value(QStringLiteral("mostrado"));
            if (o.size() == 1 && isId(seen)) {
                seenAfter << seen.toString();
            } else if (const std::optional<Mailbox::Message> m = messageFrom(o)) {
                messages << *m;
                known.insert(m->id);
            } else {
                ++bad;
            }
        }
        if (reason.isEmpty() && bad)
            reason = entries(bad);
        if (!reason.isEmpty())
            setAsideBecause(journalPath(), reason);
    }
    // A pop-up counts only with its message: after a crash the disk may hold a later line and
    // not an earlier one, and a record marked shown whose message is not here would be lost.
    for (const QString &id : std::as_const(seenAfter)) {
        if (known.contains(id) && shown.size() < kMaxShown)
            shown.insert(id);
    }
    m_model->replace(messages);
    m_model->dropFirst(m_model->rowCount() - kMaxMessages);
    m_shown = std::move(shown);
    m_error = problems.join(QStringLiteral("; "));
    return problems.isEmpty();
}

QString History::setAside(const QString &file, QString *because)
{
    const QString name = QFileInfo(file).fileName() + QStringLiteral(".ilegible-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const Descriptor folder = Folder::open(QFile::encodeName(m_folder).toStdString());
    if (!folder.isOpen()) {
        *because = QString::fromStdString(SharedFolderFile::describeError(errno));
        return {};
    }
    QString apart;
    // Another file set aside in the same second keeps its name: this one takes the next number.
    for (int n = 1; n <= 1000 && apart.isEmpty(); ++n) {
        const QString target = n == 1 ? name : name + QStringLiteral("-%1").arg(n);
        bool exists = false;
        const std::string error = SharedFolderFile::renameNoReplace(folder.get(),
            QFile::encodeName(QFileInfo(file).fileName()).toStdString(), QFile::encodeName(target).toStdString(),
            &exists);
        if (error.empty())
            apart = m_folder + QLatin1Char('/') + target;
        else if (!exists || n == 1000)
            *because = QString::fromStdString(error);
        if (!error.empty() && !exists)
            break;
    }
    return apart;
}

bool History::save()
{
    m_error.clear();
    if (!m_noWrite.isEmpty()) {
        m_error = m_noWrite;
        return false;
    }
    if (!pending())
        return true;
    if (!QDir(m_folder).exists()) {
        const QByteArray folder = QFile::encodeName(m_folder);
        if (!QDir().mkpath(QFileInfo(m_folder).absolutePath()) || !Folder::make(folder.toStdString(), 0700)) {
            m_error = QStringLiteral("%1: %2").arg(m_folder, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    qint64 pendingBytes = 0;
    for (const QByteArray &l : std::as_const(m_lines))
        pendingBytes += l.size();
    if (m_all || m_journalBytes + pendingBytes > std::max(m_fileBytes, kMinJournal))
        return saveAll();
    return appendToJournal();
}

bool History::saveAll()
{
    QJsonArray messages;
    for (const Mailbox::Message &m : m_model->rows())
        messages.append(object(m));
    QStringList shown(m_shown.cbegin(), m_shown.cend());
    shown.sort();
    const QJsonObject root { { QStringLiteral("formato"), 1 }, { QStringLiteral("mensajes"), messages },
        { QStringLiteral("mostrados"), QJsonArray::fromStringList(shown) } };
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);
    // What a user received is that user's alone, whatever the folder lets others see.
    if (!DataFileQt::replace(path(), bytes, DataFile::Sync::Flush, &m_error, 0600))
        return false;
    m_fileBytes = bytes.size();
    m_lines.clear();
    m_all = false;
    // The file holds all the journal said. Should the journal outlive this (a crash, a failed
    // removal), reading it again adds nothing: its messages and pop-ups are there already.
    if (DataFile::remove(QFile::encodeName(journalPath()).toStdString()))
        m_journalBytes = 0;
    return true;
}

bool History::appendToJournal()
{
    const QByteArray bytes = m_lines.join();
    off_t size = 0;
    const int error = DataFile::append(QFile::encodeName(journalPath()).toStdString(),
        std::string_view(bytes.constData(), size_t(bytes.size())), 0600, &size);
    if (error != 0) {
        m_error = QStringLiteral("%1: %2").arg(
            journalPath(), QString::fromStdString(SharedFolderFile::describeError(error)));
        // A line may be half there: the next write is the whole file, which leaves the journal behind.
        m_all = true;
        return false;
    }
    m_journalBytes = size;
    m_lines.clear();
    return true;
}

bool History::add(const Mailbox::Message &message)
{
    if (!m_model->insert(message))
        return false;
    m_model->dropFirst(m_model->rowCount() - kMaxMessages);
    m_lines << line(object(message));
    return true;
}

void History::markShown(const QString &id)
{
    if (m_shown.contains(id))
        return;
    m_shown.insert(id);
    m_lines << line(QJsonObject { { QStringLiteral("mostrado"), id } });
}

bool History::forgetShownExcept(const QSet<QString> &present)
{
    const qsizetype before = m_shown.size();
    m_shown.intersect(present);
    return m_shown.size() != before;
}
