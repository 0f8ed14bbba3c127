#include "net/Messenger.h"

#include "net/BoundedProcess.h"
#include "net/MessageText.h"
#include "net/NetConfig.h"
#include "net/NetbiosWire.h"
#include "profile/Unicode.h"
#include "profile/Utf8Text.h"
#include "runtime/posix/Descriptor.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {

using Result = Messenger::Result;
using Outcome = SmbClient::Outcome;
using Frame = NetbiosWire::Frame;

// Sessions open at once, fewer where the limit on descriptors is lower: the rest wait their turn.
constexpr size_t kMaxConnections = 1024;
// Descriptors left for everything else net has open.
constexpr size_t kReservedDescriptors = 16;
// What a recipient may send in all before it is taken for something else than a messenger:
// a whole exchange takes less than a kilobyte.
constexpr size_t kMaxReceived = 2 * NetbiosWire::kMaxFrameBytes;
// What the kernel counts for one name-service datagram waiting to be read.
constexpr size_t kDatagramCost = 2048;
// A node-status request counts as on its way this long, unless answered sooner. No more are
// on their way than the receive buffer holds answers, so that a burst of answers loses none.
constexpr long long kFlightMs = 100;
// Datagrams read at one wake, so that a flood of them cannot hold up the sessions.
constexpr int kDatagramsAtOnce = 4096;
// Members beyond the bound are counted up to this many.
constexpr size_t kMaxCounted = 65536;
constexpr int kQuerySends = 3;
constexpr long long kQueryRepeatMs = 250;
constexpr const char *kInvalid = "respuesta no válida del equipo";
constexpr size_t kNameServiceOwner = size_t(-1);

// Transaction ids nobody else can foretell, from the system's random source, each once in a
// run so that every answer finds the one request it belongs to.
class TransactionIds
{
public:
    uint16_t draw()
    {
        if (m_used.size() >= 0xffff)
            m_used.clear(); // never with the bounds a run keeps
        for (;;) {
            if (m_at == m_pool.size())
                refill();
            const uint16_t id = m_pool[m_at++];
            if (m_used.insert(id).second)
                return id;
        }
    }

private:
    void refill()
    {
        auto *bytes = reinterpret_cast<char *>(m_pool.data());
        size_t got = 0;
        while (got < sizeof m_pool) {
            const ssize_t n = ::getrandom(bytes + got, sizeof m_pool - got, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += size_t(n);
        }
        if (got < sizeof m_pool) {
            std::random_device device; // a kernel without getrandom
            for (uint16_t &id : m_pool)
                id = uint16_t(device());
        }
        m_at = 0;
    }

    std::array<uint16_t, 256> m_pool {};
    size_t m_at = m_pool.size();
    std::unordered_set<uint16_t> m_used;
};

struct Slot
{
    enum class State { Status, Queued, Connecting, Session, Start, Text, End, Done };
    State state = State::Queued;
    sockaddr_storage address {};
    socklen_t addressLength = 0;
    Descriptor socket;
    std::string out; // written whole before any reply counts
    std::string in;
    size_t received = 0;
    long long lastAnswer = 0; // or the connection made: the silence counts from here
    long long boundAt = 0; // given up then whatever it does
    long long firstAsked = 0; // node status
    long long statusSentAt = 0;
    int statusSends = 0;
    uint16_t statusId = 0;
    size_t piece = 0;
    uint16_t group = 0;
};

// The name query under way: sent again a few times, listened to until answers stop (for a
// group), or until the first answer (for one computer, called then by the name asked for).
struct Query
{
    uint8_t type = 0x00;
    std::string name; // asked for, in the code page
    std::string called; // the one computer's name in the code page; empty for a group
    sockaddr_in to {};
    bool active = false;
    std::string request;
    uint16_t id = 0;
    int sends = 0;
    long long sentAt = 0;
    long long start = 0;
    long long lastNew = 0;
    long long listenMs = 0;
    long long quietMs = Messenger::kQuietMs;
    bool answered = false;
    std::unordered_set<std::string> expected; // members known before; their answers may cut the wait
    size_t expectedLeft = 0;
    long long firstAnswer = 0;
    long long knownQuietMs = 0; // set once every expected member has answered
};

bool parseAddress(const std::string &text, int port, Slot &slot)
{
    auto *v4 = reinterpret_cast<sockaddr_in *>(&slot.address);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&slot.address);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(uint16_t(port));
        slot.addressLength = sizeof(sockaddr_in);
        return true;
    }
    if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(uint16_t(port));
        slot.addressLength = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

