#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One received message as the mailbox keeps it: a small text file that velrisa-recibe
// writes whole under a temporary name and renames into the mailbox, and that every
// desktop of the computer reads:
//
//   velrisa-mensaje 1
//   De: <sender>
//   Para: <called name>
//   Equipo: <the sending computer's NetBIOS name>      (optional: older records lack it)
//   Direccion: <the sending computer's address>        (optional, after Equipo)
//   Llegada: <seconds since 1970-01-01 UTC>.<nanoseconds, 9 digits>
//   Cortado: <1 when the text had to be cut, else 0>
//   Longitud: <bytes of text>
//   <an empty line>
//   <the text: UTF-8, lines ended by LF, exactly Longitud bytes, no final LF added>
//
// Names are at most 64 characters and the text at most 1,600 (what the messenger protocol
// carries); neither holds a control character but the text's LF and tab. A file that is
// not exactly this is no record.
//
// File name: "m<seconds, 10 digits>.<nanoseconds, 9 digits>.<process id>": names sort by
// arrival, and two deliveries never share one (the process id tells apart two in the same
// nanosecond). Temporaries start with "." and are never taken for records.
namespace Record {

inline constexpr size_t kMaxTextChars = 1600;
inline constexpr size_t kMaxNameChars = 64;
// Four bytes at most for each character in UTF-8.
inline constexpr size_t kMaxTextBytes = 4 * kMaxTextChars;
// The largest file that can be a record: the text, four names and the header lines.
inline constexpr size_t kMaxRecordBytes = kMaxTextBytes + 4 * 4 * kMaxNameChars + 256;

struct Message
{
    std::string from; // the sender
    std::string to; // the called name
    int64_t seconds = 0; // arrival, UTC
    int32_t nanoseconds = 0;
    bool cut = false;
    std::string text;
    std::string computer; // the computer it came from; empty when unknown
    std::string address; // that computer's address; empty when unknown
};

// Any bytes as a name: valid UTF-8 (a broken byte becomes U+FFFD), every control character
// U+FFFD, at most kMaxNameChars characters. cut, when given, says whether
// characters were dropped.
std::string cleanName(std::string_view bytes, bool *cut = nullptr);

// Any bytes as a message text: valid UTF-8, CR LF and a lone CR as LF, every other control
// character but tab U+FFFD, at most kMaxTextChars characters. cut, when given,
// says whether characters were dropped.
std::string cleanText(std::string_view bytes, bool *cut = nullptr);

// Any bytes as one line for a log: valid UTF-8 without control characters, not cut.
std::string legible(std::string_view bytes);

// The file's bytes. The fields must already be clean (cleanName, cleanText); an empty
// computer or address leaves its line out.
std::string compose(const Message &message);

// The message a file holds; nullopt when the bytes are not exactly a record.
std::optional<Message> parse(std::string_view bytes);

std::string fileName(int64_t seconds, int32_t nanoseconds, long pid);

// Whether name is a record's file name; *seconds and *nanoseconds receive its arrival.
bool isRecordName(std::string_view name, int64_t *seconds = nullptr, int32_t *nanoseconds = nullptr);

} // namespace Record
