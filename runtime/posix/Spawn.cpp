#include "runtime/posix/Spawn.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

namespace {

// The non-empty pieces of text between separators.
std::vector<std::string> pieces(const std::string &text, char separator)
{
    std::vector<std::string> found;
    size_t from = 0;
    while (from <= text.size()) {
        size_t end = text.find(separator, from);
        if (end == std::string::npos)
            end = text.size();
        if (end > from)
            found.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return found;
}

} // namespace

namespace Spawn {

std::vector<std::string> pathDirectories(bool systemDefault)
{
    const char *variable = std::getenv("PATH");
    std::string path;
    if (variable) {
        path = variable;
    } else if (systemDefault) {
        // What the C library itself falls back on.
        const size_t n = ::confstr(_CS_PATH, nullptr, 0);
        path.resize(n);
        if (n > 0)
            ::confstr(_CS_PATH, path.data(), n);
        path.resize(n > 0 ? n - 1 : 0);
    }
    return pieces(path, ':');
}

bool executable(const std::string &path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

std::string findProgram(const std::string &name, const std::vector<std::string> &dirs,
    const std::function<bool(const std::string &)> &accept)
{
    std::string current;
    for (std::string dir : dirs) {
        if (dir.empty())
            continue;
        if (dir.front() != '/') {
            if (current.empty()) {
                char buffer[PATH_MAX];
                if (!::getcwd(buffer, sizeof buffer))
                    continue;
                current = buffer;
            }
            dir = current + '/' + dir;
        }
        const std::string candidate = dir + '/' + name;
        struct stat st
        {
        };
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && accept(candidate))
            return cleanPath(candidate);
    }
    return {};
}

std::string cleanPath(const std::string &path)
{
    std::vector<std::string> parts;
    for (const std::string &part : pieces(path, '/')) {
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (part != ".") {
            parts.push_back(part);
        }
    }
    std::string clean;
    for (const std::string &part : parts)
        clean += '/' + part;
    return clean.empty() ? "/" : clean;
}

pid_t start(const std::vector<std::string> &arguments, const Options &options)
{
    if (arguments.empty())
        return -1;
    std::vector<std::string> store(arguments);
    std::vector<char *> argv;
    for (std::string &a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!options.workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workDir.c_str());
    if (options.input >= 0)
        posix_spawn_file_actions_adddup2(&actions, options.input, STDIN_FILENO);
    if (options.output >= 0)
        posix_spawn_file_actions_adddup2(&actions, options.output, STDOUT_FILENO);
    if (options.error >= 0)
        posix_spawn_file_actions_adddup2(&actions, options.error, STDERR_FILENO);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    short flags = POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
    if (options.defaultSigpipe) {
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        flags |= POSIX_SPAWN_SETSIGDEF;
    }
    posix_spawnattr_setflags(&attributes, flags);

    pid_t pid = -1;
    const int rc = ::posix_spawn(
        &pid, argv.front(), &actions, &attributes, argv.data(), options.environment ? options.environment : environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

} // namespace Spawn