// Every recipient at once, from one loop: the name-service socket, a session per recipient
// and the timers of both. With a query, the members it finds join as they answer.
class Run
{
public:
    Run(const Messenger::Options &options, const std::string &message, const Messenger::Check &check, Query *query);
    std::vector<Result> serve(const std::vector<Messenger::Recipient> &recipients);
    size_t beyondBound() const { return m_beyond.size(); }

private:
    void openNameService(size_t answers);
    void allowConnections(size_t wanted);
    void add(const Messenger::Recipient &recipient);
    int sessionPort(const Messenger::Recipient &recipient) const;
    long long tick(long long now);
    bool tickQuery(long long now, long long &wait);
    bool tickSlot(size_t i, long long now, long long &wait, size_t &budget);
    bool tickStatus(size_t i, long long now, long long &wait, size_t &budget);
    void endAtDeadline(long long now);
    bool pollOnce(long long wait);
    void readDatagrams(long long now);
    void takeMembers(const NetbiosWire::NameAnswer &answer, const sockaddr_in &from, long long now);
    void memberJoined(const std::string &address, long long now);
    void takeStatus(const NetbiosWire::NodeStatus &status, const sockaddr_in &from);
    void nameLearned(size_t i, const NetbiosWire::NodeStatus &status);
    void startConnection(size_t i, long long now);
    void serveSocket(size_t i, short revents, long long now);
    bool connected(size_t i, short revents, long long now);
    void receive(size_t i, long long now);
    void readFrames(size_t i, long long now);
    void answer(size_t i, const Frame &frame);
    void flush(size_t i);
    void finish(size_t i, Outcome outcome, std::string detail);
    void connectionFailed(size_t i, int error);
    void closedByPeer(size_t i, const char *status);

    const Messenger::Options &m_options;
    const Messenger::Check &m_check;
    Query *m_query;
    const std::vector<std::string> m_pieces;
    const std::string m_calling;
    const uint16_t m_pid;
    const long long m_silenceMs;
    const long long m_boundMs;
    const long long m_statusRepeatMs;
    long long m_start = 0;
    long long m_deadline = 0;
    size_t m_maxOpen = 256;
    size_t m_open = 0;
    size_t m_statusWindow = 16;
    bool m_pending = true;
    Descriptor m_nameService;
    TransactionIds m_ids;
    std::vector<Messenger::Recipient> m_recipients;
    std::vector<Slot> m_slots;
    std::vector<Result> m_results;
    std::unordered_set<std::string> m_addresses; // of every recipient
    std::unordered_set<std::string> m_beyond; // members that answered past the bound
    std::unordered_map<uint16_t, size_t> m_statusIds; // node-status id to recipient
    std::deque<std::pair<long long, size_t>> m_flight; // node-status requests on their way
    std::vector<pollfd> m_polls;
    std::vector<size_t> m_owners;
};

Run::Run(const Messenger::Options &options, const std::string &message, const Messenger::Check &check, Query *query)
    : m_options(options)
    , m_check(check)
    , m_query(query)
    , m_pieces(NetbiosWire::pieces(message))
    , m_calling(Messenger::ownName())
    , m_pid(uint16_t(::getpid() & 0xffff))
    , m_silenceMs(static_cast<long long>(options.timeoutSeconds) * 1000)
    , m_boundMs(m_silenceMs * Messenger::kBoundFactor)
    // Asked again within Espera: an answer lost in a burst is asked for while there is time.
    , m_statusRepeatMs(std::clamp(m_silenceMs / 4, 250LL, 1000LL))
{ }

