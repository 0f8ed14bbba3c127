// What the network may answer net, as any bytes: a session frame, a node status, a name
// query's answer. The first byte picks which; the rest is the packet.
//
// A frame is only ever read from what has arrived: complete, it takes no more bytes than there
// are; a reply with a non-zero status has a name for it. A node status gives at most 255 names
// of at most 15 bytes with no padding left, and its messenger name is a unique <03> name among
// them. An answer to a group query gives dotted IPv4 addresses, each once. What net sends is
// never read as an answer, and the text in pieces is the text with CR before LF.

#include "Check.h"

#include "net/NetbiosWire.h"

#include <arpa/inet.h>

#include <algorithm>

namespace {

void frame(std::string_view bytes)
{
    using Kind = NetbiosWire::Frame::Kind;
    const NetbiosWire::Frame f = NetbiosWire::readFrame(bytes);
    if (f.kind == Kind::Incomplete) {
        CHECK_THAT(f.size == 0);
        CHECK_THAT(bytes.size() < 4
            || bytes.size()
                < 4 + ((size_t(uint8_t(bytes[1]) & 1) << 16) | (uint8_t(bytes[2]) << 8) | uint8_t(bytes[3])));
        return;
    }
    if (f.kind == Kind::Invalid)
        return;
    CHECK_THAT(f.size >= 4 && f.size <= bytes.size() && f.size <= 4 + NetbiosWire::kMaxFrameBytes);
    CHECK_THAT((f.ntStatus != 0) == !f.statusName.empty());
    if (f.kind != Kind::Message)
        CHECK_THAT(f.ntStatus == 0);
}

void nodeStatus(std::string_view bytes)
{
    const auto status = NetbiosWire::readNodeStatus(bytes);
    CHECK_THAT(!NetbiosWire::readNameAnswer(NetbiosWire::nodeStatusRequest(status ? status->id : 0)));
    if (!status)
        return;
    CHECK_THAT(status->names.size() <= 255);
    for (const NetbiosWire::StatusName &n : status->names) {
        CHECK_THAT(n.name.size() <= 15);
        CHECK_THAT(n.name.empty() || (n.name.back() != ' ' && n.name.back() != '\0'));
    }
    const std::string messenger = NetbiosWire::messengerName(status->names);
    if (!messenger.empty())
        CHECK_THAT(std::any_of(status->names.begin(), status->names.end(),
            [&](const auto &n) { return n.name == messenger && n.type == NetbiosWire::kMessengerType && !n.group; }));
}

void groupAnswer(std::string_view bytes)
{
    const auto answer = NetbiosWire::readNameAnswer(bytes);
    if (!answer)
        return;
    if (answer->negative)
        CHECK_THAT(answer->addresses.empty());
    for (size_t i = 0; i < answer->addresses.size(); ++i) {
        in_addr a {};
        CHECK_THAT(::inet_pton(AF_INET, answer->addresses[i].c_str(), &a) == 1);
        CHECK_THAT(std::count(answer->addresses.begin(), answer->addresses.end(), answer->addresses[i]) == 1);
    }
}

void pieces(std::string_view text)
{
    std::string joined;
    for (const std::string &piece : NetbiosWire::pieces(text)) {
        CHECK_THAT(piece.size() <= NetbiosWire::kPieceBytes);
        joined += piece;
    }
    std::string expected;
    for (const char c : text)
        expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
    CHECK_THAT(joined == expected);
    const std::string query = NetbiosWire::nameQuery(1, text, 0x00, true);
    CHECK_THAT(query.size() == 50 && !NetbiosWire::readNameAnswer(query) && !NetbiosWire::readNodeStatus(query));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string_view bytes = fuzz::text(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        frame(bytes);
        break;
    case 1:
        nodeStatus(bytes);
        break;
    case 2:
        groupAnswer(bytes);
        break;
    default:
        pieces(bytes);
    }
    return 0;
}
