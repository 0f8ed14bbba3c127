#pragma once

#include <string>
#include <vector>

// The members each group had when it was last asked for, kept per user between runs of net
// (in $XDG_CACHE_HOME/velrisa/grupos, else ~/.cache/velrisa/grupos). A group query by
// broadcast has no last answer: with this list, net stops listening soon after every member
// it knows has answered again, instead of waiting out the whole quiet time. A member not
// heard from for kMaxAgeDays is forgotten; once a day the group is listened to in full, so a
// new member that is slow to answer is learned too. The file is only ever a help: when it is
// missing, unsafe or unreadable, net listens in full as it would the first time.
class KnownMembers final
{
public:
    static constexpr long long kMaxAgeDays = 14;
    static constexpr long long kFullListenEverySeconds = 24 * 3600;
    // Bounds on what is read and kept.
    static constexpr size_t kMaxBytes = 256 * 1024;
    static constexpr size_t kMaxGroups = 64;
    static constexpr size_t kMaxMembers = 4096; // as many as a group send takes

    // The per-user file's path; empty when neither XDG_CACHE_HOME (absolute) nor HOME says.
    static std::string defaultPath();

    // Reads path: only a regular file of this user, never through a link, within kMaxBytes.
    static KnownMembers load(const std::string &path, long long now);

    // The members of group (its name in the code page) asked for at queryAddress, that
    // answered in the last kMaxAgeDays; empty when the group is due a full listen.
    std::vector<std::string> expected(const std::string &group, const std::string &queryAddress) const;

    // Records who answered now; listenedFully: the query was listened to for the whole quiet
    // time, so the list is complete.
    void answered(const std::string &group, const std::string &queryAddress, const std::vector<std::string> &addresses,
        bool listenedFully);

    // Writes the file back if anything worth keeping changed, creating its folder (0700) if
    // needed; a folder that is not this user's own is left alone. False with error set when
    // the file could not be written.
    bool save(std::string &error) const;

    // The file's text, as save writes it: within kMaxBytes, so that load reads it whole, the
    // groups heard from longest ago left out where all would not fit.
    std::string text() const;

private:
    struct Group
    {
        std::string queryAddress;
        std::string name; // hexadecimal, so that any byte of the code page fits
        long long fullListen = 0;
        std::vector<std::pair<std::string, long long>> members; // address, last answer
    };

    Group *find(const std::string &hexName, const std::string &queryAddress);
    const Group *find(const std::string &hexName, const std::string &queryAddress) const;

    std::string m_path;
    long long m_now = 0;
    std::vector<Group> m_groups;
    bool m_changed = false;
};
