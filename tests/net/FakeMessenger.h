#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

// Computers that take pop-up messages, played by one thread of the test: each has an
// address of its own on loopback (127.A.B.2, .3, ... with A.B drawn from the process id,
// so that two tests at once do not meet), answers node status on UDP 137 and the messenger
// session on TCP 139 as smbd and nmbd do (nameServer() answers group queries for all of
// them), and records what it was sent. Needs root (the
// ports are below 1024).
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
        };
        QByteArray name; // in the code page
        Behaviour behaviour = Behaviour::Deliver;
        int delayMs = 0; // every answer comes this late
        int queryDelayMs = 0; // its answer to the group query comes this late
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
    bool start(const QList<Computer> &computers);
    void stop();

    QString address(int i) const;
    // Where group queries are answered, as a WINS server would, one answer per computer,
    // each after its queryDelayMs; any group but VACIO.
    QString nameServer() const { return m_prefix + QStringLiteral("1"); }
    QString error() const { return m_error; }

    // Messages delivered so far, in the order their sessions ended.
    QList<Received> received() const;
    void clear();
    // The most sessions that were open at once.
    int mostAtOnce() const { return m_mostAtOnce; }

private:
    void serve();

    struct State;
    std::unique_ptr<State> m_state;
    QList<Computer> m_computers;
    QString m_prefix;
    QString m_error;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_mostAtOnce { 0 };
    mutable std::mutex m_mutex;
    QList<Received> m_received;
};
