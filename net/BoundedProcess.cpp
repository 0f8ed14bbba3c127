#include "net/BoundedProcess.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

// `net` runs one short-lived child at a time and nothing else, so it waits for it with
// posix_spawn, pipes, poll and waitpid: no event loop, no helper threads, no QCoreApplication.
namespace {

// A descriptor that is closed on every path.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd)
        : m_fd(fd)
    { }
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

long long nowMs()
{
    timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// A pipe whose both ends are above the standard descriptors: when net itself was started
// with stdin, stdout or stderr closed, a new pipe could otherwise land on 0, 1 or 2 and be
// overwritten by the child's own redirections.
bool makePipe(Descriptor &readEnd, Descriptor &writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    for (int &fd : fds) {
        if (fd <= STDERR_FILENO) {
            const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            ::close(fd);
            fd = moved;
        }
    }
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return readEnd.isOpen() && writeEnd.isOpen();
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Reads what the pipe holds now; closes it at end of file or on an error.
void drain(Descriptor &fd, std::string &into)
{
    char buffer[4096];
    while (fd.isOpen()) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0)
            into.append(buffer, size_t(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && errno == EAGAIN)
            return;
        else
            fd.reset();
    }
}

int openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(int(fd), F_SETFD, FD_CLOEXEC);
        return int(fd);
    }
#endif
    return -1; // kernels before 5.3: waitpid is polled instead
}

// Reaps pid if it has ended; true once it has, with its wait status in *status.
bool reap(pid_t pid, int *status)
{
    for (;;) {
        const pid_t r = ::waitpid(pid, status, WNOHANG);
        if (r == pid)
            return true;
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) { // nobody left to wait for (already reaped elsewhere)
            *status = -1;
            return true;
        }
        return false;
    }
}

// An absolute path without "//", "." and "..": the name the child is given as argv[0].
std::string cleanPath(const std::string &path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string clean;
    for (const std::string &part : parts)
        clean += '/' + part;
    return clean.empty() ? "/" : clean;
}

// A started child and our ends of its standard streams.
struct Child
{
    pid_t pid = -1;
    Descriptor input, output, error;
    Descriptor pidFd; // not open on kernels without pidfd_open
};

// Writing to a child that ended early must fail with EPIPE, not kill net; and an ignored
// SIGCHLD (inherited from whoever started net) would reap the child behind our back and
// lose its exit code.
void prepareSignals()
{
    struct sigaction ignore
    {
    };
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
    struct sigaction child
    {
    };
    if (::sigaction(SIGCHLD, nullptr, &child) == 0 && child.sa_handler == SIG_IGN) {
        child.sa_handler = SIG_DFL;
        ::sigaction(SIGCHLD, &child, nullptr);
    }
}

// Starts path with the arguments, its standard streams on pipes of ours (non-blocking on
// our side); false when it could not be started.
bool spawn(const std::string &path, const std::vector<std::string> &arguments, Child &child)
{
    Descriptor inRead, outWrite, errWrite;
    if (!makePipe(inRead, child.input) || !makePipe(child.output, outWrite) || !makePipe(child.error, errWrite))
        return false;

    std::vector<std::string> argBytes;
    argBytes.reserve(arguments.size() + 1);
    argBytes.push_back(path);
    argBytes.insert(argBytes.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inRead.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so that a time-out takes down anything it started too;
    // and the default SIGPIPE that net itself gave up.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    const int spawned = ::posix_spawn(&child.pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;

    setNonBlocking(child.input.get());
    setNonBlocking(child.output.get());
    setNonBlocking(child.error.get());
    child.pidFd.reset(openPidFd(child.pid));
    return true;
}

// Feeds the input and collects the output until the child ends or the deadline passes;
// true once it has ended and been reaped, with its wait status in *status.
bool pump(Child &child, const std::string &input, long long deadline, BoundedProcess::Result &result, int *status)
{
    if (input.empty())
        child.input.reset();
    size_t written = 0;
    for (;;) {
        const long long remaining = deadline - nowMs();
        if (remaining <= 0)
            return false;
        pollfd fds[4];
        int count = 0;
        const auto watch = [&](const Descriptor &d, short events) {
            fds[count++] = pollfd { d.isOpen() ? d.get() : -1, events, 0 };
        };
        watch(child.input, POLLOUT);
        watch(child.output, POLLIN);
        watch(child.error, POLLIN);
        watch(child.pidFd, POLLIN);
        const int wait = child.pidFd.isOpen() ? int(remaining) : int(std::min<long long>(remaining, 10));
        if (::poll(fds, nfds_t(count), wait) < 0 && errno != EINTR)
            return false;
        if (child.input.isOpen() && fds[0].revents) {
            const ssize_t n = ::write(child.input.get(), input.data() + written, input.size() - written);
            if (n > 0)
                written += size_t(n);
            // A child that stops reading early simply does not get the rest.
            if (written == input.size() || (n < 0 && errno != EAGAIN && errno != EINTR))
                child.input.reset();
        }
        if (fds[1].revents)
            drain(child.output, result.out);
        if (fds[2].revents)
            drain(child.error, result.err);
        if ((!child.pidFd.isOpen() || fds[3].revents) && reap(child.pid, status))
            return true;
    }
}

// Kills the child with everything it started and reaps it.
void killAndReap(const Child &child, int *status)
{
    ::kill(-child.pid, SIGKILL);
    ::kill(child.pid, SIGKILL);
    // SIGKILL is not refused; the bound only guards against a child stuck in the kernel.
    const long long giveUp = nowMs() + 2000;
    while (!reap(child.pid, status) && nowMs() < giveUp) {
        pollfd fd { child.pidFd.isOpen() ? child.pidFd.get() : -1, POLLIN, 0 };
        ::poll(&fd, 1, child.pidFd.isOpen() ? int(std::max<long long>(1, giveUp - nowMs())) : 10);
    }
}

} // namespace

std::string BoundedProcess::findExecutable(const std::string &program)
{
    const char *variable = std::getenv("PATH");
    std::string path;
    if (variable) {
        path = variable;
    } else {
        // What the C library itself falls back on.
        const size_t n = ::confstr(_CS_PATH, nullptr, 0);
        path.resize(n);
        if (n > 0)
            ::confstr(_CS_PATH, path.data(), n);
        path.resize(n > 0 ? n - 1 : 0);
    }
    std::string current;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        std::string dir = path.substr(start, end - start);
        start = end + 1;
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
        const std::string candidate = dir + '/' + program;
        struct stat st
        {
        };
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return cleanPath(candidate);
    }
    return {};
}

BoundedProcess::Result BoundedProcess::run(
    const std::string &program, const std::vector<std::string> &arguments, const std::string &input, int timeoutMs)
{
    Result result;
    const std::string path = findExecutable(program);
    if (path.empty())
        return result;
    result.found = true;

    prepareSignals();
    Child child;
    if (!spawn(path, arguments, child))
        return result;
    result.started = true;

    int status = -1;
    if (!pump(child, input, nowMs() + timeoutMs, result, &status)) {
        result.timedOut = true;
        killAndReap(child, &status);
    }
    // What the child wrote before it ended is in the pipes; anything it left running that
    // still holds them is not waited for.
    drain(child.output, result.out);
    drain(child.error, result.err);
    if (!result.timedOut && status != -1 && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}
