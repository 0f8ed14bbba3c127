#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Finding a program on the search path and starting it, with no Qt: the one place where
// the desktop program and the `net` command start their children.
namespace Spawn {

// The directories of PATH in order, empty entries dropped. When PATH is unset: the C
// library's own default path if systemDefault, else none.
std::vector<std::string> pathDirectories(bool systemDefault);

// Whether a regular file may be started: executable by us.
bool executable(const std::string &path);

// The first dir/name, in the order of dirs, that is a regular file and that accept takes,
// as an absolute path without ".", ".." or "//"; empty when there is none. A relative
// directory counts from the current one; an empty one is skipped.
std::string findProgram(const std::string &name, const std::vector<std::string> &dirs,
    const std::function<bool(const std::string &)> &accept = executable);

// An absolute path without "//", "." and "..".
std::string cleanPath(const std::string &path);

struct Options
{
    std::string workDir; // empty: ours
    char *const *environment = nullptr; // nullptr: ours
    // Descriptors that become the child's standard streams; -1 leaves ours.
    int input = -1;
    int output = -1;
    int error = -1;
    // The child gets SIGPIPE's default action back (for a caller that ignores it).
    bool defaultSigpipe = false;
};

// Starts arguments[0] (a path, not looked up) with those arguments in a process group of
// its own, so that everything it starts can be stopped together; its id, or -1.
pid_t start(const std::vector<std::string> &arguments, const Options &options = {});

} // namespace Spawn
