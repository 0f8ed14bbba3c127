#include "FakeMessenger.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using Behaviour = FakeMessenger::Computer::Behaviour;

// How long node-status answers of a burst are gathered at most.
constexpr long long kBurstGatherMs = 20;

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

// An SMB1 reply to command, with an NT status (0: success) and no words or bytes; pid as the
// request carried it.
QByteArray smbReply(uint8_t command, uint32_t status, const QByteArray &pid)
{
    QByteArray smb("\xffSMB", 4);
    smb += char(command);
    for (int i = 0; i < 4; ++i)
        smb += char((status >> (8 * i)) & 0xff);
    smb += char(0x80);
    smb += char(0x01);
    smb += char(0x40); // the status is an NT status
    smb += QByteArray(2 + 8 + 2 + 2, '\0');
    smb += pid.leftJustified(2, '\0', true);
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
    if (computer.behaviour != Behaviour::NoMessenger)
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

// The answer to a name query, naming these addresses as group members.
QByteArray nameAnswer(const QByteArray &query, const QList<QString> &addresses)
{
    // The query's id, a response with authority, one answer.
    QByteArray answer = query.left(2) + QByteArray::fromHex("85000000000100000000");
    answer += query.mid(12, 34) + QByteArray::fromHex("0020000100000000");
    const int length = 6 * int(addresses.size());
    answer += char(length >> 8);
    answer += char(length & 0xff);
    for (const QString &address : addresses) {
        in_addr member {};
        ::inet_pton(AF_INET, address.toLatin1().constData(), &member);
        answer += QByteArray::fromHex("8000") + QByteArray(reinterpret_cast<const char *>(&member), 4);
    }
    return answer;
}

sockaddr_in socketAddress(const QString &address, int port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    ::inet_pton(AF_INET, address.toLatin1().constData(), &a.sin_addr);
    return a;
}

// What an epoll event belongs to: the kind in the high half, an index or serial in the low.
enum Kind : uint64_t { Listener = 1, Name = 2, NameServer = 3, Link = 4 };

uint64_t tag(Kind kind, uint64_t index)
{
    return (uint64_t(kind) << 32) | index;
}

struct Connection
{
    int fd = -1;
    int computer = 0;
    QByteArray in;
    FakeMessenger::Received message;
    bool ignoring = false; // said all it will say, whatever comes
    int ticks = 0;
};

// Something due later: a datagram, bytes for a session, or the next beat of a streaming one.
struct Event
{
    enum class Type { Datagram, Bytes, Beat };
    Type type = Type::Datagram;
    int socket = -1;
    sockaddr_in to {};
    QByteArray bytes;
    uint64_t connection = 0;
};

} // namespace

struct FakeMessengerState
{
    int epoll = -1;
    int nameServer = -1;
    std::vector<int> listeners; // one per computer
    std::vector<int> names; // one per computer
    std::vector<int> otherPorts; // one per computer that answers from another port, else -1
    std::unordered_map<uint64_t, Connection> connections;
    uint64_t nextSerial = 1;
    std::multimap<long long, Event> events;
    std::vector<bool> asked; // node status, per computer
    int askedCount = 0;
    std::vector<Event> held; // node-status answers of a burst
    long long heldSince = 0;

    void schedule(long long due, Event event) { events.emplace(due, std::move(event)); }
    void closeAll()
    {
        for (auto &[serial, c] : connections)
            ::close(c.fd);
        connections.clear();
        for (const std::vector<int> *fds : { &listeners, &names, &otherPorts }) {
            for (const int fd : *fds) {
                if (fd >= 0)
                    ::close(fd);
            }
        }
        listeners.clear();
        names.clear();
        otherPorts.clear();
        for (int *fd : { &nameServer, &epoll }) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
        events.clear(); // answers still due would go out through closed (and reused) descriptors
        held.clear();
        asked.clear();
        askedCount = 0;
    }
};

