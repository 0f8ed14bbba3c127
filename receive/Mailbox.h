#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

// The mailbox folder as a desktop sees it: watched through file-system notification (no
// polling), followed when it is deleted and made again by the same owner, and read as hostile
// input: only regular files with a record's name, owned by the mailbox's owner or root, bounded
// in size, opened without following links or blocking. A mailbox that other users could
// replace (through a folder above it that they may change) is not read at all.
class Mailbox final : public QObject
{
    Q_OBJECT

public:
    struct Message
    {
        QString id; // the record's file name: unique, sorts by arrival
        QString from;
        QString to;
        QDateTime arrival; // UTC
        bool cut = false;
        QString text;
        QString computer; // the computer it came from; empty when the record does not say
        QString address; // that computer's address

        // The sender as people read it: the computer in brackets when it is another name.
        QString sender() const;
    };

    explicit Mailbox(const QString &path, QObject *parent = nullptr);

    // VELRISA_BUZON when set, else /var/spool/velrisa.
    static QString defaultPath();
    // This user's own folder in the mailbox, where the messages to this user's names go.
    static QString ownPath(const QString &mailbox);

    // Records are accepted only from the owner of this folder (or root); by default the
    // mailbox's own owner. A user's own folder is the user's, its records the receiver's.
    void setOwnerOf(const QString &folder) { m_ownerOf = folder; }

    // Records whose name this says yes to are not read (already handled in earlier runs).
    void setSkip(std::function<bool(const QString &)> skip) { m_skip = std::move(skip); }

    // Starts watching and reads what is there now.
    void watch();
    // Reads the records not read yet; emits arrived when there are some.
    void read();

    const QString &path() const { return m_path; }
    // Looked at now, not remembered.
    bool exists() const;
    // The record names of the last reading and whether it saw the whole folder.
    const QSet<QString> &present() const { return m_present; }
    bool completeRead() const { return m_complete; }

Q_SIGNALS:
    // Oldest first.
    void arrived(const QList<Mailbox::Message> &messages);
    void existenceChanged(bool exists);

private:
    void updateWatch();

    QString m_path;
    QString m_ownerOf;
    QFileSystemWatcher m_watcher;
    QTimer m_pending; // gathers a burst of notifications into one reading
    std::function<bool(const QString &)> m_skip;
    QSet<QString> m_seen; // read or refused in this run
    QSet<QString> m_present;
    bool m_complete = false;
    bool m_exists = false;
    std::optional<uid_t> m_owner; // of the mailbox first read: a mailbox made again must be theirs too
    std::string m_refusal; // why the mailbox was last refused, said once
};
