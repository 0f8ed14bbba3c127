#include "net/Messenger.h"

#include "net/BoundedProcess.h"
#include "net/Descriptor.h"
#include "net/MessageText.h"
#include "net/NetbiosWire.h"
#include "profile/Unicode.h"
#include "profile/Utf8Text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using Result = Messenger::Result;
using Outcome = SmbClient::Outcome;

// Sockets open at once; a larger group waits for free places.
constexpr size_t kMaxConnections = 256;
// A node status that got no answer is asked again this often, until the wait runs out.
constexpr long long kStatusRepeatMs = 1000;
// What a recipient may send before it is taken for something else than a messenger.
constexpr size_t kMaxReceived = 2 * NetbiosWire::kMaxFrameBytes;

struct Slot
{
    enum class State { Status, Queued, Connecting, Session, Start, Text, End, Done };
    State state = State::Queued;
    sockaddr_storage address {};
    socklen_t addressLength = 0;
    Descriptor socket;
    std::string out;
    std::string in;
    long long lastHeard = 0;
    long long statusSentAt = -kStatusRepeatMs;
    size_t piece = 0;
    uint16_t group = 0;
};

void finish(Slot &slot, Result &result, Outcome outcome, std::string detail)
{
    result.delivery = { outcome, std::move(detail) };
    slot.state = Slot::State::Done;
    slot.socket.reset();
}

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

// How a failed connection reads, as smbclient names it.
void connectionFailed(Slot &slot, Result &result, int error)
{
    switch (error) {
    case ECONNREFUSED:
        return finish(slot, result, Outcome::NoAnswer, "NT_STATUS_CONNECTION_REFUSED");
    case EHOSTUNREACH:
    case EHOSTDOWN:
        return finish(slot, result, Outcome::NoAnswer, "NT_STATUS_HOST_UNREACHABLE");
    case ENETUNREACH:
        return finish(slot, result, Outcome::NoAnswer, "NT_STATUS_NETWORK_UNREACHABLE");
    case ECONNRESET:
        return finish(slot, result, Outcome::NoAnswer, "NT_STATUS_CONNECTION_RESET");
    case ETIMEDOUT:
        return finish(slot, result, Outcome::TimedOut, {});
    default:
        return finish(slot, result, Outcome::Failed, std::strerror(error));
    }
}

// The peer closed the session: before it was opened the computer did not take the call;
// after, it refused the message (as smbd does where SMB1 is off).
void closedByPeer(Slot &slot, Result &result, const char *status)
{
    if (slot.state == Slot::State::Connecting || slot.state == Slot::State::Session)
        finish(slot, result, Outcome::NoAnswer, status);
    else
        finish(slot, result, Outcome::Refused, status);
}

void startConnection(Slot &slot, Result &result, long long now)
{
    const int fd = ::socket(slot.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return finish(slot, result, Outcome::Failed, std::strerror(errno));
    slot.socket = Descriptor(fd);
    slot.lastHeard = now;
    slot.state = Slot::State::Connecting;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&slot.address), slot.addressLength) != 0
        && errno != EINPROGRESS)
        connectionFailed(slot, result, errno);
}

