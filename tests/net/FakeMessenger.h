#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

struct FakeMessengerState;

// Computers that take pop-up messages, played by one thread of the test: each has an
// address of its own on loopback (127.A.0.2, .3, ... with A drawn from the process id), and
// all of them share one UDP port for the name service and one TCP port for the sessions,
// ports the system hands out, so that any user may play them. Each answers node status and
// the messenger session as nmbd and smbd do, answers a group query sent to nameServer() for
// itself, from its own address, as to a broadcast (or, with serverAnswers, the name server
// answers for all of them, as a WINS server would), and records what it was sent. Some
// behave as broken or hostile computers do.
class FakeMessenger final
{
public:
    struct Computer
    {
        enum class Behaviour {
            Deliver,
            Refuse, // refuses the message with NT_STATUS_ACCESS_DENIED
            Silent, // takes the connection and never answers
            Nameless, // never answers node status
            NoMessenger, // its node status shows no <03> name
            LosesFirstStatus, // its first node-status answer is lost
            StatusFromOtherPort, // answers node status from a port of its own, not the name service's
            GroupFromOtherPort, // answers the group query from a port of its own
            NamesAnother, // answers the group query naming intruder() instead of itself
            AnswersAhead, // writes the positive session response and all three replies at once on accepting
            AnswersStartWithAll, // answers the start request with every reply still to come
            KeepsAlive, // after the session request, only a keep-alive every half second
            Dribbles, // after the session request, a frame of 65,535 bytes, one byte every half second
            Floods, // after the session request, keep-alives as fast as they are taken
        };
        QByteArray name; // in the code page
        Behaviour behaviour = Behaviour::Deliver;
        int delayMs = 0; // every answer of its session comes this late
        int queryDelayMs = 0; // its answer to the group query comes this late
    };

    struct Options
    {
        bool serverAnswers = false; // the name server answers group queries for every computer
        int unknownMembers = 0; // and names this many more, at addresses where nobody listens
        // Node-status answers held until every computer was asked (or for 20 ms), then sent at once.
        bool burst = false;
        int nameServicePort = 0; // 0: one the system chooses
        int sessionPort = 0;
    };

    struct Received
    {
        QByteArray called; // from the session request, padding removed
        QByteArray calling;
        QByteArray sender;
        QByteArray recipient;
        QByteArray text; // the pieces joined, as on the wire (CR LF)
    };

    FakeMessenger();
    ~FakeMessenger();
    FakeMessenger(const FakeMessenger &) = delete;
    FakeMessenger &operator=(const FakeMessenger &) = delete;

    // Starts answering for the computers, computer i on address(i); false with error().
    bool start(const QList<Computer> &computers, const Options &options);
    bool start(const QList<Computer> &computers) { return start(computers, Options()); }
    void stop();

    QString address(int i) const;
    // Where group queries go; any group but VACIO is answered.
    QString nameServer() const { return m_prefix + QStringLiteral("0.1"); }
    // An address no computer has, where nobody listens.
    QString intruder() const { return m_prefix + QStringLiteral("255.254"); }
    // Where the server says the k-th of Options::unknownMembers is.
    QString unknownMember(int k) const
    {
        return m_prefix + QStringLiteral("%1.%2").arg(128 + k / 250).arg(k % 250 + 2);
    }
    int nameServicePort() const { return m_nameServicePort; }
    int sessionPort() const { return m_sessionPort; }
    QString error() const { return m_error; }

    // Messages delivered so far, in the order their sessions ended.
    QList<Received> received() const;
    // The transaction ids of every name-service request, in the order they came.
    QList<quint16> requestIds() const;
    void clear();
    // The most sessions that were open at once.
    int mostAtOnce() const { return m_mostAtOnce; }

private:
    bool bindAll();
    void serve();

    std::unique_ptr<FakeMessengerState> m_state;
    QList<Computer> m_computers;
    Options m_options;
    QString m_prefix; // "127.A."
    int m_nameServicePort = 0;
    int m_sessionPort = 0;
    QString m_error;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_mostAtOnce { 0 };
    mutable std::mutex m_mutex;
    QList<Received> m_received;
    QList<quint16> m_requestIds;
};
