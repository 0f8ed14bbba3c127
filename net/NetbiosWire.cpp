#include "net/NetbiosWire.h"

#include <algorithm>
#include <cstdio>

namespace NetbiosWire {

namespace {

void put16be(std::string &out, uint16_t v)
{
    out += char(v >> 8);
    out += char(v & 0xff);
}

void put16le(std::string &out, uint16_t v)
{
    out += char(v & 0xff);
    out += char(v >> 8);
}

uint16_t get16be(std::string_view s, size_t at)
{
    return uint16_t((uint8_t(s[at]) << 8) | uint8_t(s[at + 1]));
}

uint16_t get16le(std::string_view s, size_t at)
{
    return uint16_t(uint8_t(s[at]) | (uint8_t(s[at + 1]) << 8));
}

uint32_t get32le(std::string_view s, size_t at)
{
    return uint32_t(get16le(s, at)) | (uint32_t(get16le(s, at + 2)) << 16);
}

// The 32-byte SMB1 header of a request with no session, tree or negotiated flags (the
// messenger requests come before any protocol negotiation), then the words and bytes,
// all in one session-message frame.
std::string smbRequest(uint8_t command, uint16_t pid, const std::vector<uint16_t> &words, std::string_view bytes)
{
    std::string smb("\xffSMB", 4);
    smb += char(command);
    smb.append(4, '\0'); // status
    smb += '\0'; // flags
    smb.append(2, '\0'); // flags2
    smb.append(2, '\0'); // pid high
    smb.append(8, '\0'); // signature
    smb.append(2, '\0'); // reserved
    smb.append(2, '\0'); // tid
    put16le(smb, pid);
    smb.append(2, '\0'); // uid
    smb.append(2, '\0'); // mid
    smb += char(words.size());
    for (const uint16_t word : words)
        put16le(smb, word);
    put16le(smb, uint16_t(bytes.size()));
    smb += bytes;
    std::string frame(1, '\0');
    frame += char((smb.size() >> 16) & 1);
    put16be(frame, uint16_t(smb.size() & 0xffff));
    return frame + smb;
}

// Skips an encoded name (labels, or a pointer to an earlier one) from at; npos when it
// runs past the end.
size_t skipName(std::string_view s, size_t at)
{
    while (at < s.size()) {
        const uint8_t length = uint8_t(s[at]);
        if ((length & 0xc0) == 0xc0)
            return at + 2 <= s.size() ? at + 2 : std::string_view::npos;
        if (length & 0xc0)
            return std::string_view::npos;
        at += 1 + length;
        if (length == 0)
            return at <= s.size() ? at : std::string_view::npos;
    }
    return std::string_view::npos;
}

// The header and question of a name-service request.
std::string nameServiceRequest(uint16_t id, uint16_t flags, std::string_view encodedName, uint16_t type)
{
    std::string out;
    put16be(out, id);
    put16be(out, flags);
    put16be(out, 1); // questions
    put16be(out, 0);
    put16be(out, 0);
    put16be(out, 0);
    out += encodedName;
    put16be(out, type);
    put16be(out, 1); // class IN
    return out;
}

constexpr uint16_t kTypeNb = 0x0020;
constexpr uint16_t kTypeNbstat = 0x0021;

// The answer record of a name-service response: its type and data; nullopt unless the
// datagram is a response with one answer of a known layout.
struct Answer
{
    uint16_t id = 0;
    uint8_t rcode = 0;
    uint16_t type = 0;
    std::string_view data;
};

std::optional<Answer> readAnswer(std::string_view d)
{
    if (d.size() < 12)
        return std::nullopt;
    const uint16_t flags = get16be(d, 2);
    if (!(flags & 0x8000))
        return std::nullopt;
    Answer answer;
    answer.id = get16be(d, 0);
    answer.rcode = uint8_t(flags & 0x0f);
    const uint16_t questions = get16be(d, 4);
    const uint16_t answers = get16be(d, 6);
    size_t at = 12;
    for (uint16_t i = 0; i < questions; ++i) {
        at = skipName(d, at);
        if (at == std::string_view::npos || at + 4 > d.size())
            return std::nullopt;
        at += 4;
    }
    if (answers == 0)
        return answer.rcode != 0 ? std::optional<Answer>(answer) : std::nullopt;
    at = skipName(d, at);
    if (at == std::string_view::npos || at + 10 > d.size())
        return std::nullopt;
    answer.type = get16be(d, at);
    const uint16_t length = get16be(d, at + 8);
    at += 10;
    if (at + length > d.size())
        return std::nullopt;
    answer.data = d.substr(at, length);
    return answer;
}

struct StatusCode
{
    uint32_t code;
    const char *name;
};

constexpr StatusCode kNtNames[] = {
    { 0xc0000001, "NT_STATUS_UNSUCCESSFUL" },
    { 0xc0000002, "NT_STATUS_NOT_IMPLEMENTED" },
    { 0xc0000010, "NT_STATUS_INVALID_DEVICE_REQUEST" },
    { 0xc0000022, "NT_STATUS_ACCESS_DENIED" },
    { 0xc00000bb, "NT_STATUS_NOT_SUPPORTED" },
    { 0xc00000cc, "NT_STATUS_BAD_NETWORK_NAME" },
    { 0xc00000d0, "NT_STATUS_REQUEST_NOT_ACCEPTED" },
    { 0xc0000205, "NT_STATUS_INSUFF_SERVER_RESOURCES" },
};

// DOS error class and code as (class << 16 | code), with the NT status Samba maps them to.
struct DosCode
{
    uint32_t dos;
    uint32_t nt;
};

constexpr DosCode kDosCodes[] = {
    { 0x10001, 0xc0000010 }, // ERRDOS ERRbadfunc
    { 0x10005, 0xc0000022 }, // ERRDOS ERRnoaccess
    { 0x10047, 0xc00000d0 }, // ERRDOS ERRnoresource: what smbd says when it takes no messages
    { 0x20001, 0xc0000001 }, // ERRSRV ERRerror
    { 0x20004, 0xc0000022 }, // ERRSRV ERRaccess
    { 0x20006, 0xc00000cc }, // ERRSRV ERRinvnetname
    { 0x20031, 0xc0000205 }, // ERRSRV ERRqfull
    { 0x20032, 0xc0000205 }, // ERRSRV ERRqtoobig
    { 0x200fa, 0xc0000001 }, // ERRSRV ERRusempx
    { 0x200fb, 0xc00000bb }, // ERRSRV ERRusestd
};

std::string ntStatusName(uint32_t code)
{
    for (const StatusCode &known : kNtNames) {
        if (known.code == code)
            return known.name;
    }
    char text[32];
    std::snprintf(text, sizeof text, "NT_STATUS 0x%08x", unsigned(code));
    return text;
}

} // namespace

std::string encodeName(std::string_view name, uint8_t type, char pad)
{
    std::string raw(name.substr(0, 15));
    raw.resize(15, pad);
    raw += char(type);
    std::string out(1, char(32));
    for (const char c : raw) {
        out += char('A' + (uint8_t(c) >> 4));
        out += char('A' + (uint8_t(c) & 0x0f));
    }
    out += '\0';
    return out;
}

std::string sessionRequest(std::string_view called, std::string_view calling)
{
    const std::string names = encodeName(called, kMessengerType) + encodeName(calling, kWorkstationType);
    std::string out("\x81\x00", 2);
    put16be(out, uint16_t(names.size()));
    return out + names;
}

std::string sendStart(std::string_view sender, std::string_view recipient, uint16_t pid)
{
    std::string bytes;
    bytes += '\x04';
    bytes += sender;
    bytes += '\0';
    bytes += '\x04';
    bytes += recipient;
    bytes += '\0';
    return smbRequest(0xd5, pid, {}, bytes);
}

std::string sendText(std::string_view piece, uint16_t group, uint16_t pid)
{
    std::string bytes(1, '\x01');
    put16le(bytes, uint16_t(piece.size()));
    bytes += piece;
    return smbRequest(0xd7, pid, { group }, bytes);
}

std::string sendEnd(uint16_t group, uint16_t pid)
{
    return smbRequest(0xd6, pid, { group }, {});
}

std::vector<std::string> pieces(std::string_view text)
{
    std::string wire;
    for (const char c : text) {
        if (c == '\n')
            wire += '\r';
        wire += c;
    }
    std::vector<std::string> out;
    for (size_t at = 0; at < wire.size(); at += kPieceBytes)
        out.push_back(wire.substr(at, kPieceBytes));
    if (out.empty())
        out.emplace_back();
    return out;
}

Frame readFrame(std::string_view r)
{
    Frame frame;
    if (r.size() < 4)
        return frame;
    const uint8_t type = uint8_t(r[0]);
    const size_t length = (size_t(uint8_t(r[1]) & 1) << 16) | get16be(r, 2);
    if ((uint8_t(r[1]) & 0xfe) != 0 || length > kMaxFrameBytes) {
        frame.kind = Frame::Kind::Invalid;
        return frame;
    }
    if (r.size() < 4 + length)
        return frame;
    frame.size = 4 + length;
    const std::string_view body = r.substr(4, length);
    switch (type) {
    case 0x82:
        frame.kind = Frame::Kind::Positive;
        return frame;
    case 0x83:
        frame.kind = body.empty() ? Frame::Kind::Invalid : Frame::Kind::Negative;
        frame.negativeCode = body.empty() ? 0 : uint8_t(body[0]);
        return frame;
    case 0x84:
        frame.kind = Frame::Kind::Retarget;
        return frame;
    case 0x85:
        frame.kind = Frame::Kind::KeepAlive;
        return frame;
    case 0x00:
        break;
    default:
        frame.kind = Frame::Kind::Invalid;
        return frame;
    }
    // An SMB1 reply: header, word count, words, byte count.
    if (body.size() < 35 || body.substr(0, 4) != std::string_view("\xffSMB", 4) || !(uint8_t(body[9]) & 0x80)) {
        frame.kind = Frame::Kind::Invalid;
        return frame;
    }
    const size_t words = uint8_t(body[32]);
    if (body.size() < 33 + 2 * words + 2) {
        frame.kind = Frame::Kind::Invalid;
        return frame;
    }
    frame.kind = Frame::Kind::Message;
    frame.command = uint8_t(body[4]);
    if (get16le(body, 10) & 0x4000) {
        frame.ntStatus = get32le(body, 5);
    } else {
        const uint32_t dos = (uint32_t(uint8_t(body[5])) << 16) | get16le(body, 7);
        if (dos != 0) {
            frame.ntStatus = 0;
            for (const DosCode &known : kDosCodes) {
                if (known.dos == dos)
                    frame.ntStatus = known.nt;
            }
            if (frame.ntStatus == 0) {
                char text[48];
                std::snprintf(text, sizeof text, "error DOS %u/%u", unsigned(dos >> 16), unsigned(dos & 0xffff));
                frame.ntStatus = 0xc0000001;
                frame.statusName = text;
            }
        }
    }
    if (frame.ntStatus != 0 && frame.statusName.empty())
        frame.statusName = ntStatusName(frame.ntStatus);
    if (words >= 1)
        frame.group = get16le(body, 33);
    return frame;
}

std::string negativeStatus(uint8_t code)
{
    switch (code) {
    case 0x80:
        return "NT_STATUS_REMOTE_NOT_LISTENING";
    case 0x82:
        return "NT_STATUS_BAD_NETWORK_NAME";
    case 0x83:
        return "NT_STATUS_INSUFFICIENT_RESOURCES";
    default:
        return "NT_STATUS_UNSUCCESSFUL";
    }
}

std::string nodeStatusRequest(uint16_t id)
{
    return nameServiceRequest(id, 0x0000, encodeName("*", 0x00, '\0'), kTypeNbstat);
}

std::string nameQuery(uint16_t id, std::string_view name, uint8_t type, bool broadcast)
{
    return nameServiceRequest(id, broadcast ? 0x0110 : 0x0100, encodeName(name, type), kTypeNb);
}

std::optional<NodeStatus> readNodeStatus(std::string_view datagram)
{
    const std::optional<Answer> answer = readAnswer(datagram);
    if (!answer || answer->rcode != 0 || answer->type != kTypeNbstat || answer->data.empty())
        return std::nullopt;
    NodeStatus status;
    status.id = answer->id;
    const size_t count = uint8_t(answer->data[0]);
    if (answer->data.size() < 1 + 18 * count)
        return std::nullopt;
    for (size_t i = 0; i < count; ++i) {
        const std::string_view entry = answer->data.substr(1 + 18 * i, 18);
        std::string name(entry.substr(0, 15));
        while (!name.empty() && (name.back() == ' ' || name.back() == '\0'))
            name.pop_back();
        const uint16_t flags = get16be(entry, 16);
        StatusName node { name, uint8_t(entry[15]), (flags & 0x8000) != 0,
            (flags & 0x0400) != 0 && !(flags & 0x0800) && !(flags & 0x1000) };
        status.names.push_back(std::move(node));
    }
    return status;
}

std::optional<NameAnswer> readNameAnswer(std::string_view datagram)
{
    const std::optional<Answer> answer = readAnswer(datagram);
    if (!answer)
        return std::nullopt;
    NameAnswer result;
    result.id = answer->id;
    if (answer->rcode != 0) {
        result.negative = true;
        return result;
    }
    if (answer->type != kTypeNb || answer->data.size() % 6 != 0)
        return std::nullopt;
    for (size_t at = 0; at + 6 <= answer->data.size(); at += 6) {
        char text[16];
        const std::string_view a = answer->data.substr(at + 2, 4);
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", uint8_t(a[0]), uint8_t(a[1]), uint8_t(a[2]), uint8_t(a[3]));
        if (std::find(result.addresses.begin(), result.addresses.end(), text) == result.addresses.end())
            result.addresses.emplace_back(text);
    }
    return result;
}

std::string messengerName(const std::vector<StatusName> &names)
{
    for (const bool wantActive : { true, false }) {
        for (const StatusName &node : names) {
            if (node.type == kMessengerType && !node.group && node.active == wantActive && !node.name.empty())
                return node.name;
        }
    }
    return {};
}

} // namespace NetbiosWire