std::vector<Result> Run::serve(const std::vector<Messenger::Recipient> &recipients)
{
    const long long start = m_start = nowMs();
    const size_t learners
        = size_t(std::count_if(recipients.begin(), recipients.end(), [](const auto &r) { return r.wireName.empty(); }));
    if (m_query || learners > 0)
        openNameService(m_query ? Messenger::kMaxMembers : learners);
    allowConnections(m_query ? Messenger::kMaxMembers : recipients.size());
    m_recipients.reserve(recipients.size());
    for (const Messenger::Recipient &r : recipients) {
        m_recipients.push_back(r);
        add(r);
    }
    if (m_query) {
        m_query->active = m_nameService.isOpen();
        m_query->start = m_query->lastNew = start;
        m_query->sentAt = start - kQueryRepeatMs;
        m_query->id = m_ids.draw();
        m_query->request = NetbiosWire::nameQuery(m_query->id, m_query->name, m_query->type, true);
    }
    m_deadline = start + (m_query ? m_query->listenMs : 0) + m_boundMs;
    while (BoundedProcess::interruption() == 0) {
        const long long now = nowMs();
        if (now >= m_deadline) {
            endAtDeadline(now);
            break;
        }
        const long long wait = tick(now);
        if (!m_pending || !pollOnce(std::min(wait, m_deadline - now)))
            break;
    }
    return std::move(m_results);
}

void Run::openNameService(size_t answers)
{
    m_nameService = Descriptor(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int fd = m_nameService.get();
    if (fd < 0)
        return;
    const int one = 1;
    if (m_query)
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    // Every member may answer at once: room for all of them, or as much as this user may have.
    const int bytes = int(std::min(answers, Messenger::kMaxMembers) * kDatagramCost);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int held = 0;
    socklen_t length = sizeof held;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &held, &length) == 0 && held > 0)
        m_statusWindow = std::max<size_t>(m_statusWindow, size_t(held) / kDatagramCost / 2);
}

// As many sessions at once as there are descriptors for, the limit raised where it may be.
void Run::allowConnections(size_t wanted)
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t needed = rlim_t(std::min(wanted, kMaxConnections) + kReservedDescriptors);
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    const rlim_t usable = limit.rlim_cur == RLIM_INFINITY ? rlim_t(kMaxConnections) : limit.rlim_cur;
    m_maxOpen = usable > kReservedDescriptors ? std::min(size_t(usable - kReservedDescriptors), kMaxConnections) : 1;
}

int Run::sessionPort(const Messenger::Recipient &recipient) const
{
    return recipient.port > 0 ? recipient.port : m_options.sessionPort;
}

void Run::add(const Messenger::Recipient &r)
{
    const size_t i = m_slots.size();
    m_slots.emplace_back();
    m_results.emplace_back();
    Slot &slot = m_slots.back();
    Result &result = m_results.back();
    result.wireName = r.wireName;
    result.address = r.address;
    m_addresses.insert(r.address);
    const bool learn = r.wireName.empty();
    if (!parseAddress(r.address, learn ? m_options.nameServicePort : sessionPort(r), slot))
        return finish(i, Outcome::Failed, "dirección no válida: " + r.address);
    if (!learn)
        return;
    if (slot.address.ss_family != AF_INET || !m_nameService.isOpen()) {
        result.stage = Result::Stage::NameUnknown;
        slot.state = Slot::State::Done;
        return;
    }
    slot.state = Slot::State::Status;
}

