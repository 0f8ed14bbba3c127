#include "net/BoundedProcess.h"
#include "net/NetCommand.h"
#include "net/NetConfig.h"
#include "profile/Utf8Text.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

// The logged-in user, as the sender of the message. smbclient would read "%" as the
// start of a password and "/" or "\" as a domain separator, so those become "_".
std::string senderName()
{
    std::string name;
    if (const passwd *entry = ::getpwuid(::getuid()))
        name = Utf8Text::valid(entry->pw_name);
    if (name.empty()) {
        if (const char *user = std::getenv("USER"))
            name = Utf8Text::valid(user);
    }
    if (name.empty())
        name = "usuario";
    std::string clean;
    for (size_t pos = 0; pos < name.size();) {
        const size_t start = pos;
        const char32_t c = Utf8Text::next(name, pos);
        if (c == U'%' || c == U'/' || c == U'\\' || Utf8Text::isSpace(c))
            clean += '_';
        else
            clean.append(name, start, pos - start);
    }
    if (clean.front() == '-')
        clean.front() = '_';
    return clean;
}

// The folder of this executable. The kernel's link names the real
// file, symbolic links resolved.
std::string programDir(const char *argv0)
{
    char buffer[PATH_MAX];
    std::string path;
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) {
        path.assign(buffer, size_t(n));
    } else if (char *real = ::realpath(argv0, nullptr)) {
        path = real;
        std::free(real);
    } else {
        return ".";
    }
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

void writeLines(FILE *stream, const std::vector<std::string> &lines)
{
    for (const std::string &line : lines) {
        std::fwrite(line.data(), 1, line.size(), stream);
        std::fputc('\n', stream);
    }
    std::fflush(stream);
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(Utf8Text::valid(argv[i]));
    NetCommand command(NetConfig::applicableIni(programDir(argv[0])), senderName());
    // Stopped from outside, net takes its children down with it before it goes.
    BoundedProcess::stopChildrenOnSignals();
    const NetCommand::Result result = command.run(arguments);
    writeLines(stdout, result.out);
    writeLines(stderr, result.err);
    if (const int signal = BoundedProcess::interruption()) {
        // Ended by the signal, as whoever sent it expects.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return result.exitCode;
}
