#pragma once

#include <optional>
#include <string>
#include <string_view>

// Turns the text typed by the user into the bytes that smbclient hands to the pop-up
// service: in the DOS code page, each line end as CR LF on the wire, and no longer than
// the message buffer of smbclient. Nothing is dropped or changed silently: the result
// tells what was replaced and what was cut.
class MessageText final
{
public:
    // smbclient reads at most this many bytes, counting the CR it adds before every LF.
    static constexpr int kMaxWireBytes = 1598;

    struct Prepared
    {
        std::string bytes; // what goes on smbclient's standard input (LF, not CR LF)
        std::string unmappable; // distinct characters the code page lacks, each sent as "?" (UTF-8)
        int droppedChars = 0; // characters cut from the end to respect kMaxWireBytes
        bool codePageKnown = true;
    };

    // text: valid UTF-8. codePage is an iconv name such as "CP850".
    static Prepared prepare(std::string_view text, std::string_view codePage);

    // Bytes in the code page as UTF-8; nullopt when they are not text of that page.
    static std::optional<std::string> toUtf8(std::string_view bytes, std::string_view codePage);
};
