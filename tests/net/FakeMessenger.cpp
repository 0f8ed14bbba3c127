#include "FakeMessenger.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QByteArray frame(uint8_t type, const QByteArray &body)
{
    QByteArray out;
    out += char(type);
    out += char((body.size() >> 16) & 1);
    out += char((body.size() >> 8) & 0xff);
    out += char(body.size() & 0xff);
    return out + body;
}

// An SMB1 reply to command, with an NT status (0: success) and no words or bytes.
QByteArray smbReply(uint8_t command, uint32_t status, const QByteArray &request)
{
    QByteArray smb("\xffSMB", 4);
    smb += char(command);
    for (int i = 0; i < 4; ++i)
        smb += char((status >> (8 * i)) & 0xff);
    smb += char(0x80);
    smb += char(0x01);
    smb += char(0x40); // the status is an NT status
    smb += QByteArray(2 + 8 + 2 + 2, '\0');
    smb += request.mid(4 + 26, 2); // the pid, echoed
    smb += QByteArray(2 + 2, '\0');
    smb += QByteArray(3, '\0'); // no words, no bytes
    return frame(0x00, smb);
}

QByteArray decodeName(const QByteArray &encoded)
{
    QByteArray raw;
    for (int i = 0; i + 1 < encoded.size(); i += 2)
        raw += char(((encoded[i] - 'A') << 4) | (encoded[i + 1] - 'A'));
    QByteArray name = raw.left(15);
    while (name.endsWith(' '))
        name.chop(1);
    return name;
}

QByteArray nodeStatusAnswer(const QByteArray &request, const FakeMessenger::Computer &computer)
{
    struct Entry
    {
        QByteArray name;
        uint8_t type;
        uint16_t flags;
    };
    std::vector<Entry> names { { computer.name, 0x00, 0x0400 }, { "OFICINA", 0x00, 0x8400 } };
    if (computer.behaviour != FakeMessenger::Computer::Behaviour::NoMessenger)
        names.push_back({ computer.name, 0x03, 0x0400 });
    // Header: the request's id, a response with authority, one answer.
    QByteArray out = request.left(2) + QByteArray::fromHex("8400") + QByteArray::fromHex("0000000100000000");
    out += request.mid(12, 34); // the name asked for
    out += QByteArray::fromHex("00210001") + QByteArray(4, '\0');
    QByteArray data;
    data += char(names.size());
    for (const Entry &e : names) {
        QByteArray n = e.name.left(15);
        n += QByteArray(15 - n.size(), ' ');
        data += n + char(e.type) + char(e.flags >> 8) + char(e.flags & 0xff);
    }
    data += QByteArray(46, '\0');
    out += char(data.size() >> 8);
    out += char(data.size() & 0xff);
    return out + data;
}

struct Pending
{
    long long due;
    QByteArray bytes;
};

struct Connection
{
    int fd = -1;
    int computer = 0;
    QByteArray in;
    std::deque<Pending> out;
    FakeMessenger::Received message;
};

struct Datagram
{
    long long due;
    int socket;
    sockaddr_in to;
    QByteArray bytes;
};

} // namespace

struct FakeMessenger::State
{
    std::vector<int> listeners; // one per computer
    std::vector<int> nameSockets; // one per computer, then the name server's
    std::vector<Connection> connections;
    std::deque<Datagram> datagrams;
};

FakeMessenger::FakeMessenger()
    : m_state(std::make_unique<State>())
{
    const int pid = int(::getpid());
    m_prefix = QStringLiteral("127.%1.%2.").arg(100 + pid % 100).arg((pid / 100) % 250);
}

FakeMessenger::~FakeMessenger()
{
    stop();
}

QString FakeMessenger::address(int i) const
{
    return m_prefix + QString::number(i + 2);
}

