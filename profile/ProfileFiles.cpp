#include "profile/ProfileFiles.h"

#include "runtime/DataFileQt.h"

#include <QFile>

// A profile's stamp is the file's identity and times as the file system keeps them, next to
// the same coarse clock the file system stamps them by (DataFile::coarseNow).
namespace {

bool statFile(const QString &path, struct stat &st)
{
    return DataFile::status(QFile::encodeName(path).toStdString(), st);
}

} // namespace

ProfileFiles::Stamp ProfileFiles::stampOf(const struct stat &st)
{
    return Stamp { quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec),
        qint64(st.st_mtim.tv_nsec), qint64(st.st_ctim.tv_sec), qint64(st.st_ctim.tv_nsec) };
}

void ProfileFiles::remember(const QString &path, const QByteArray &bytes)
{
    // Parsed afresh rather than kept with its changes: the cache stays as compact as the file.
    auto entry = std::make_shared<Cached>();
    struct stat st
    {
    };
    if (statFile(path, st))
        entry->stamp = stampOf(st);
    entry->doc = IniDocument::parse(bytes);
    entry->bytes = bytes;
    entry->racy = true; // just written: the next use compares the content once
    m_cache.insert(path, std::move(entry));
}

ProfileFiles::ProfileFiles() = default;
ProfileFiles::~ProfileFiles() = default;

ProfileFiles::Load ProfileFiles::load(const QString &path, Cached *&out)
{
    out = nullptr;
    // Whether a change made after `before` could still carry the stamp. Any change sets the
    // status-change time from the coarse real-time clock, and nobody can set it by hand (the
    // modification time can be anything, even a time to come), so a stamp whose change time is
    // older than that clock was read at `before` can never come back. A file system without
    // sub-second times is given two seconds.
    auto isRacy = [](const Stamp &s, const struct timespec &before) {
        if (s.ctimeNsec == 0)
            return before.tv_sec - s.ctimeSec < 3;
        return s.ctimeSec > before.tv_sec || (s.ctimeSec == before.tv_sec && s.ctimeNsec >= before.tv_nsec);
    };

    auto cached = m_cache.find(path);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const struct timespec before = DataFile::coarseNow();
        struct stat st
        {
        };
        // Only a regular file holds a profile; anything else reads as no file at all.
        if (!statFile(path, st) || !S_ISREG(st.st_mode)) {
            if (cached != m_cache.end())
                m_cache.erase(cached);
            return Load::Missing;
        }
        const Stamp stamp = stampOf(st);
        if (cached != m_cache.end() && (*cached)->stamp == stamp && !(*cached)->racy) {
            out = cached->get();
            return Load::Ok;
        }
        QByteArray bytes;
        struct stat opened
        {
        };
        const DataFile::ReadResult read = DataFile::read(QFile::encodeName(path).toStdString(), bytes, &opened);
        if (read != DataFile::ReadResult::Read) {
            if (cached != m_cache.end())
                m_cache.erase(cached);
            return read == DataFile::ReadResult::Missing ? Load::Missing : Load::Unreadable;
        }
        struct stat after
        {
        };
        if (stampOf(opened) != stamp || !statFile(path, after) || stampOf(after) != stamp)
            continue; // changed while being read
        const bool racy = isRacy(stamp, before);
        if (cached != m_cache.end() && (*cached)->stamp == stamp && (*cached)->bytes == bytes) {
            (*cached)->racy = racy;
            out = cached->get();
            return Load::Ok;
        }
        auto entry = std::make_shared<Cached>();
        entry->stamp = stamp;
        entry->doc = IniDocument::parse(bytes);
        entry->bytes = std::move(bytes);
        entry->racy = racy;
        cached = m_cache.insert(path, std::move(entry));
        out = cached->get();
        return Load::Ok;
    }
    // Still changing under our feet: read it once more next time.
    if (cached != m_cache.end())
        m_cache.erase(cached);
    return Load::Unreadable;
}

QString ProfileFiles::read(const QString &path, const QString &section, const QString &key)
{
    if (m_batchOpen && path == m_batchPath)
        return m_batchDoc.value(section, key);
    Cached *c = nullptr;
    if (load(path, c) != Load::Ok)
        return QString();
    return c->doc.value(section, key);
}

QStringList ProfileFiles::readNumbered(const QString &path, const QString &section, int count)
{
    if (m_batchOpen && path == m_batchPath)
        return m_batchDoc.numberedValues(section, count);
    Cached *c = nullptr;
    if (load(path, c) != Load::Ok)
        return QStringList(qMax(count, 0));
    return c->doc.numberedValues(section, count);
}

bool ProfileFiles::isNameValid(const QString &section, const QString &key)
{
    return IniDocument::isValidName(section, true) && IniDocument::isValidName(key, false);
}

QString ProfileFiles::cleanValue(const QString &value)
{
    // A line break would end the line and could plant a key or section of its choosing,
    // and the profile service cannot carry a NUL: both become blanks.
    QString clean = value;
    for (QChar &c : clean) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0))
            c = QLatin1Char(' ');
    }
    return clean;
}

bool ProfileFiles::save(const QString &path, const QByteArray &bytes)
{
    return !DataFileQt::writeRefused(path) && DataFileQt::replace(path, bytes, DataFile::Sync::Flush);
}

bool ProfileFiles::write(const QString &path, const QString &section, const QString &key, const QString &value)
{
    if (!isNameValid(section, key))
        return false;
    if (m_batchOpen && path == m_batchPath) {
        if (m_batchRefused)
            return false;
        m_batchDoc.setValue(section, key, cleanValue(value));
        m_batchDirty = true;
        ++m_batchAccepted;
        return true;
    }
    if (DataFileQt::writeRefused(path))
        return false;
    Cached *c = nullptr;
    IniDocument doc;
    switch (load(path, c)) {
    case Load::Ok:
        doc = c->doc;
        break;
    case Load::Missing:
        break;
    case Load::Unreadable:
        return false; // writing would lose what we cannot read
    }
    doc.setValue(section, key, cleanValue(value));
    QByteArray bytes = doc.toBytes();
    if (!save(path, bytes)) {
        m_cache.remove(path);
        return false;
    }
    remember(path, bytes);
    return true;
}

void ProfileFiles::beginBatch(const QString &path)
{
    if (m_batchOpen)
        endBatch();
    m_batchOpen = true;
    m_batchPath = path;
    m_batchDirty = false;
    m_batchAccepted = 0;
    m_batchRefused = DataFileQt::writeRefused(path);
    Cached *c = nullptr;
    const Load state = load(path, c);
    m_batchDoc = state == Load::Ok ? c->doc : IniDocument();
    if (state == Load::Unreadable)
        m_batchRefused = true;
}

int ProfileFiles::endBatch()
{
    if (!m_batchOpen)
        return 0;
    m_batchOpen = false;
    IniDocument doc = std::move(m_batchDoc);
    m_batchDoc = IniDocument();
    if (!m_batchDirty) {
        // A batch that only read is a load, which took what it needed: a full address book
        // is not kept in memory a second time for the rest of the run.
        m_cache.remove(m_batchPath);
        return 0;
    }
    QByteArray bytes = doc.toBytes();
    if (!save(m_batchPath, bytes)) {
        m_cache.remove(m_batchPath);
        return m_batchAccepted;
    }
    remember(m_batchPath, bytes);
    return 0;
}
