#pragma once

#include "profile/IniDocument.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

struct stat;

// Profile (INI) files with the observable behaviour of Windows profile files, on QtCore
// alone. Values are returned whole; the 49-character read buffer of the program's own
// LeerIni is applied on top of this, not here.
//
// Text on disk is Windows-1252. Every call sees the file as it is on disk now (it may be
// edited by hand between two calls), yet a file is parsed again only when its identity,
// size or time stamps changed, or after a batch that only read it (a load). Lines end at
// LF, CR LF or a CR alone, as on Windows. Only a regular file is read (a link to one
// included), and none beyond DataFile::kReadLimit: anything else reads as absent, a
// file too large or unreadable cannot be written. A write replaces the file whole and on disk
// (DataFile::replace), so neither a crash nor a full disk ever leaves half a file.
class ProfileFiles
{
public:
    ProfileFiles();
    ~ProfileFiles();
    ProfileFiles(const ProfileFiles &) = delete;
    ProfileFiles &operator=(const ProfileFiles &) = delete;

    // The stored value of key in section, or a null QString when the file, the section
    // or the key is absent. Section and key match without regard to case.
    QString read(const QString &path, const QString &section, const QString &key);

    // read() of keys "1" to "count" of section, from one look at the file.
    QStringList readNumbered(const QString &path, const QString &section, int count);

    // Sets key in section, creating the file, the section and the key as needed; false
    // when the file cannot be written (nothing is changed then).
    bool write(const QString &path, const QString &section, const QString &key, const QString &value);

    // Starts a batch on path: until endBatch(), writes to that file are applied in
    // memory and reads of it see them; write() still answers for each call whether it
    // would have succeeded. A batch already open is ended first.
    void beginBatch(const QString &path);

    // Saves the batch. Returns how many of its writes had answered true but could not be
    // saved after all (0 when everything reached the disk), so that the caller can report
    // each of them as failed. A batch that wrote nothing keeps no copy of the file.
    int endBatch();

private:
    struct Stamp
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 mtimeSec = 0, mtimeNsec = 0;
        qint64 ctimeSec = 0, ctimeNsec = 0;
        bool operator==(const Stamp &) const = default;
    };
    struct Cached
    {
        Stamp stamp;
        QByteArray bytes;
        IniDocument doc;
        // The file changed within the current tick of the file-system clock: a later
        // change could carry the same time stamps, so the content must be compared.
        bool racy = true;
    };
    enum class Load { Ok, Missing, Unreadable };

    static Stamp stampOf(const struct stat &st);
    Load load(const QString &path, Cached *&out);
    void remember(const QString &path, const QByteArray &bytes);
    static bool isNameValid(const QString &section, const QString &key);
    static QString cleanValue(const QString &value);
    bool save(const QString &path, const QByteArray &bytes);

    QHash<QString, std::shared_ptr<Cached>> m_cache;

    bool m_batchOpen = false;
    QString m_batchPath;
    bool m_batchRefused = false;
    bool m_batchDirty = false;
    int m_batchAccepted = 0;
    IniDocument m_batchDoc;
};