bool FakeMessenger::start(const QList<Computer> &computers)
{
    stop();
    m_stop = false;
    m_computers = computers;
    for (int i = 0; i < computers.size(); ++i) {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, address(i).toLatin1().constData(), &a.sin_addr);
        const int one = 1;
        const int tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::setsockopt(tcp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        m_state->listeners.push_back(tcp);
        m_state->nameSockets.push_back(udp);
        a.sin_port = htons(139);
        if (::bind(tcp, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(tcp, 64) != 0) {
            m_error = QStringLiteral("TCP %1:139: %2").arg(address(i), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        a.sin_port = htons(137);
        if (::bind(udp, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            m_error = QStringLiteral("UDP %1:137: %2").arg(address(i), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    const int server = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    m_state->nameSockets.push_back(server);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(137);
    ::inet_pton(AF_INET, nameServer().toLatin1().constData(), &a.sin_addr);
    if (::bind(server, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        m_error = QStringLiteral("UDP %1:137: %2").arg(nameServer(), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_thread = std::thread([this] { serve(); });
    return true;
}

void FakeMessenger::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    for (Connection &c : m_state->connections)
        ::close(c.fd);
    m_state->connections.clear();
    for (int fd : m_state->listeners)
        ::close(fd);
    for (int fd : m_state->nameSockets)
        ::close(fd);
    m_state->listeners.clear();
    m_state->nameSockets.clear();
    m_state->datagrams.clear(); // answers still due would go out through closed (and reused) descriptors
}

QList<FakeMessenger::Received> FakeMessenger::received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

void FakeMessenger::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
    m_mostAtOnce = 0;
}

void FakeMessenger::serve()
{
    State &s = *m_state;
    using Behaviour = Computer::Behaviour;
    while (!m_stop) {
        const long long now = nowMs();
        long long wait = 50;
        // Answers that are due.
        while (!s.datagrams.empty() && s.datagrams.front().due <= now) {
            const Datagram &d = s.datagrams.front();
            ::sendto(d.socket, d.bytes.constData(), size_t(d.bytes.size()), 0,
                reinterpret_cast<const sockaddr *>(&d.to), sizeof d.to);
            s.datagrams.pop_front();
        }
        if (!s.datagrams.empty())
            wait = std::min(wait, s.datagrams.front().due - now);
        for (Connection &c : s.connections) {
            while (!c.out.empty() && c.out.front().due <= now) {
                ::send(c.fd, c.out.front().bytes.constData(), size_t(c.out.front().bytes.size()), MSG_NOSIGNAL);
                c.out.pop_front();
            }
            if (!c.out.empty())
                wait = std::min(wait, c.out.front().due - now);
        }

        std::vector<pollfd> polls;
        for (int fd : s.listeners)
            polls.push_back({ fd, POLLIN, 0 });
        for (int fd : s.nameSockets)
            polls.push_back({ fd, POLLIN, 0 });

        for (const Connection &c : s.connections)
            polls.push_back({ c.fd, POLLIN, 0 });
        if (::poll(polls.data(), polls.size(), int(std::max(0LL, wait))) <= 0)
            continue;
        const size_t computers = s.listeners.size();
        if (polls[2 * computers].revents & POLLIN) {
            char buffer[1024];
            sockaddr_in from {};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(
                s.nameSockets.back(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
            const QByteArray query(buffer, int(std::max<ssize_t>(n, 0)));
            // A name query (type NB) for a group: every computer answers for itself.
            // A name query for a messenger name (<03>): only that computer answers.
            const QByteArray asked = decodeName(query.mid(13, 32));
            const bool messenger = n == 50 && query.at(43) == 'A' && query.at(44) == 'D';
            if (n == 50 && (uint8_t(buffer[2]) & 0xf8) == 0x00 && buffer[47] == 0x20 && asked != "VACIO") {
                for (int i = 0; i < m_computers.size(); ++i) {
                    if (messenger && m_computers.at(i).name.toUpper() != asked)
                        continue;
                    // The query's id, a response with authority, one answer.
                    QByteArray answer = query.left(2) + QByteArray::fromHex("85000000000100000000");
                    answer += query.mid(12, 34)
                        + QByteArray::fromHex("0020000100000000"
                                              "0006"
                                              "8000");
                    in_addr member {};
                    ::inet_pton(AF_INET, address(i).toLatin1().constData(), &member);
                    answer += QByteArray(reinterpret_cast<const char *>(&member), 4);
                    s.datagrams.push_back(
                        { nowMs() + m_computers.at(i).queryDelayMs, s.nameSockets.back(), from, answer });
                }
                std::sort(s.datagrams.begin(), s.datagrams.end(),
                    [](const Datagram &a, const Datagram &b) { return a.due < b.due; });
            }
        }
        for (size_t i = 0; i < computers; ++i) {
            if (polls[i].revents & POLLIN) {
                const int fd = ::accept4(s.listeners[i], nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd >= 0) {
                    s.connections.push_back(Connection { fd, int(i), {}, {}, {} });
                    m_mostAtOnce = std::max(m_mostAtOnce.load(), int(s.connections.size()));
                }
            }
            if (polls[computers + i].revents & POLLIN) {
                char buffer[1024];
                sockaddr_in from {};
                socklen_t length = sizeof from;
                const ssize_t n = ::recvfrom(
                    s.nameSockets[i], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
                const Computer &computer = m_computers.at(int(i));
                // A node status request: flags 0, type NBSTAT.
                if (n >= 50 && computer.behaviour != Behaviour::Nameless && buffer[2] == 0 && buffer[47] == 0x21)
                    s.datagrams.push_back({ nowMs() + computer.delayMs, s.nameSockets[i], from,
                        nodeStatusAnswer(QByteArray(buffer, int(n)), computer) });
            }
        }
        std::vector<size_t> closed;
        for (size_t p = 2 * computers + 1; p < polls.size(); ++p) {
            if (!polls[p].revents)
                continue;
            Connection &c = s.connections[p - 2 * computers - 1];
            const Computer &computer = m_computers.at(c.computer);
            char buffer[4096];
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed.push_back(p - 2 * computers - 1);
                continue;
            }
            c.in.append(buffer, int(n));
            while (c.in.size() >= 4) {
                const int length = ((uint8_t(c.in[1]) & 1) << 16) | (uint8_t(c.in[2]) << 8) | uint8_t(c.in[3]);
                if (c.in.size() < 4 + length)
                    break;
                const QByteArray f = c.in.left(4 + length);
                c.in.remove(0, 4 + length);
                if (computer.behaviour == Behaviour::Silent)
                    continue;
                const long long due = nowMs() + computer.delayMs;
                if (uint8_t(f[0]) == 0x81) {
                    c.message.called = decodeName(f.mid(5, 32));
                    c.message.calling = decodeName(f.mid(39, 32));
                    c.out.push_back({ due, QByteArray("\x82\0\0\0", 4) });
                    continue;
                }
                const uint8_t command = uint8_t(f[8]);
                const QByteArray bytes = f.mid(4 + 32 + 1 + 2 * uint8_t(f[36]) + 2);
                uint32_t status = 0;
                if (command == 0xd5) {
                    const QList<QByteArray> parts = bytes.mid(1).split('\0');
                    c.message.sender = parts.value(0);
                    c.message.recipient = parts.value(1).mid(1);
                    if (computer.behaviour == Behaviour::Refuse)
                        status = 0xc0000022;
                } else if (command == 0xd7) {
                    c.message.text += bytes.mid(3);
                } else if (command == 0xd6) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_received.append(c.message);
                }
                c.out.push_back({ due, smbReply(command, status, f) });
            }
        }
        for (auto it = closed.rbegin(); it != closed.rend(); ++it) {
            ::close(s.connections[*it].fd);
            s.connections.erase(s.connections.begin() + long(*it));
        }
    }
}
