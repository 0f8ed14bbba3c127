#include "net/KnownMembers.h"

#include "runtime/DataFile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr const char *kHeader = "velrisa-grupos 1";
// A member's time is written again only this much later: the file changes about once a day.
constexpr long long kRefreshSeconds = 24 * 3600;

std::string hex(const std::string &bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

bool isHexName(const std::string &text)
{
    return !text.empty() && text.size() <= 32 && text.size() % 2 == 0
        && std::all_of(
            text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

bool isAddress(const std::string &text)
{
    in_addr address {};
    return text.size() < INET_ADDRSTRLEN && ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool readTime(const std::string &text, long long &value)
{
    if (text.empty() || text.size() > 12
        || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stoll(text);
    return true;
}

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The folder holds only this user's files: its own, and nobody else may add to it.
bool ownFolder(const std::string &folder)
{
    struct stat st
    {
    };
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

std::string KnownMembers::defaultPath()
{
    const char *cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return std::string(cache) + "/velrisa/grupos";
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/velrisa/grupos";
    return {};
}

KnownMembers KnownMembers::load(const std::string &path, long long now)
{
    KnownMembers known;
    known.m_path = path;
    known.m_now = now;
    if (path.empty() || !ownFolder(folderOf(path)))
        return known;
    std::string bytes;
    struct stat st
    {
    };
    DataFile::ReadOptions options;
    options.limit = kMaxBytes;
    options.links = DataFile::Links::Refuse;
    if (DataFile::read(path, bytes, &st, options) != DataFile::ReadResult::Read || st.st_uid != ::geteuid())
        return known;
    std::istringstream lines(bytes);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader)
        return known;
    const long long oldest = now - kMaxAgeDays * 24 * 3600;
    while (std::getline(lines, line) && known.m_groups.size() < kMaxGroups) {
        std::istringstream fields(line);
        Group group;
        std::string fullListen;
        if (!(fields >> group.queryAddress >> group.name >> fullListen) || !isAddress(group.queryAddress)
            || !isHexName(group.name) || !readTime(fullListen, group.fullListen)
            || known.find(group.name, group.queryAddress))
            continue;
        std::string member;
        std::unordered_set<std::string> seen;
        while (fields >> member && group.members.size() < kMaxMembers) {
            const size_t equals = member.find('=');
            long long time = 0;
            if (equals == std::string::npos || !isAddress(member.substr(0, equals))
                || !readTime(member.substr(equals + 1), time))
                continue;
            std::string address = member.substr(0, equals);
            if (time >= oldest && seen.insert(address).second)
                group.members.emplace_back(std::move(address), std::min(time, now));
        }
        known.m_groups.push_back(std::move(group));
    }
    return known;
}

KnownMembers::Group *KnownMembers::find(const std::string &hexName, const std::string &queryAddress)
{
    for (Group &group : m_groups) {
        if (group.name == hexName && group.queryAddress == queryAddress)
            return &group;
    }
    return nullptr;
}

const KnownMembers::Group *KnownMembers::find(const std::string &hexName, const std::string &queryAddress) const
{
    return const_cast<KnownMembers *>(this)->find(hexName, queryAddress);
}

std::vector<std::string> KnownMembers::expected(const std::string &group, const std::string &queryAddress) const
{
    std::vector<std::string> addresses;
    const Group *known = find(hex(group), queryAddress);
    // A full listen in the future means the clock went back: listen in full again.
    if (!known || known->fullListen > m_now || m_now - known->fullListen >= kFullListenEverySeconds)
        return addresses;
    for (const auto &member : known->members)
        addresses.push_back(member.first);
    return addresses;
}

void KnownMembers::answered(const std::string &group, const std::string &queryAddress,
    const std::vector<std::string> &addresses, bool listenedFully)
{
    const std::string name = hex(group);
    Group *known = find(name, queryAddress);
    if (!known) {
        if (m_groups.size() >= kMaxGroups)
            m_groups.erase(m_groups.begin()); // the first in the file is the least recently added
        m_groups.push_back({ queryAddress, name, 0, {} });
        known = &m_groups.back();
        m_changed = true;
    }
    if (listenedFully) {
        known->fullListen = m_now;
        m_changed = true;
    }
    std::unordered_map<std::string, size_t> index;
    for (size_t i = 0; i < known->members.size(); ++i)
        index.emplace(known->members[i].first, i);
    for (const std::string &address : addresses) {
        if (!isAddress(address))
            continue;
        const auto member = index.find(address);
        if (member == index.end()) {
            if (known->members.size() >= kMaxMembers)
                continue;
            index.emplace(address, known->members.size());
            known->members.emplace_back(address, m_now);
            m_changed = true;
        } else if (m_now - known->members[member->second].second >= kRefreshSeconds) {
            known->members[member->second].second = m_now;
            m_changed = true;
        }
    }
}

std::string KnownMembers::text() const
{
    // One group, all of its members at their longest, always fits.
    static_assert(kMaxMembers * sizeof(" 255.255.255.255=999999999999") + 100 < kMaxBytes);
    std::vector<std::string> lines;
    std::vector<long long> lastHeard;
    size_t size = std::string_view(kHeader).size() + 1;
    for (const Group &group : m_groups) {
        std::string line = group.queryAddress + ' ' + group.name + ' ' + std::to_string(group.fullListen);
        long long last = group.fullListen;
        for (const auto &member : group.members) {
            line += ' ' + member.first + '=' + std::to_string(member.second);
            last = std::max(last, member.second);
        }
        line += '\n';
        size += line.size();
        lines.push_back(std::move(line));
        lastHeard.push_back(last);
    }
    while (size > kMaxBytes) {
        const size_t oldest = size_t(std::min_element(lastHeard.begin(), lastHeard.end()) - lastHeard.begin());
        size -= lines[oldest].size();
        lines.erase(lines.begin() + long(oldest));
        lastHeard.erase(lastHeard.begin() + long(oldest));
    }
    std::string out = std::string(kHeader) + "\n";
    for (const std::string &line : lines)
        out += line;
    return out;
}

bool KnownMembers::save(std::string &error) const
{
    if (!m_changed || m_path.empty())
        return true;
    // The cache folder and ours in it are made private; an existing one must already be.
    const std::string folder = folderOf(m_path);
    const std::string cache = folderOf(folder);
    if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) {
        error = cache + ": " + std::strerror(errno);
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = folder + ": " + std::strerror(errno);
        return false;
    }
    if (!ownFolder(folder)) {
        error = folder + ": la carpeta no es solo de este usuario";
        return false;
    }
    return DataFile::replace(m_path, text(), DataFile::Sync::NoFlush, error, 0600);
}
