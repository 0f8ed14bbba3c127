#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bytes of the two small protocols a pop-up message takes: NetBIOS name service over
// UDP 137 (node status, name query) and a NetBIOS session on TCP 139 carrying the SMB1
// messenger requests, laid out as smbclient and nmblookup lay them out. Names are bytes in
// the DOS code page; nothing here reads a socket.
namespace NetbiosWire {

// The messenger's name type, a workstation's and a group's.
constexpr uint8_t kMessengerType = 0x03;
constexpr uint8_t kWorkstationType = 0x00;

// smbclient hands the text over in pieces of this many bytes.
constexpr size_t kPieceBytes = 127;

// A name in first-level encoding (RFC 1001 14.1): 15 bytes padded with `pad`, the type as
// the 16th, each half byte as a letter; 34 bytes with the length in front and the empty
// scope behind. Longer names are cut to 15 bytes.
std::string encodeName(std::string_view name, uint8_t type, char pad = ' ');

// The session request that opens the session to `called` (its messenger name) from
// `calling` (this computer's workstation name).
std::string sessionRequest(std::string_view called, std::string_view calling);

// The SMB1 requests of one message, each in its session-message frame: start (sender and
// recipient), the text piece by piece, end. pid: the process id the requests carry.
std::string sendStart(std::string_view sender, std::string_view recipient, uint16_t pid);
std::string sendText(std::string_view piece, uint16_t group, uint16_t pid);
std::string sendEnd(uint16_t group, uint16_t pid);

// The message text as it goes on the wire, in pieces: each LF after a CR, cut every
// kPieceBytes bytes. An empty text is one empty piece.
std::vector<std::string> pieces(std::string_view text);

// What one frame of the session says. Frames are read from the front of what has arrived.
struct Frame
{
    enum class Kind { Incomplete, Invalid, Positive, Negative, Retarget, KeepAlive, Message };
    Kind kind = Kind::Incomplete;
    size_t size = 0; // bytes the frame takes from the front (0 when incomplete)
    uint8_t negativeCode = 0; // of a negative session response
    // Of an SMB reply:
    uint8_t command = 0;
    uint32_t ntStatus = 0; // 0 on success; a DOS error is mapped to its NT status
    std::string statusName; // "NT_STATUS_..." or, for an unknown code, its numbers
    uint16_t group = 0; // the message group of an SMBsendstrt reply, 0 when none is given
};

// A frame longer than this is no answer to a message request.
constexpr size_t kMaxFrameBytes = 64 * 1024;

Frame readFrame(std::string_view received);

// The name of a negative session response's code ("NT_STATUS_...").
std::string negativeStatus(uint8_t code);

// Name service: a node status request for the wildcard name, and a name query for a group
// (broadcast: whether the request goes to a broadcast address).
std::string nodeStatusRequest(uint16_t id);
std::string nameQuery(uint16_t id, std::string_view name, uint8_t type, bool broadcast);

// One name from a node status answer, as the wire has it.
struct StatusName
{
    std::string name; // up to 15 bytes in the code page, the padding removed
    uint8_t type = 0;
    bool group = false;
    bool active = false; // registered and in use, not in conflict or being released
};

struct NodeStatus
{
    uint16_t id = 0;
    std::vector<StatusName> names;
};

struct NameAnswer
{
    uint16_t id = 0;
    bool negative = false; // "no such name" from a server that knows
    std::vector<std::string> addresses; // IPv4 addresses in dotted form, each once
};

// nullopt for anything that is not such an answer.
std::optional<NodeStatus> readNodeStatus(std::string_view datagram);
std::optional<NameAnswer> readNameAnswer(std::string_view datagram);

// The first unique <03> name among names (active ones first); empty when there is none.
std::string messengerName(const std::vector<StatusName> &names);

} // namespace NetbiosWire
