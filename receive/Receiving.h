#pragma once

#include "receive/History.h"
#include "receive/Mailbox.h"
#include "receive/ReplyRule.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class IconoBarra;
class Runtime;
class frmMoreReceived;
class frmReceived;
class frmReceivedList;

// Receiving, on the desktop: every new record of the mailbox shared by the computer's users
// and of this user's own folder in it pops up once for this user in its own "Message
// received" window (and as a tray notification) and joins the user's history, "Mensajes
// recibidos". Messages that arrived while the program was not running pop up at the start,
// except, at a user's very first start, those of the shared mailbox: they were not this
// user's. A flood leaves a bounded number of windows: past kMaxOpen open and
// kMaxWaiting waiting, the rest are counted in one "Más mensajes recibidos" window.
class Receiving final : public QObject
{
    Q_OBJECT

public:
    // At most this many pop-ups are open at once; the others wait for one to close.
    static constexpr int kMaxOpen = 10;
    // Past this many waiting, the messages that arrive are only counted, in one window of
    // their own ("Más mensajes recibidos"), until it is closed.
    static constexpr int kMaxWaiting = 50;
    // Changes to the history are written together, this long after the first one.
    static constexpr int kSaveDelayMs = 200;

    Receiving(Runtime &runtime, IconoBarra &icon, const QString &mailbox, const QString &dataFolder,
        QObject *parent = nullptr);
    ~Receiving() override;

    // Reads the history, starts watching the mailbox and pops up what is waiting.
    void start();

    bool mailboxExists() const { return m_mailbox.exists(); }
    // The history window, created at its first use.
    void showReceived();

    // Writes what waits for the delayed save now, for a program that is ending: a failure is
    // only logged, as no box may hold the end up.
    void saveNow();

    // "Cerrar &todos": closes every pop-up; those still waiting join the count of the others.
    void closeAll();

    // For tests: the history, the pop-ups open and waiting, and the other windows.
    History &history() { return m_history; }
    const QList<frmReceived *> &openWindows() const { return m_open; }
    qsizetype waiting() const { return m_waiting.size(); }
    // The window counting the messages not popped up one by one; null when none is open.
    frmMoreReceived *moreReceived() const;
    frmReceivedList *receivedWindow() const { return m_received.get(); }
    // Whom "&Responder" writes to, asked of the sending computer.
    ReplyRule &replyRule() { return m_replyRule; }

Q_SIGNALS:
    // "&Responder" in a pop-up, or in a message opened from the history, once its sending
    // computer has said whom to write to (and the user has been told when it receives nothing).
    void reply(const QString &recipient);
    void mailboxChanged(bool exists);

private:
    void receive(const QList<Mailbox::Message> &messages, bool own);
    bool openWaiting();
    void open(const Mailbox::Message &message);
    void gather(int messages);
    void updateCloseAll();
    void scheduleSave();
    void save();
    void replyTo(frmReceived *window);
    void replyDecided(ReplyRule::Outcome outcome, const QString &recipient);

    Runtime &m_rt;
    IconoBarra &m_icon;
    Mailbox m_mailbox;
    Mailbox m_own;
    bool m_firstTime = false; // this user's first start, until the shared mailbox is read
    History m_history;
    QList<Mailbox::Message> m_waiting; // not popped up yet, oldest first
    QList<frmReceived *> m_open;
    QPointer<frmMoreReceived> m_more;
    std::unique_ptr<frmReceivedList> m_received;
    QTimer m_saved;
    bool m_errorTold = false;
    ReplyRule m_replyRule;
    Mailbox::Message m_replying; // the message being answered while its computer is asked
    QPointer<frmReceived> m_replyingWindow; // its window, which closes once that is known
    bool m_busy = false; // the busy cursor is ours while the computer is asked
};
