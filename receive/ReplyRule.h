#pragma once

#include "receive/Mailbox.h"
#include "runtime/posix/DatagramPeer.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

namespace NetbiosWire {
struct StatusName;
} // namespace NetbiosWire

// Whom "&Responder" writes to, as the computer the message came from says: it is asked for
// its names (NetBIOS node status, UDP) and the reply goes to the sender when the sender's
// name is one of its messenger names (<03>), which a computer set up with a name for each
// person has; to the computer's own messenger name otherwise, which reaches everybody there.
// The question never holds the user up: it is answered through the event loop, and a
// computer that has not answered within kBoundMs is taken to receive nothing. The answer is
// read as hostile input: only from the address and port asked, with the id of the question,
// parsed by the bounded node-status reader.
class ReplyRule final : public QObject
{
    Q_OBJECT

public:
    // The NetBIOS name service's port, where node status is asked.
    static constexpr quint16 kNameServicePort = 137;
    // The question goes out again this often, as a datagram may be lost...
    static constexpr int kRepeatMs = 300;
    // ...and is given up this long after the first one.
    static constexpr int kBoundMs = 1500;

    enum class Outcome {
        Person, // the sender's name is one of the computer's messenger names
        Computer, // it is not: the computer's own messenger name
        NoMessenger, // the computer has no messenger name: it receives nothing
        NoAnswer, // the computer did not answer in time, or refused the question
    };
    Q_ENUM(Outcome)

    explicit ReplyRule(QObject *parent = nullptr);
    ~ReplyRule() override;

    // Where the question goes; tests use a port of their own on loopback.
    void setNameServicePort(quint16 port) { m_port = port; }
    // The DOS code page the computers' names travel in (an iconv name).
    void setCodePage(const std::string &codePage) { m_codePage = codePage; }

    // Whom to answer without asking (a record that does not say where it came from): the
    // sender's name when it can be a NetBIOS name, else the computer it came from.
    static QString guess(const Mailbox::Message &message);

    // The decision on the names the computer gave for itself (names in codePage).
    static Outcome decide(const Mailbox::Message &message, const std::vector<NetbiosWire::StatusName> &names,
        const std::string &codePage, QString *recipient);

    // Asks the computer message came from; decided follows from the event loop, unless
    // ask or cancel comes first. False when it cannot be asked at all (the record gives no
    // IPv4 address): then nothing follows.
    bool ask(const Mailbox::Message &message);
    void cancel();
    bool asking() const { return m_bound.isActive(); }

Q_SIGNALS:
    void decided(ReplyRule::Outcome outcome, const QString &recipient);

private:
    void send();
    void readAnswers();
    void finish(Outcome outcome, const QString &recipient);
    // Whom to write to when the computer says nothing useful.
    QString computerOf() const;

    quint16 m_port = kNameServicePort;
    std::string m_codePage = "CP850";
    Mailbox::Message m_message;
    DatagramPeer m_peer;
    quint16 m_id = 0;
    std::string m_request;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_repeat;
    QTimer m_bound;
};
