#pragma once

#include "receive/Mailbox.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>

class ReceivedModel;

// What one user has received, kept in the user's data folder across runs: the last
// kMaxMessages messages (the history list) and which records have popped up already, so
// that each message pops up once per user.
//
// On disk it is recibidos.json, written whole or not at all, and beside it the journal
// recibidos.diario, to which each change is appended as one line; the journal is folded
// into the file (which is rewritten, and the journal removed) once it has grown as large.
// So a new message costs about its own size on the disk, not the whole history's.
class History final
{
public:
    static constexpr int kMaxMessages = 1000;

    explicit History(const QString &folder);
    ~History();
    History(const History &) = delete;
    History &operator=(const History &) = delete;


    // Reads the file and its journal; none yet is an empty history. A file that cannot be
    // read, or holds anything but what this class writes, is set aside under a name of its own
    // (never over another file), keeping whatever of it was valid: false then, and error()
    // says what happened.
    bool load();
    // Whether the last load() found no history at all: this user's first start.
    bool fresh() const { return m_new; }
    // Writes what changed since the last write (appended to the journal, or the whole file),
    // creating the folder (mode 0700) when missing; false with error(). What was not written
    // stays pending for the next call. Before any load(), the first write is the whole file.
    bool save();
    bool pending() const { return m_all || !m_lines.isEmpty(); }

    // Adds the message in its place by arrival, dropping the oldest past kMaxMessages;
    // false when it is there already.
    bool add(const Mailbox::Message &message);
    bool shown(const QString &id) const { return m_shown.contains(id); }
    void markShown(const QString &id);
    // Forgets the pop-ups of records that left the mailbox (in memory: the next whole write
    // leaves them out); true when some were forgotten.
    bool forgetShownExcept(const QSet<QString> &present);

    ReceivedModel &model() { return *m_model; }
    QString path() const;
    QString journalPath() const;
    const QString &error() const { return m_error; }

private:
    bool saveAll();
    bool appendToJournal();
    // Renames the file to "<name>.ilegible-<time>[-n]", never over another; its new path, or
    // empty with *because.
    QString setAside(const QString &file, QString *because);

    QString m_folder;
    std::unique_ptr<ReceivedModel> m_model;
    QSet<QString> m_shown;
    QList<QByteArray> m_lines; // journal lines not written yet
    bool m_all = false; // the whole file must be written: the journal cannot say what changed
    qint64 m_fileBytes = 0; // of recibidos.json as last read or written
    qint64 m_journalBytes = 0; // of the journal
    QString m_error;
    bool m_new = false;
    QString m_noWrite; // why nothing may be written: a file that could not be set aside
};
