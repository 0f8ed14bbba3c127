#include "runtime/posix/DatagramPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

namespace {

// Datagrams skipped in one call at most, so that a flood never holds the caller.
constexpr int kMaxSkipped = 64;

} // namespace

DatagramPeer::Status DatagramPeer::open(const std::string &address, uint16_t port)
{
    close();
    // NetBIOS lives on IPv4 alone; smbd may give an IPv4 address as IPv4-mapped IPv6.
    constexpr std::string_view kMapped = "::ffff:";
    std::string v4 = address;
    if (v4.size() > kMapped.size() && ::strncasecmp(v4.c_str(), kMapped.data(), kMapped.size()) == 0)
        v4.erase(0, kMapped.size());
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, v4.c_str(), &to.sin_addr) != 1)
        return Status::NoAddress;
    Descriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.isOpen() || ::connect(socket.get(), reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0)
        return Status::Failed;
    m_socket = std::move(socket);
    m_address = to.sin_addr.s_addr;
    m_port = to.sin_port;
    return Status::Done;
}

DatagramPeer::Status DatagramPeer::send(std::string_view datagram)
{
    if (::send(m_socket.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL) >= 0)
        return Status::Done;
    if (errno == ECONNREFUSED)
        return Status::Refused;
    return errno == EAGAIN || errno == EWOULDBLOCK ? Status::Again : Status::Failed;
}

DatagramPeer::Status DatagramPeer::receive(std::string *datagram, std::size_t max)
{
    datagram->resize(max + 1);
    for (int skipped = 0; skipped < kMaxSkipped; ++skipped) {
        sockaddr_in from {};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_socket.get(), datagram->data(), datagram->size(), MSG_TRUNC,
            reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n < 0) {
            datagram->clear();
            if (errno == ECONNREFUSED)
                return Status::Refused;
            return errno == EAGAIN || errno == EWOULDBLOCK ? Status::Again : Status::Failed;
        }
        // The system filters by the peer already; this says it again for any that slipped by.
        if (std::size_t(n) > max || fromLength != sizeof from || from.sin_family != AF_INET
            || from.sin_addr.s_addr != m_address || from.sin_port != m_port)
            continue;
        datagram->resize(std::size_t(n));
        return Status::Done;
    }
    datagram->clear();
    return Status::Again; // the rest when the event loop comes back
}