FakeMessenger::FakeMessenger()
    : m_state(std::make_unique<FakeMessengerState>())
{
    m_prefix = QStringLiteral("127.%1.").arg(20 + int(::getpid()) % 200);
}

FakeMessenger::~FakeMessenger()
{
    stop();
}

QString FakeMessenger::address(int i) const
{
    return m_prefix + QStringLiteral("%1.%2").arg(i / 250).arg(i % 250 + 2);
}

bool FakeMessenger::start(const QList<Computer> &computers, const Options &options)
{
    stop();
    m_stop = false;
    m_computers = computers;
    m_options = options;
    // Two descriptors a computer: more than a shell gives by default for the largest groups.
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (!bindAll()) {
        m_state->closeAll();
        return false;
    }
    m_thread = std::thread([this] { serve(); });
    return true;
}

// The name server first, on a port the system chooses; every computer then on that port and
// on the session port the first computer got.
bool FakeMessenger::bindAll()
{
    FakeMessengerState &s = *m_state;
    s.epoll = ::epoll_create1(EPOLL_CLOEXEC);
    const auto failed = [this](const QString &what) {
        m_error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    const auto watch = [&](int fd, uint64_t data) {
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.u64 = data;
        ::epoll_ctl(s.epoll, EPOLL_CTL_ADD, fd, &event);
    };
    const auto bindTo = [](int fd, const QString &address, int port) {
        const sockaddr_in a = socketAddress(address, port);
        return ::bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0;
    };
    const auto portOf = [](int fd) {
        sockaddr_in a {};
        socklen_t length = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
        return int(ntohs(a.sin_port));
    };
    s.nameServer = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (!bindTo(s.nameServer, nameServer(), m_options.nameServicePort))
        return failed(QStringLiteral("UDP %1").arg(nameServer()));
    m_nameServicePort = portOf(s.nameServer);
    watch(s.nameServer, tag(NameServer, 0));
    m_sessionPort = m_options.sessionPort;
    for (int i = 0; i < m_computers.size(); ++i) {
        const int one = 1;
        const int tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::setsockopt(tcp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        s.listeners.push_back(tcp);
        s.names.push_back(udp);
        s.otherPorts.push_back(-1);
        if (!bindTo(tcp, address(i), m_sessionPort) || ::listen(tcp, 128) != 0)
            return failed(QStringLiteral("TCP %1:%2").arg(address(i)).arg(m_sessionPort));
        m_sessionPort = portOf(tcp);
        if (!bindTo(udp, address(i), m_nameServicePort))
            return failed(QStringLiteral("UDP %1:%2").arg(address(i)).arg(m_nameServicePort));
        const Behaviour b = m_computers.at(i).behaviour;
        if (b == Behaviour::StatusFromOtherPort || b == Behaviour::GroupFromOtherPort) {
            s.otherPorts.back() = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (!bindTo(s.otherPorts.back(), address(i), 0))
                return failed(QStringLiteral("UDP %1").arg(address(i)));
        }
        watch(tcp, tag(Listener, uint64_t(i)));
        watch(udp, tag(Name, uint64_t(i)));
    }
    s.asked.assign(size_t(m_computers.size()), false);
    return true;
}

void FakeMessenger::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    m_state->closeAll();
}

QList<FakeMessenger::Received> FakeMessenger::received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

QList<quint16> FakeMessenger::requestIds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requestIds;
}

void FakeMessenger::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
    m_requestIds.clear();
    m_mostAtOnce = 0;
}

namespace {

// What one computer's side of the test does with what arrives; the state is the fake's.
class Player
{
public:
    Player(FakeMessengerState &s, const QList<FakeMessenger::Computer> &computers,
        const FakeMessenger::Options &options, const FakeMessenger &fake, std::mutex &mutex,
        QList<FakeMessenger::Received> &received, QList<quint16> &ids, std::atomic<int> &mostAtOnce)
        : s(s)
        , m_computers(computers)
        , m_options(options)
        , m_fake(fake)
        , m_mutex(mutex)
        , m_received(received)
        , m_ids(ids)
        , m_mostAtOnce(mostAtOnce)
    { }