// Acts on the frames received so far.
void readFrames(Slot &slot, Result &result, const std::vector<std::string> &pieces, const Messenger::Options &options)
{
    const uint16_t pid = uint16_t(::getpid() & 0xffff);
    while (slot.state != Slot::State::Done) {
        const NetbiosWire::Frame frame = NetbiosWire::readFrame(slot.in);
        using Kind = NetbiosWire::Frame::Kind;
        if (frame.kind == Kind::Incomplete)
            return;
        if (frame.kind == Kind::Invalid)
            return finish(slot, result, Outcome::Failed, "respuesta no válida del equipo");
        slot.in.erase(0, frame.size);
        if (frame.kind == Kind::KeepAlive)
            continue;
        if (slot.state == Slot::State::Session) {
            if (frame.kind == Kind::Positive) {
                slot.out += NetbiosWire::sendStart(options.sender, result.wireName, pid);
                slot.state = Slot::State::Start;
            } else if (frame.kind == Kind::Negative) {
                const std::string status = NetbiosWire::negativeStatus(frame.negativeCode);
                finish(slot, result, frame.negativeCode == 0x82 ? Outcome::NotFound : Outcome::NoAnswer, status);
            } else {
                finish(slot, result, Outcome::Failed, "respuesta no válida del equipo");
            }
            continue;
        }
        static constexpr uint8_t kExpected[] = { 0xd5, 0xd7, 0xd6 };
        const size_t step = slot.state == Slot::State::Start ? 0 : slot.state == Slot::State::Text ? 1 : 2;
        if (frame.kind != Kind::Message || frame.command != kExpected[step]) {
            finish(slot, result, Outcome::Failed, "respuesta no válida del equipo");
            continue;
        }
        if (frame.ntStatus != 0) {
            finish(slot, result, Outcome::Refused, frame.statusName);
            continue;
        }
        if (slot.state == Slot::State::Start) {
            slot.group = frame.group;
            slot.piece = 0;
            slot.state = Slot::State::Text;
            slot.out += NetbiosWire::sendText(pieces.at(0), slot.group, pid);
        } else if (slot.state == Slot::State::Text) {
            if (++slot.piece < pieces.size()) {
                slot.out += NetbiosWire::sendText(pieces.at(slot.piece), slot.group, pid);
            } else {
                slot.state = Slot::State::End;
                slot.out += NetbiosWire::sendEnd(slot.group, pid);
            }
        } else {
            finish(slot, result, Outcome::Delivered, {});
        }
    }
}