// The timers: the query's, every recipient's. Returns how long nothing is due.
long long Run::tick(long long now)
{
    long long wait = 200; // interruptions are looked at this often at least
    // The listening ends before anything else is looked at, so that a run with nothing
    // else to wait for ends at once, not after one more idle wait.
    bool pending = tickQuery(now, wait);
    while (!m_flight.empty()
        && (m_flight.front().first <= now - kFlightMs || m_slots[m_flight.front().second].state != Slot::State::Status))
        m_flight.pop_front();
    size_t budget = m_statusWindow > m_flight.size() ? m_statusWindow - m_flight.size() : 0;
    for (size_t i = 0; i < m_slots.size(); ++i)
        pending = tickSlot(i, now, wait, budget) || pending;
    if (budget == 0 && !m_flight.empty())
        wait = std::min(wait, m_flight.front().first + kFlightMs - now);
    m_pending = pending;
    return std::max(0LL, wait);
}

bool Run::tickQuery(long long now, long long &wait)
{
    Query *query = m_query;
    if (!query || !query->active)
        return false;
    const long long quiet = query->knownQuietMs > 0 ? query->knownQuietMs : query->quietMs;
    if (now - query->start >= query->listenMs || now - query->lastNew >= quiet) {
        query->active = false;
        return false;
    }
    if (query->sends < kQuerySends && now - query->sentAt >= kQueryRepeatMs) {
        ::sendto(m_nameService.get(), query->request.data(), query->request.size(), 0,
            reinterpret_cast<const sockaddr *>(&query->to), sizeof query->to);
        query->sentAt = now;
        ++query->sends;
    }
    wait = std::min({ wait, query->start + query->listenMs - now, query->lastNew + quiet - now });
    if (query->sends < kQuerySends)
        wait = std::min(wait, query->sentAt + kQueryRepeatMs - now);
    return true;
}

bool Run::tickSlot(size_t i, long long now, long long &wait, size_t &budget)
{
    Slot &slot = m_slots[i];
    switch (slot.state) {
    case Slot::State::Done:
        return false;
    case Slot::State::Status:
        return tickStatus(i, now, wait, budget);
    case Slot::State::Queued:
        if (m_open >= m_maxOpen)
            return true;
        startConnection(i, now);
        if (slot.state == Slot::State::Connecting)
            wait = 0; // a connection to loopback may be complete already
        return slot.state != Slot::State::Done;
    default:
        break;
    }
    if (now >= slot.boundAt) {
        finish(i, Outcome::TimedOut, {});
        m_results[i].delivery.elapsedSeconds = int(m_boundMs / 1000);
        return false;
    }
    if (now - slot.lastAnswer >= m_silenceMs) {
        finish(i, Outcome::TimedOut, {});
        return false;
    }
    wait = std::min({ wait, slot.lastAnswer + m_silenceMs - now, slot.boundAt - now });
    return true;
}

// A node status is asked again until it is answered or Espera has passed since the first ask.
bool Run::tickStatus(size_t i, long long now, long long &wait, size_t &budget)
{
    Slot &slot = m_slots[i];
    if (slot.statusSends > 0 && now - slot.firstAsked >= m_silenceMs) {
        m_results[i].stage = Result::Stage::NameUnknown;
        slot.state = Slot::State::Done;
        return false;
    }
    if (slot.statusSends == 0 || now - slot.statusSentAt >= m_statusRepeatMs) {
        if (budget == 0)
            return true; // its turn comes as answers come
        --budget;
        if (slot.statusSends == 0) {
            slot.firstAsked = now;
            slot.statusId = m_ids.draw();
            m_statusIds.emplace(slot.statusId, i);
        }
        const std::string request = NetbiosWire::nodeStatusRequest(slot.statusId);
        ::sendto(m_nameService.get(), request.data(), request.size(), 0,
            reinterpret_cast<const sockaddr *>(&slot.address), slot.addressLength);
        slot.statusSentAt = now;
        ++slot.statusSends;
        m_flight.emplace_back(now, i);
    }
    wait = std::min({ wait, slot.statusSentAt + m_statusRepeatMs - now, slot.firstAsked + m_silenceMs - now });
    return true;
}