    void fireDue(long long now);
    void releaseBurst(long long now);
    void accept(int i);
    void nodeStatus(int i, long long now);
    void groupQuery(long long now);
    void session(uint64_t serial, long long now);

private:
    void record(const QByteArray &request);
    void handleFrame(Connection &c, uint64_t serial, const QByteArray &f, long long now);
    void beat(uint64_t serial, long long now);
    void close(uint64_t serial);

    FakeMessengerState &s;
    const QList<FakeMessenger::Computer> &m_computers;
    const FakeMessenger::Options &m_options;
    const FakeMessenger &m_fake;
    std::mutex &m_mutex;
    QList<FakeMessenger::Received> &m_received;
    QList<quint16> &m_ids;
    std::atomic<int> &m_mostAtOnce;
};

void Player::record(const QByteArray &request)
{
    if (request.size() < 2)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ids.append(quint16((uint8_t(request[0]) << 8) | uint8_t(request[1])));
}

void Player::fireDue(long long now)
{
    while (!s.events.empty() && s.events.begin()->first <= now) {
        const Event e = s.events.begin()->second;
        s.events.erase(s.events.begin());
        if (e.type == Event::Type::Datagram) {
            ::sendto(e.socket, e.bytes.constData(), size_t(e.bytes.size()), 0,
                reinterpret_cast<const sockaddr *>(&e.to), sizeof e.to);
            continue;
        }
        const auto c = s.connections.find(e.connection);
        if (c == s.connections.end())
            continue;
        if (e.type == Event::Type::Bytes)
            ::send(c->second.fd, e.bytes.constData(), size_t(e.bytes.size()), MSG_NOSIGNAL);
        else
            beat(e.connection, now);
    }
}

void Player::accept(int i)
{
    for (;;) {
        const int fd = ::accept4(s.listeners[size_t(i)], nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const uint64_t serial = s.nextSerial++;
        Connection &c = s.connections[serial];
        c.fd = fd;
        c.computer = i;
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.u64 = tag(Link, serial);
        ::epoll_ctl(s.epoll, EPOLL_CTL_ADD, fd, &event);
        m_mostAtOnce = std::max(m_mostAtOnce.load(), int(s.connections.size()));
        if (m_computers.at(i).behaviour == Behaviour::AnswersAhead) {
            const QByteArray all
                = QByteArray("\x82\0\0\0", 4) + smbReply(0xd5, 0, {}) + smbReply(0xd7, 0, {}) + smbReply(0xd6, 0, {});
            ::send(fd, all.constData(), size_t(all.size()), MSG_NOSIGNAL);
            c.ignoring = true;
        }
    }
}

void Player::nodeStatus(int i, long long now)
{
    char buffer[1024];
    for (;;) {
        sockaddr_in from {};
        socklen_t length = sizeof from;
        const ssize_t n
            = ::recvfrom(s.names[size_t(i)], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 0)
            return;
        const QByteArray request(buffer, int(n));
        record(request);
        const FakeMessenger::Computer &computer = m_computers.at(i);
        // A node status request: flags 0, type NBSTAT.
        if (n < 50 || buffer[2] != 0 || buffer[47] != 0x21 || computer.behaviour == Behaviour::Nameless)
            continue;
        const bool first = !s.asked[size_t(i)];
        if (first) {
            s.asked[size_t(i)] = true;
            ++s.askedCount;
        }
        if (first && computer.behaviour == Behaviour::LosesFirstStatus)
            continue;
        const int socket
            = computer.behaviour == Behaviour::StatusFromOtherPort ? s.otherPorts[size_t(i)] : s.names[size_t(i)];
        Event answer { Event::Type::Datagram, socket, from, nodeStatusAnswer(request, computer), 0 };
        if (!m_options.burst) {
            s.schedule(now, std::move(answer));
            continue;
        }
        if (s.held.empty())
            s.heldSince = now;
        s.held.push_back(std::move(answer));
        releaseBurst(now);
    }
}

// Held answers go all at once when every computer has been asked, or when the requests
// stopped coming for a moment (as when net asks a few at a time).
void Player::releaseBurst(long long now)
{
    if (s.held.empty() || (s.askedCount < m_computers.size() && now - s.heldSince < kBurstGatherMs))
        return;
    for (Event &held : s.held)
        s.schedule(now, std::move(held));
    s.held.clear();
}

// A name query (type NB) for a group: every computer answers for itself. A name query for a
// messenger name (<03>): only that computer answers.
void Player::groupQuery(long long now)
{
    char buffer[1024];
    sockaddr_in from {};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(s.nameServer, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
    if (n < 0)
        return;
    const QByteArray query(buffer, int(n));
    record(query);
    const QByteArray asked = decodeName(query.mid(13, 32));
    const bool messenger = n == 50 && query.at(43) == 'A' && query.at(44) == 'D';
    if (n != 50 || (uint8_t(buffer[2]) & 0xf8) != 0x00 || buffer[47] != 0x20 || asked == "VACIO")
        return;
    for (int i = 0; i < m_computers.size(); ++i) {
        const FakeMessenger::Computer &computer = m_computers.at(i);
        if (messenger && computer.name.toUpper() != asked)
            continue;
        int socket = m_options.serverAnswers ? s.nameServer : s.names[size_t(i)];
        if (!m_options.serverAnswers && computer.behaviour == Behaviour::GroupFromOtherPort)
            socket = s.otherPorts[size_t(i)];
        const QString named = computer.behaviour == Behaviour::NamesAnother ? m_fake.intruder() : m_fake.address(i);
        s.schedule(
            now + computer.queryDelayMs, { Event::Type::Datagram, socket, from, nameAnswer(query, { named }), 0 });
    }
    if (!m_options.serverAnswers || messenger)
        return;
    QList<QString> unknown;
    for (int k = 0; k < m_options.unknownMembers; ++k) {
        unknown << m_fake.unknownMember(k);
        if (unknown.size() == 200 || k + 1 == m_options.unknownMembers) {
            s.schedule(now, { Event::Type::Datagram, s.nameServer, from, nameAnswer(query, unknown), 0 });
            unknown.clear();
        }
    }
}

void Player::session(uint64_t serial, long long now)
{
    const auto found = s.connections.find(serial);
    if (found == s.connections.end())
        return;
    Connection &c = found->second;
    char buffer[4096];
    const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        return close(serial);
    if (n < 0)
        return;
    c.in.append(buffer, int(n));
    while (c.in.size() >= 4) {
        const int length = ((uint8_t(c.in[1]) & 1) << 16) | (uint8_t(c.in[2]) << 8) | uint8_t(c.in[3]);
        if (c.in.size() < 4 + length)
            break;
        const QByteArray f = c.in.left(4 + length);
        c.in.remove(0, 4 + length);
        if (!c.ignoring && m_computers.at(c.computer).behaviour != Behaviour::Silent)
            handleFrame(c, serial, f, now);
    }
}

void Player::handleFrame(Connection &c, uint64_t serial, const QByteArray &f, long long now)
{
    const FakeMessenger::Computer &computer = m_computers.at(c.computer);
    const long long due = now + computer.delayMs;
    if (uint8_t(f[0]) == 0x81) {
        c.message.called = decodeName(f.mid(5, 32));
        c.message.calling = decodeName(f.mid(39, 32));
        const Behaviour b = computer.behaviour;
        if (b == Behaviour::KeepsAlive || b == Behaviour::Dribbles || b == Behaviour::Floods) {
            c.ignoring = true;
            s.schedule(now, { Event::Type::Beat, -1, {}, {}, serial });
        } else {
            s.schedule(due, { Event::Type::Bytes, -1, {}, QByteArray("\x82\0\0\0", 4), serial });
        }
        return;
    }
    const uint8_t command = uint8_t(f[8]);
    const QByteArray pid = f.mid(4 + 26, 2);
    const QByteArray bytes = f.mid(4 + 32 + 1 + 2 * uint8_t(f[36]) + 2);
    uint32_t status = 0;
    QByteArray reply;
    if (command == 0xd5) {
        const QList<QByteArray> parts = bytes.mid(1).split('\0');
        c.message.sender = parts.value(0);
        c.message.recipient = parts.value(1).mid(1);
        if (computer.behaviour == Behaviour::Refuse)
            status = 0xc0000022;
        if (computer.behaviour == Behaviour::AnswersStartWithAll) {
            reply = smbReply(0xd7, 0, pid) + smbReply(0xd6, 0, pid);
            c.ignoring = true;
        }
    } else if (command == 0xd7) {
        c.message.text += bytes.mid(3);
    } else if (command == 0xd6) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.append(c.message);
    }
    s.schedule(due, { Event::Type::Bytes, -1, {}, smbReply(command, status, pid) + reply, serial });
}

// A session that streams what is no answer: keep-alives, or one frame that never ends.
void Player::beat(uint64_t serial, long long now)
{
    Connection &c = s.connections.at(serial);
    switch (m_computers.at(c.computer).behaviour) {
    case Behaviour::KeepsAlive:
        ::send(c.fd, "\x85\0\0\0", 4, MSG_NOSIGNAL);
        s.schedule(now + 500, { Event::Type::Beat, -1, {}, {}, serial });
        return;
    case Behaviour::Dribbles:
        if (c.ticks++ == 0)
            ::send(c.fd, "\0\0\xff\xff", 4, MSG_NOSIGNAL); // a frame of 65,535 bytes...
        else
            ::send(c.fd, "x", 1, MSG_NOSIGNAL); // ...of which one comes now and then
        s.schedule(now + 500, { Event::Type::Beat, -1, {}, {}, serial });
        return;
    default: {
        static const QByteArray flood = QByteArray("\x85\0\0\0", 4).repeated(16384);
        ::send(c.fd, flood.constData(), size_t(flood.size()), MSG_NOSIGNAL);
        s.schedule(now + 1, { Event::Type::Beat, -1, {}, {}, serial });
    }
    }
}

void Player::close(uint64_t serial)
{
    const auto c = s.connections.find(serial);
    if (c == s.connections.end())
        return;
    ::close(c->second.fd);
    s.connections.erase(c);
}

} // namespace

void FakeMessenger::serve()
{
    FakeMessengerState &s = *m_state;
    Player player(s, m_computers, m_options, *this, m_mutex, m_received, m_requestIds, m_mostAtOnce);
    std::vector<epoll_event> ready(256);
    while (!m_stop) {
        const long long now = nowMs();
        player.releaseBurst(now);
        player.fireDue(now);
        long long wait = s.held.empty() ? 50 : kBurstGatherMs;
        if (!s.events.empty())
            wait = std::clamp(s.events.begin()->first - now, 0LL, wait);
        const int n = ::epoll_wait(s.epoll, ready.data(), int(ready.size()), int(wait));
        const long long heard = nowMs();
        for (int e = 0; e < n; ++e) {
            const uint64_t data = ready[size_t(e)].data.u64;
            const int index = int(data & 0xffffffff);
            switch (Kind(data >> 32)) {
            case Listener:
                player.accept(index);
                break;
            case Name:
                player.nodeStatus(index, heard);
                break;
            case NameServer:
                player.groupQuery(heard);
                break;
            case Link:
                player.session(data & 0xffffffff, heard);
                break;
            }
        }
    }
}
