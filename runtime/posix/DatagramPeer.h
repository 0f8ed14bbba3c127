#pragma once

#include "runtime/posix/Descriptor.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A UDP socket that talks with one IPv4 address and port alone: the system passes on
// datagrams from there only, and says when nothing listens there. Never blocks.
class DatagramPeer final
{
public:
    enum class Status {
        Done,
        Again, // nothing more to read now
        Refused, // nothing listens there (the system was told so)
        Failed, // errno says why
        NoAddress, // (open) the address is no IPv4 address
    };

    // Opens the socket and ties it to address ("a.b.c.d", or the same as IPv4-mapped IPv6)
    // and port: Done, NoAddress, or Failed when no socket can be made.
    Status open(const std::string &address, uint16_t port);
    void close() { m_socket.reset(); }
    bool isOpen() const { return m_socket.isOpen(); }
    // For the event loop to watch for reading.
    int descriptor() const { return m_socket.get(); }

    Status send(std::string_view datagram);
    // The next datagram from the peer into *datagram; one longer than max is skipped whole.
    Status receive(std::string *datagram, std::size_t max);

private:
    Descriptor m_socket;
    uint32_t m_address = 0; // as on the wire
    uint16_t m_port = 0; // as on the wire
};