// The whole run has had its time: whoever is not done is given up.
void Run::endAtDeadline(long long now)
{
    if (m_query)
        m_query->active = false;
    const std::string spent
        = "se han agotado los " + NetConfig::seconds(int((now - m_start + 500) / 1000)) + " que puede durar el envío";
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].state == Slot::State::Status) {
            m_results[i].stage = Result::Stage::NameUnknown;
            m_slots[i].state = Slot::State::Done;
        } else if (m_slots[i].state != Slot::State::Done) {
            finish(i, Outcome::Failed, spent);
        }
    }
}

bool Run::pollOnce(long long wait)
{
    m_polls.clear();
    m_owners.clear();
    if (m_nameService.isOpen()) {
        m_polls.push_back({ m_nameService.get(), POLLIN, 0 });
        m_owners.push_back(kNameServiceOwner);
    }
    for (size_t i = 0; i < m_slots.size(); ++i) {
        const Slot &slot = m_slots[i];
        if (!slot.socket.isOpen())
            continue;
        short events = POLLIN;
        if (slot.state == Slot::State::Connecting || !slot.out.empty())
            events |= POLLOUT;
        m_polls.push_back({ slot.socket.get(), events, 0 });
        m_owners.push_back(i);
    }
    const int ready = ::poll(m_polls.data(), m_polls.size(), int(wait));
    if (ready < 0 && errno != EINTR)
        return false;
    if (ready <= 0)
        return true;
    const long long now = nowMs();
    for (size_t p = 0; p < m_polls.size(); ++p) {
        if (m_polls[p].revents == 0)
            continue;
        if (m_owners[p] == kNameServiceOwner)
            readDatagrams(now); // may add slots: the others' indices stay
        else
            serveSocket(m_owners[p], m_polls[p].revents, now);
    }
    return true;
}

// Name-service answers: only the name service speaks from its port.
void Run::readDatagrams(long long now)
{
    char datagram[2048];
    for (int count = 0; count < kDatagramsAtOnce; ++count) {
        sockaddr_in from {};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(
            m_nameService.get(), datagram, sizeof datagram, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 0)
            return;
        if (length != sizeof from || from.sin_family != AF_INET
            || ntohs(from.sin_port) != uint16_t(m_options.nameServicePort))
            continue;
        const std::string_view bytes(datagram, size_t(n));
        if (const auto status = NetbiosWire::readNodeStatus(bytes)) {
            takeStatus(*status, from);
        } else if (m_query && m_query->active) {
            if (const auto members = NetbiosWire::readNameAnswer(bytes))
                takeMembers(*members, from, now);
        }
    }
}