// A node status answer for slot: its messenger name, or why it has none.
void nameLearned(Slot &slot, Result &result, const NetbiosWire::NodeStatus &status, const Messenger::Options &options,
    const Messenger::Check &check)
{
    const std::string wire = NetbiosWire::messengerName(status.names);
    if (wire.empty()) {
        result.stage = Result::Stage::NoMessenger;
        slot.state = Slot::State::Done;
        return;
    }
    result.wireName = wire;
    const std::optional<std::string> utf8 = MessageText::toUtf8(wire, options.codePage);
    result.name = utf8 ? *utf8 : Utf8Text::valid(wire);
    result.stage = Result::Stage::Messaged;
    if (check)
        check(result);
    if (!result.refusal.empty()) {
        result.stage = Result::Stage::Refused;
        slot.state = Slot::State::Done;
        return;
    }
    slot.state = Slot::State::Queued;
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

namespace {

// The name query under way: sent again a few times, listened to until answers stop (for a
// group), or until the first answer (for one computer, called then by the name asked for).
struct Query
{
    uint8_t type = 0x00;
    std::string called; // the one computer's name in the code page; empty for a group
    bool active = false;
    sockaddr_in to {};
    std::string request;
    uint16_t id = 0;
    int sends = 0;
    long long sentAt = 0;
    long long start = 0;
    long long lastNew = 0;
    long long listenMs = 0;
    long long quietMs = 0;
    bool answered = false;
    std::vector<std::string> expected; // members known before; their answers may cut the wait
    size_t expectedLeft = 0;
    long long firstAnswer = 0;
    long long knownQuietMs = 0; // set once every expected member has answered
};

constexpr int kQuerySends = 3;
constexpr long long kQueryRepeatMs = 250;

// Every recipient at once; with a query, the members it finds join as they answer.
std::vector<Result> serve(std::vector<Messenger::Recipient> recipients, const Messenger::Options &options,
    const std::string &message, const Messenger::Check &check, Query *query)
{
    std::vector<Result> results;
    std::vector<Slot> slots;
    results.reserve(recipients.size());
    slots.reserve(recipients.size());
    const std::vector<std::string> pieces = NetbiosWire::pieces(message);
    const std::string calling = Messenger::ownName();
    const long long silenceMs = static_cast<long long>(options.timeoutSeconds) * 1000;
    // Name-service answers are told apart by their transaction id: the query's, then one
    // per recipient.
    const uint16_t idBase = uint16_t((::getpid() * 7919u) & 0xffff);

    Descriptor nameService;
    const auto add = [&](const Messenger::Recipient &r, long long now) {
        slots.emplace_back();
        results.emplace_back();
        Slot &slot = slots.back();
        Result &result = results.back();
        result.wireName = r.wireName;
        result.address = r.address;
        const bool learn = r.wireName.empty();
        if (!parseAddress(r.address, learn ? options.nameServicePort : (r.port > 0 ? r.port : 139), slot))
            return finish(slot, result, Outcome::Failed, "dirección no válida: " + r.address);
        if (!learn)
            return;
        if (slot.address.ss_family != AF_INET || nameService.get() < 0) {
            result.stage = Result::Stage::NameUnknown;
            slot.state = Slot::State::Done;
            return;
        }
        slot.state = Slot::State::Status;
        slot.lastHeard = now;
    };
    const bool anyStatus
        = query || std::any_of(recipients.begin(), recipients.end(), [](const auto &r) { return r.wireName.empty(); });
    if (anyStatus) {
        nameService = Descriptor(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const int one = 1;
        if (query && nameService.get() >= 0)
            ::setsockopt(nameService.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    }
    const long long start = nowMs();
    for (const Messenger::Recipient &r : recipients)
        add(r, start);
    if (query) {
        query->active = nameService.get() >= 0;
        query->start = query->lastNew = start;
        query->request = NetbiosWire::nameQuery(query->id = uint16_t(idBase - 1), query->request, query->type, true);
    }

    std::vector<pollfd> polls;
    std::vector<size_t> owners;
    for (;;) {
        if (BoundedProcess::interruption() != 0)
            break;
        const long long now = nowMs();
        // The listening ends before anything else is looked at, so that a run with nothing
        // else to wait for ends at once, not after one more idle wait.
        const long long quiet = query && query->knownQuietMs > 0 ? query->knownQuietMs : query ? query->quietMs : 0;
        if (query && query->active && (now - query->start >= query->listenMs || now - query->lastNew >= quiet))
            query->active = false;
        size_t open = 0;
        bool pending = query && query->active;
        for (const Slot &slot : slots) {
            open += slot.socket.get() >= 0 ? 1 : 0;
            pending = pending || slot.state != Slot::State::Done;
        }
        if (!pending)
            break;
        const size_t total = slots.size();

        long long wait = 200; // interruptions are looked at this often at least
        if (query && query->active) {
            if (query->sends < kQuerySends && now - query->sentAt >= kQueryRepeatMs) {
                ::sendto(nameService.get(), query->request.data(), query->request.size(), 0,
                    reinterpret_cast<const sockaddr *>(&query->to), sizeof query->to);
                query->sentAt = now;
                ++query->sends;
            }
            wait = std::min({ wait, query->start + query->listenMs - now, query->lastNew + quiet - now });
            if (query->sends < kQuerySends)
                wait = std::min(wait, query->sentAt + kQueryRepeatMs - now);
        }
        for (size_t i = 0; i < total; ++i) {
            Slot &slot = slots[i];
            Result &result = results[i];
            if (slot.state == Slot::State::Queued && open < kMaxConnections) {
                startConnection(slot, result, now);
                if (slot.socket.get() >= 0)
                    ++open;
                if (slot.state == Slot::State::Connecting)
                    wait = 0; // a connection to loopback may be complete already
            }
            if (slot.state == Slot::State::Status) {
                if (now - slot.lastHeard >= silenceMs) {
                    result.stage = Result::Stage::NameUnknown;
                    slot.state = Slot::State::Done;
                    continue;
                }
                if (now - slot.statusSentAt >= kStatusRepeatMs) {
                    const std::string request = NetbiosWire::nodeStatusRequest(uint16_t(idBase + i));
                    ::sendto(nameService.get(), request.data(), request.size(), 0,
                        reinterpret_cast<const sockaddr *>(&slot.address), slot.addressLength);
                    slot.statusSentAt = now;
                }
                wait = std::min(wait, slot.statusSentAt + kStatusRepeatMs - now);
                wait = std::min(wait, slot.lastHeard + silenceMs - now);
            } else if (slot.state != Slot::State::Done && slot.state != Slot::State::Queued) {
                if (now - slot.lastHeard >= silenceMs) {
                    finish(slot, result, Outcome::TimedOut, {});
                    continue;
                }
                wait = std::min(wait, slot.lastHeard + silenceMs - now);
            }
        }

        polls.clear();
        owners.clear();
        if (nameService.get() >= 0) {
            polls.push_back({ nameService.get(), POLLIN, 0 });
            owners.push_back(total);
        }
        for (size_t i = 0; i < total; ++i) {
            const Slot &slot = slots[i];
            if (slot.socket.get() < 0)
                continue;
            short events = POLLIN;
            if (slot.state == Slot::State::Connecting || !slot.out.empty())
                events |= POLLOUT;
            polls.push_back({ slot.socket.get(), events, 0 });
            owners.push_back(i);
        }
        const int ready = ::poll(polls.data(), polls.size(), int(std::max(0LL, wait)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        const long long heard = nowMs();

        for (size_t p = 0; p < polls.size(); ++p) {
            if (polls[p].revents == 0)
                continue;
            if (owners[p] == total) {
                // Node status answers, matched by id and by the address they come from.
                char datagram[2048];
                sockaddr_in from {};
                socklen_t fromLength = sizeof from;
                ssize_t n;
                while ((n = ::recvfrom(nameService.get(), datagram, sizeof datagram, 0,
                            reinterpret_cast<sockaddr *>(&from), &fromLength))
                    >= 0) {
                    const std::string_view bytes(datagram, size_t(n));
                    const auto status = NetbiosWire::readNodeStatus(bytes);
                    fromLength = sizeof from;
                    if (!status) {
                        // Members of the group, each joining as soon as it is known.
                        const auto members = query ? NetbiosWire::readNameAnswer(bytes) : std::nullopt;
                        if (!members || members->id != query->id || !query->active)
                            continue;
                        for (const std::string &address : members->addresses) {
                            const bool known = std::any_of(recipients.begin(), recipients.end(),
                                [&](const auto &r) { return r.address == address; });
                            if (known)
                                continue;
                            recipients.push_back({ address, 0, query->called });
                            add(recipients.back(), heard);
                            if (!query->answered)
                                query->firstAnswer = heard;
                            query->lastNew = heard;
                            query->answered = true;
                            const bool wasExpected = std::find(query->expected.begin(), query->expected.end(), address)
                                != query->expected.end();
                            if (wasExpected && query->expectedLeft > 0 && --query->expectedLeft == 0)
                                query->knownQuietMs = std::max(Messenger::kKnownQuietMs, heard - query->firstAnswer);
                            if (!query->called.empty())
                                break;
                        }
                        // A server's "no such name" is as final as the one computer's answer.
                        if (!query->called.empty() && (query->answered || members->negative))
                            query->active = false;
                        continue;
                    }
                    const size_t i = uint16_t(status->id - idBase);
                    if (i >= slots.size() || slots[i].state != Slot::State::Status)
                        continue;
                    const auto *asked = reinterpret_cast<const sockaddr_in *>(&slots[i].address);
                    if (asked->sin_addr.s_addr != from.sin_addr.s_addr)
                        continue;
                    parseAddress(recipients[i].address, recipients[i].port > 0 ? recipients[i].port : 139, slots[i]);
                    nameLearned(slots[i], results[i], *status, options, check);
                }
                continue;
            }
            const size_t i = owners[p];
            Slot &slot = slots[i];
            Result &result = results[i];
            if (slot.state == Slot::State::Connecting) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(slot.socket.get(), SOL_SOCKET, SO_ERROR, &error, &length);
                if (error != 0) {
                    connectionFailed(slot, result, error);
                    continue;
                }
                if (!(polls[p].revents & (POLLOUT | POLLIN)))
                    continue;
                slot.lastHeard = heard;
                slot.state = Slot::State::Session;
                slot.out
                    = NetbiosWire::sessionRequest(Messenger::calledName(result.wireName, options.codePage), calling);
            }
            if ((polls[p].revents & POLLIN) || (polls[p].revents & (POLLHUP | POLLERR))) {
                char buffer[4096];
                const ssize_t n = ::recv(slot.socket.get(), buffer, sizeof buffer, 0);
                if (n > 0) {
                    slot.lastHeard = heard;
                    slot.in.append(buffer, size_t(n));
                    if (slot.in.size() > kMaxReceived)
                        finish(slot, result, Outcome::Failed, "respuesta no válida del equipo");
                    else
                        readFrames(slot, result, pieces, options);
                } else if (n == 0) {
                    closedByPeer(slot, result, "NT_STATUS_CONNECTION_DISCONNECTED");
                } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    closedByPeer(slot, result,
                        errno == ECONNRESET ? "NT_STATUS_CONNECTION_RESET" : "NT_STATUS_CONNECTION_DISCONNECTED");
                }
                if (slot.state == Slot::State::Done)
                    continue;
            }
            if (!slot.out.empty() && slot.socket.get() >= 0) {
                const ssize_t n = ::send(slot.socket.get(), slot.out.data(), slot.out.size(), MSG_NOSIGNAL);
                if (n > 0) {
                    slot.out.erase(0, size_t(n));
                } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    closedByPeer(slot, result,
                        errno == ECONNRESET ? "NT_STATUS_CONNECTION_RESET" : "NT_STATUS_CONNECTION_DISCONNECTED");
                }
            }
        }
    }
    return results;
}

} // namespace

std::vector<Messenger::Result> Messenger::deliver(
    const std::vector<Recipient> &recipients, const Options &options, const std::string &message, Check check)
{
    return serve(recipients, options, message, check, nullptr);
}

Messenger::Group Messenger::deliverToGroup(const std::string &groupWireName, const std::string &queryAddress,
    const Options &options, const std::string &message, Check check, const std::vector<std::string> &expected)
{
    Group group;
    Query query;
    if (::inet_pton(AF_INET, queryAddress.c_str(), &query.to.sin_addr) != 1) {
        group.queryFailed = true;
        return group;
    }
    query.to.sin_family = AF_INET;
    query.to.sin_port = htons(uint16_t(options.nameServicePort));
    query.request = calledName(groupWireName, options.codePage);
    query.listenMs = std::min<long long>(static_cast<long long>(options.timeoutSeconds) * 1000, kMaxListenMs);
    query.quietMs = kQuietMs;
    for (const std::string &address : expected) {
        if (std::find(query.expected.begin(), query.expected.end(), address) == query.expected.end())
            query.expected.push_back(address);
    }
    query.expectedLeft = query.expected.size();
    std::vector<Result> results = serve({}, options, message, check, &query);
    group.queryFailed = query.sends == 0;
    group.listenedFully = query.knownQuietMs == 0;
    group.members = std::move(results);
    return group;
}

std::optional<Messenger::Result> Messenger::deliverByName(
    const std::string &wireName, const std::string &queryAddress, const Options &options, const std::string &message)
{
    Query query;
    if (::inet_pton(AF_INET, queryAddress.c_str(), &query.to.sin_addr) != 1)
        return std::nullopt;
    query.to.sin_family = AF_INET;
    query.to.sin_port = htons(uint16_t(options.nameServicePort));
    query.type = NetbiosWire::kMessengerType;
    query.called = wireName;
    query.request = calledName(wireName, options.codePage);
    query.listenMs = std::min<long long>(static_cast<long long>(options.timeoutSeconds) * 1000, kMaxListenMs);
    query.quietMs = kQuietMs;
    const std::vector<Result> results = serve({}, options, message, {}, &query);
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
