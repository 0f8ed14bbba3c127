#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <iconv.h>
#include <sys/mman.h>
#include <unistd.h>

// What the fuzz targets share: a broken promise stops the run (libFuzzer keeps the input that
// broke it), inputs cut into fields, a file to hand to code that reads files, and glibc's own
// conversion between code pages to hold the code under test against.

#define CHECK_THAT(condition) ((condition) ? void(0) : fuzz::failure(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void failure(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: no se cumple: %s\n", file, line, condition);
    std::abort();
}

inline std::string_view text(const uint8_t *data, size_t length)
{
    return std::string_view(reinterpret_cast<const char *>(data), length);
}

// The pieces of s between the separators (n pieces for n - 1 separators).
inline std::vector<std::string_view> split(std::string_view s, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t end = s.find(separator);
        parts.push_back(s.substr(0, end));
        if (end == s.npos)
            return parts;
        s.remove_prefix(end + 1);
    }
}

// A regular file in memory, reached by a path, rewritten for each input: no file left behind.
class FileInMemory
{
public:
    FileInMemory()
        : m_fd(::memfd_create("fuzz", MFD_CLOEXEC))
        , m_path("/proc/self/fd/" + std::to_string(m_fd))
    {
        CHECK_THAT(m_fd >= 0);
    }
    const std::string &write(std::string_view bytes)
    {
        CHECK_THAT(::ftruncate(m_fd, 0) == 0);
        CHECK_THAT(::pwrite(m_fd, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size()));
        return m_path;
    }

private:
    int m_fd;
    std::string m_path;
};

// in converted whole from the code page `from` to the code page `to`; nothing when iconv knows
// neither or a byte does not convert.
inline std::optional<std::string> convert(const char *to, const char *from, std::string_view in)
{
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string input(in);
    std::string output(in.size() * 8 + 16, '\0');
    char *pin = input.data();
    size_t left = input.size();
    char *pout = output.data();
    size_t room = output.size();
    const bool ok = iconv(cd, &pin, &left, &pout, &room) != size_t(-1) && left == 0
        && iconv(cd, nullptr, nullptr, &pout, &room) != size_t(-1);
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    output.resize(output.size() - room);
    return output;
}

} // namespace fuzz
