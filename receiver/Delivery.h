#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What velrisa-recibe does for one message that smbd hands over: read the message file,
// clean it, drop it as one record into the mailbox (see Record.h) and keep the mailbox
// bounded. Everything it is given is hostile: it never follows a link, never replaces a
// file, never blocks, and says what went wrong.
namespace Delivery {

inline constexpr const char *kDefaultMailbox = "/var/spool/velrisa";

struct Request
{
    std::string mailbox = kDefaultMailbox;
    std::string from; // smbd's %f
    std::string to; // smbd's %L
    std::string computer; // smbd's %m: the sending computer's NetBIOS name
    std::string address; // smbd's %I: its address
    std::string users; // the name->user list (Recipients.h); empty: every name is the computer's
    std::string file; // smbd's %s: the message file, removed once its record is written
};

struct Limits
{
    size_t maxRecords = 1000;
    int64_t maxAgeSeconds = 30 * 24 * 3600;
    // Past maxRecords, this many more go too, so that a full mailbox is looked at
    // record by record once every so many deliveries rather than at each one.
    size_t slack = 10;
    // Who alone may be able to change the name->user list.
    uid_t usersOwner = 0;
};

struct Result
{
    bool delivered = false;
    std::string record; // file name of the record written
    std::string user; // whose own folder it went into; empty: the mailbox shared by all
    std::string error; // why nothing was delivered, and where the message was
    std::vector<std::string> warnings; // what was cut, refused or could not be cleaned up
};

// "[--buzon=DIR] [--usuarios=FILE] [--equipo=NAME] [--direccion=ADDRESS] SENDER [CALLED...] FILE". A called name that
// the shell split at its blanks comes back whole; without one it is empty. nullopt (with error) when there is no sender
// and file.
std::optional<Request> arguments(const std::vector<std::string> &args, std::string &error);

// A called name that the list gives to a user goes into <mailbox>/<user>/, a folder that must
// be that user's and closed to everybody else; any other name into <mailbox> itself.
// now: the arrival time (seconds and nanoseconds since 1970, UTC); pid: part of the name.
// A mailbox that other users could replace (SafeFolder) is refused. The message file is
// removed once its record is written; on failure it is left for the caller to log, then to
// discard.
Result deliver(
    const Request &request, int64_t seconds, int32_t nanoseconds, long pid, const Limits &limits = {});

// Removes the oldest records this user wrote past limits (count or age), and its own
// temporaries left by a crash. Records of other users are neither removed nor counted. Age
// and order go by arrival on this computer: a name dated later than the file came counts
// from when it came. keep, the record just written, always stays.
void prune(int dirfd, int64_t now, const Limits &limits, std::vector<std::string> &warnings,
    const std::string &keep = {});

// What could not be delivered is not kept: removes smbd's message file, if it is a regular
// file of this user (never through a link), and says so for the log ("se borra ..." or why
// it stays); empty when there was no such file.
std::string discard(const std::string &file);

} // namespace Delivery