// The server asked directly may name every member; anyone else speaks only for itself, so
// that no answer sends net to addresses of its choosing.
void Run::takeMembers(const NetbiosWire::NameAnswer &answer, const sockaddr_in &from, long long now)
{
    Query &query = *m_query;
    if (answer.id != query.id)
        return;
    const bool fromServer = from.sin_addr.s_addr == query.to.sin_addr.s_addr;
    // A server's "no such name" is as final as the one computer's answer.
    if (answer.negative) {
        if (fromServer && !query.called.empty())
            query.active = false;
        return;
    }
    char sender[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
    for (const std::string &address : answer.addresses) {
        if ((!fromServer && address != sender) || m_addresses.count(address) > 0)
            continue;
        if (m_recipients.size() >= Messenger::kMaxMembers) {
            if (m_beyond.size() < kMaxCounted)
                m_beyond.insert(address);
            continue;
        }
        memberJoined(address, now);
        if (!query.called.empty()) {
            query.active = false;
            return;
        }
    }
}

void Run::memberJoined(const std::string &address, long long now)
{
    Query &query = *m_query;
    m_recipients.push_back({ address, 0, query.called });
    add(m_recipients.back());
    if (!query.answered)
        query.firstAnswer = now;
    query.lastNew = now;
    query.answered = true;
    if (query.expected.count(address) > 0 && query.expectedLeft > 0 && --query.expectedLeft == 0)
        query.knownQuietMs = std::max(Messenger::kKnownQuietMs, now - query.firstAnswer);
}

// A node status counts from the member itself (and, as every answer, from the name-service port).
void Run::takeStatus(const NetbiosWire::NodeStatus &status, const sockaddr_in &from)
{
    const auto owner = m_statusIds.find(status.id);
    if (owner == m_statusIds.end())
        return;
    const size_t i = owner->second;
    Slot &slot = m_slots[i];
    const auto *asked = reinterpret_cast<const sockaddr_in *>(&slot.address);
    if (slot.state != Slot::State::Status || asked->sin_addr.s_addr != from.sin_addr.s_addr)
        return;
    parseAddress(m_recipients[i].address, sessionPort(m_recipients[i]), slot);
    nameLearned(i, status);
}

// Its messenger name, or why it has none.
void Run::nameLearned(size_t i, const NetbiosWire::NodeStatus &status)
{
    Slot &slot = m_slots[i];
    Result &result = m_results[i];
    const std::string wire = NetbiosWire::messengerName(status.names);
    slot.state = Slot::State::Done;
    if (wire.empty()) {
        result.stage = Result::Stage::NoMessenger;
        return;
    }
    result.wireName = wire;
    const std::optional<std::string> utf8 = MessageText::toUtf8(wire, m_options.codePage);
    result.name = utf8 ? *utf8 : Utf8Text::valid(wire);
    result.stage = Result::Stage::Messaged;
    if (m_check)
        m_check(result);
    if (!result.refusal.empty()) {
        result.stage = Result::Stage::Refused;
        return;
    }
    slot.state = Slot::State::Queued;
}

void Run::startConnection(size_t i, long long now)
{
    Slot &slot = m_slots[i];
    const int fd = ::socket(slot.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return finish(i, Outcome::Failed, std::strerror(errno));
    slot.socket = Descriptor(fd);
    ++m_open;
    // Counted from the call: the time spent waiting for a free connection is not the recipient's.
    slot.boundAt = now + m_boundMs;
    slot.lastAnswer = now;
    slot.state = Slot::State::Connecting;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&slot.address), slot.addressLength) != 0
        && errno != EINPROGRESS)
        connectionFailed(i, errno);
}

void Run::serveSocket(size_t i, short revents, long long now)
{
    Slot &slot = m_slots[i];
    if (slot.state == Slot::State::Connecting && !connected(i, revents, now))
        return;
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        receive(i, now);
        if (slot.state == Slot::State::Done)
            return;
    }
    flush(i);
}

bool Run::connected(size_t i, short revents, long long now)
{
    Slot &slot = m_slots[i];
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(slot.socket.get(), SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        connectionFailed(i, error);
        return false;
    }
    if (!(revents & (POLLOUT | POLLIN)))
        return false;
    slot.lastAnswer = now;
    slot.state = Slot::State::Session;
    slot.out = NetbiosWire::sessionRequest(Messenger::calledName(m_results[i].wireName, m_options.codePage), m_calling);
    return true;
}

void Run::receive(size_t i, long long now)
{
    Slot &slot = m_slots[i];
    char buffer[4096];
    const ssize_t n = ::recv(slot.socket.get(), buffer, sizeof buffer, 0);
    if (n > 0) {
        slot.received += size_t(n);
        if (slot.received > kMaxReceived)
            return finish(i, Outcome::Failed, kInvalid);
        slot.in.append(buffer, size_t(n));
        readFrames(i, now);
    } else if (n == 0) {
        closedByPeer(i, "NT_STATUS_CONNECTION_DISCONNECTED");
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        closedByPeer(i, errno == ECONNRESET ? "NT_STATUS_CONNECTION_RESET" : "NT_STATUS_CONNECTION_DISCONNECTED");
    }
}

// Acts on the frames received so far. A keep-alive says nothing, and a frame not yet whole
// is no answer: neither ends the silence.
void Run::readFrames(size_t i, long long now)
{
    Slot &slot = m_slots[i];
    size_t at = 0;
    while (slot.state != Slot::State::Done) {
        const Frame frame = NetbiosWire::readFrame(std::string_view(slot.in).substr(at));
        if (frame.kind == Frame::Kind::Incomplete)
            break;
        if (frame.kind == Frame::Kind::Invalid)
            return finish(i, Outcome::Failed, kInvalid);
        at += frame.size;
        if (frame.kind == Frame::Kind::KeepAlive)
            continue;
        // A reply counts only for a request written whole: one that came sooner answers
        // something not yet asked.
        if (!slot.out.empty())
            return finish(i, Outcome::Failed, kInvalid);
        slot.lastAnswer = now;
        answer(i, frame);
    }
    slot.in.erase(0, at);
}

// One reply, to the request of the state the session is in.
void Run::answer(size_t i, const Frame &frame)
{
    Slot &slot = m_slots[i];
    if (slot.state == Slot::State::Session) {
        if (frame.kind == Frame::Kind::Positive) {
            slot.out += NetbiosWire::sendStart(m_options.sender, m_results[i].wireName, m_pid);
            slot.state = Slot::State::Start;
        } else if (frame.kind == Frame::Kind::Negative) {
            const std::string status = NetbiosWire::negativeStatus(frame.negativeCode);
            finish(i, frame.negativeCode == 0x82 ? Outcome::NotFound : Outcome::NoAnswer, status);
        } else {
            finish(i, Outcome::Failed, kInvalid);
        }
        return;
    }
    static constexpr uint8_t kExpected[] = { 0xd5, 0xd7, 0xd6 };
    const size_t step = slot.state == Slot::State::Start ? 0 : slot.state == Slot::State::Text ? 1 : 2;
    if (frame.kind != Frame::Kind::Message || frame.command != kExpected[step])
        return finish(i, Outcome::Failed, kInvalid);
    if (frame.ntStatus != 0)
        return finish(i, Outcome::Refused, frame.statusName);
    if (slot.state == Slot::State::Start) {
        slot.group = frame.group;
        slot.piece = 0;
        slot.state = Slot::State::Text;
        slot.out += NetbiosWire::sendText(m_pieces.at(0), slot.group, m_pid);
    } else if (slot.state == Slot::State::Text) {
        if (++slot.piece < m_pieces.size()) {
            slot.out += NetbiosWire::sendText(m_pieces.at(slot.piece), slot.group, m_pid);
        } else {
            slot.state = Slot::State::End;
            slot.out += NetbiosWire::sendEnd(slot.group, m_pid);
        }
    } else {
        finish(i, Outcome::Delivered, {});
    }
}

void Run::flush(size_t i)
{
    Slot &slot = m_slots[i];
    if (slot.out.empty() || !slot.socket.isOpen())
        return;
    const ssize_t n = ::send(slot.socket.get(), slot.out.data(), slot.out.size(), MSG_NOSIGNAL);
    if (n > 0)
        slot.out.erase(0, size_t(n));
    else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        closedByPeer(i, errno == ECONNRESET ? "NT_STATUS_CONNECTION_RESET" : "NT_STATUS_CONNECTION_DISCONNECTED");
}

void Run::finish(size_t i, Outcome outcome, std::string detail)
{
    Slot &slot = m_slots[i];
    m_results[i].delivery = { outcome, std::move(detail) };
    slot.state = Slot::State::Done;
    if (slot.socket.isOpen()) {
        slot.socket.reset();
        --m_open;
    }
    // What a finished member sent or was to be sent is let go at once: kept, a group of
    // members that each send the most a reply may hold would grow net without bound.
    std::string().swap(slot.in);
    std::string().swap(slot.out);
}

// How a failed connection reads, as smbclient names it.
void Run::connectionFailed(size_t i, int error)
{
    switch (error) {
    case ECONNREFUSED:
        return finish(i, Outcome::NoAnswer, "NT_STATUS_CONNECTION_REFUSED");
    case EHOSTUNREACH:
    case EHOSTDOWN:
        return finish(i, Outcome::NoAnswer, "NT_STATUS_HOST_UNREACHABLE");
    case ENETUNREACH:
        return finish(i, Outcome::NoAnswer, "NT_STATUS_NETWORK_UNREACHABLE");
    case ECONNRESET:
        return finish(i, Outcome::NoAnswer, "NT_STATUS_CONNECTION_RESET");
    case ETIMEDOUT:
        return finish(i, Outcome::TimedOut, {});
    default:
        return finish(i, Outcome::Failed, std::strerror(error));
    }
}

// The peer closed the session: before it was opened the computer did not take the call;
// after, it refused the message (as smbd does where SMB1 is off).
void Run::closedByPeer(size_t i, const char *status)
{
    const Slot::State state = m_slots[i].state;
    finish(i, state == Slot::State::Connecting || state == Slot::State::Session ? Outcome::NoAnswer : Outcome::Refused,
        status);
}

} // namespace

std::string Messenger::calledName(const std::string &wireName, const std::string &codePage)
{
    const std::optional<std::string> utf8 = MessageText::toUtf8(wireName, codePage);
    if (!utf8)
        return wireName;
    std::string upper;
    for (size_t pos = 0; pos < utf8->size();) {
        char32_t c = Utf8Text::next(*utf8, pos);
        // The letters a name of the Latin alphabets is written in.
        if ((c >= U'a' && c <= U'z') || (c >= 0xe0 && c <= 0xfe && c != 0xf7))
            c -= 0x20;
        Unicode::appendUtf8(upper, c);
    }
    const MessageText::Prepared back = MessageText::prepare(upper, codePage);
    return back.unmappable.empty() && back.bytes.size() == wireName.size() ? back.bytes : wireName;
}

std::string Messenger::ownName()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        return "VELRISA";
    std::string name(host);
    name = name.substr(0, std::min(name.find('.'), size_t(15)));
    for (char &c : name) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return name;
}

std::vector<Messenger::Result> Messenger::deliver(
    const std::vector<Recipient> &recipients, const Options &options, const std::string &message, Check check)
{
    return Run(options, message, check, nullptr).serve(recipients);
}

namespace {

// The query of name (in the code page) at queryAddress; false when that is no IPv4 address.
bool prepareQuery(
    Query &query, const std::string &name, const std::string &queryAddress, const Messenger::Options &options)
{
    if (::inet_pton(AF_INET, queryAddress.c_str(), &query.to.sin_addr) != 1)
        return false;
    query.to.sin_family = AF_INET;
    query.to.sin_port = htons(uint16_t(options.nameServicePort));
    query.name = Messenger::calledName(name, options.codePage);
    query.listenMs
        = std::min<long long>(static_cast<long long>(options.timeoutSeconds) * 1000, Messenger::kMaxListenMs);
    return true;
}

} // namespace

Messenger::Group Messenger::deliverToGroup(const std::string &groupWireName, const std::string &queryAddress,
    const Options &options, const std::string &message, Check check, const std::vector<std::string> &expected)
{
    Group group;
    Query query;
    if (!prepareQuery(query, groupWireName, queryAddress, options)) {
        group.queryFailed = true;
        return group;
    }
    query.expected.insert(expected.begin(), expected.end());
    query.expectedLeft = query.expected.size();
    Run run(options, message, check, &query);
    group.members = run.serve({});
    group.queryFailed = query.sends == 0;
    group.listenedFully = query.knownQuietMs == 0;
    group.beyondBound = run.beyondBound();
    return group;
}

std::optional<Messenger::Result> Messenger::deliverByName(
    const std::string &wireName, const std::string &queryAddress, const Options &options, const std::string &message)
{
    Query query;
    if (!prepareQuery(query, wireName, queryAddress, options))
        return std::nullopt;
    query.type = NetbiosWire::kMessengerType;
    query.called = wireName;
    const std::vector<Result> results = Run(options, message, {}, &query).serve({});
    if (query.sends == 0)
        return std::nullopt;
    if (results.empty()) {
        Result none;
        none.wireName = wireName;
        none.delivery = { Outcome::NotFound, "NT_STATUS_NOT_FOUND" };
        return none;
    }
    return results.front();
}
