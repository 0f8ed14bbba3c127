#include "net/BoundedProcess.h"

#include "runtime/posix/Descriptor.h"
#include "runtime/posix/Spawn.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// `net` runs a few short-lived children and nothing else, so it waits for them with
// posix_spawn, pipes, poll and waitpid: no event loop, no helper threads, no QCoreApplication.
namespace {

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

// Reads what the pipe holds now, keeping no more than kMaxOutputBytes; closes it at end of
// file or on an error.
void drain(Descriptor &fd, std::string &into)
{
    char buffer[4096];
    while (fd.isOpen()) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0)
            into.append(buffer, std::min(size_t(n), BoundedProcess::kMaxOutputBytes - into.size()));
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

// A started child and our ends of its standard streams.
struct Child
{
    pid_t pid = -1;
    Descriptor input, output, error;
    Descriptor pidFd; // not open on kernels without pidfd_open
};

// The signal that asked net to stop, and a pipe that wakes the wait for children when it
// comes (set up by stopChildrenOnSignals only).
volatile sig_atomic_t g_stopSignal = 0;
int g_wakeWrite = -1;
Descriptor g_wakeRead;

void onStopSignal(int signal)
{
    if (g_stopSignal == 0)
        g_stopSignal = signal;
    const int saved = errno;
    const char byte = 1;
    if (g_wakeWrite >= 0 && ::write(g_wakeWrite, &byte, 1) < 0) { } // a full pipe wakes the wait as well
    errno = saved;
}

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

    std::vector<std::string> argv;
    argv.reserve(arguments.size() + 1);
    argv.push_back(path);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Spawn::Options options;
    options.input = inRead.get();
    options.output = outWrite.get();
    options.error = errWrite.get();
    // The default SIGPIPE that net itself gave up.
    options.defaultSigpipe = true;
    child.pid = Spawn::start(argv, options);
    if (child.pid <= 0)
        return false;

    setNonBlocking(child.input.get());
    setNonBlocking(child.output.get());
    setNonBlocking(child.error.get());
    child.pidFd.reset(openPidFd(child.pid));
    return true;
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

// The children of one runAll: started in the jobs' order (a follow-up after the jobs
// already waiting), no more than kMaxAtOnce at once, each waited for until it ends or its
// own deadline passes.
class Runner
{
public:
    Runner(std::vector<BoundedProcess::Job> jobs, BoundedProcess::Then then)
        : m_jobs(std::move(jobs))
        , m_results(m_jobs.size())
        , m_then(std::move(then))
    {
        for (size_t i = 0; i < m_jobs.size(); ++i)
            m_queue.push_back(i);
    }

    std::vector<BoundedProcess::Result> run()
    {
        prepareSignals();
        for (;;) {
            while (m_running.size() < BoundedProcess::kMaxAtOnce && !m_queue.empty() && g_stopSignal == 0) {
                start(m_queue.front());
                m_queue.pop_front();
            }
            if (g_stopSignal != 0) {
                stopAll();
                break;
            }
            if (m_running.empty())
                break;
            waitOnce();
        }
        return std::move(m_results);
    }

private:
    struct Running
    {
        size_t index;
        Child child;
        long long deadline;
        size_t written = 0;
    };

    void start(size_t index)
    {
        const BoundedProcess::Job &job = m_jobs[index];
        BoundedProcess::Result &result = m_results[index];
        const std::string path = BoundedProcess::findExecutable(job.program);
        if (path.empty()) {
            followUp(index);
            return;
        }
        result.found = true;
        auto running = std::make_unique<Running>();
        running->index = index;
        if (!spawn(path, job.arguments, running->child)) {
            followUp(index);
            return;
        }
        result.started = true;
        running->deadline = nowMs() + job.timeoutMs;
        if (job.input.empty())
            running->child.input.reset();
        m_running.push_back(std::move(running));
    }

    // One poll over every child's pipes; whoever has ended or overstayed is done with.
    void waitOnce()
    {
        std::vector<pollfd> fds;
        long long first = m_running.front()->deadline;
        bool pollReap = false;
        for (const auto &r : m_running) {
            const auto watch = [&](const Descriptor &d, short events) {
                fds.push_back(pollfd { d.isOpen() ? d.get() : -1, events, 0 });
            };
            watch(r->child.input, POLLOUT);
            watch(r->child.output, POLLIN);
            watch(r->child.error, POLLIN);
            watch(r->child.pidFd, POLLIN);
            first = std::min(first, r->deadline);
            pollReap = pollReap || !r->child.pidFd.isOpen();
        }
        fds.push_back(pollfd { g_wakeRead.isOpen() ? g_wakeRead.get() : -1, POLLIN, 0 });
        const long long remaining = std::max<long long>(0, first - nowMs());
        const int wait = int(pollReap ? std::min<long long>(remaining, 10) : std::min<long long>(remaining, INT_MAX));
        // On a failed poll nothing is ready; the deadlines still hold.
        ::poll(fds.data(), nfds_t(fds.size()), wait);

        std::vector<std::unique_ptr<Running>> still;
        for (size_t i = 0; i < m_running.size(); ++i) {
            auto &r = m_running[i];
            const pollfd *f = &fds[i * 4];
            if (!serve(*r, f))
                still.push_back(std::move(r));
        }
        m_running = std::move(still);
    }

    // Feeds and reads one child after a poll; true once it is done with.
    bool serve(Running &r, const pollfd *f)
    {
        const std::string &input = m_jobs[r.index].input;
        BoundedProcess::Result &result = m_results[r.index];
        Child &child = r.child;
        if (child.input.isOpen() && f[0].revents) {
            const ssize_t n = ::write(child.input.get(), input.data() + r.written, input.size() - r.written);
            if (n > 0)
                r.written += size_t(n);
            // A child that stops reading early simply does not get the rest.
            if (r.written == input.size() || (n < 0 && errno != EAGAIN && errno != EINTR))
                child.input.reset();
        }
        if (f[1].revents)
            drain(child.output, result.out);
        if (f[2].revents)
            drain(child.error, result.err);
        int status = -1;
        if ((!child.pidFd.isOpen() || f[3].revents) && reap(child.pid, &status)) {
            finish(r, status);
            followUp(r.index);
            return true;
        }
        if (nowMs() >= r.deadline) {
            result.timedOut = true;
            killAndReap(child, &status);
            finish(r, status);
            followUp(r.index);
            return true;
        }
        return false;
    }

    // The job that follows the one at index, if any, takes its place at the end of the queue.
    void followUp(size_t index)
    {
        if (!m_then)
            return;
        std::optional<BoundedProcess::Job> next = m_then(index, m_results[index]);
        if (!next)
            return;
        m_jobs[index] = std::move(*next);
        m_results[index] = BoundedProcess::Result();
        m_queue.push_back(index);
    }

    void finish(Running &r, int status)
    {
        BoundedProcess::Result &result = m_results[r.index];
        // What the child wrote before it ended is in the pipes; anything it left running
        // that still holds them is not waited for.
        drain(r.child.output, result.out);
        drain(r.child.error, result.err);
        if (!result.timedOut && !result.interrupted && status != -1 && WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
    }

    // net was asked to stop: every child and its group go at once, then each is reaped.
    void stopAll()
    {
        for (const auto &r : m_running) {
            ::kill(-r->child.pid, SIGKILL);
            ::kill(r->child.pid, SIGKILL);
        }
        for (const auto &r : m_running) {
            int status = -1;
            killAndReap(r->child, &status);
            m_results[r->index].interrupted = true;
            finish(*r, status);
        }
        m_running.clear();
        for (const size_t index : m_queue)
            m_results[index].interrupted = true;
        m_queue.clear();
    }

    std::vector<BoundedProcess::Job> m_jobs;
    std::vector<BoundedProcess::Result> m_results;
    BoundedProcess::Then m_then;
    std::deque<size_t> m_queue;
    std::vector<std::unique_ptr<Running>> m_running;
};

} // namespace

void BoundedProcess::stopChildrenOnSignals()
{
    if (!g_wakeRead.isOpen()) {
        Descriptor readEnd, writeEnd;
        if (makePipe(readEnd, writeEnd)) {
            setNonBlocking(readEnd.get());
            setNonBlocking(writeEnd.get());
            g_wakeRead.reset(readEnd.release());
            g_wakeWrite = writeEnd.release();
        }
    }
    struct sigaction stop
    {
    };
    stop.sa_handler = onStopSignal;
    // Reads and writes carry on; the wait for children wakes through the pipe.
    stop.sa_flags = SA_RESTART;
    sigemptyset(&stop.sa_mask);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaddset(&stop.sa_mask, signal);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP }) {
        struct sigaction current
        {
        };
        // A signal ignored by whoever started net (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            ::sigaction(signal, &stop, nullptr);
    }
}

int BoundedProcess::interruption()
{
    return g_stopSignal;
}

std::string BoundedProcess::findExecutable(const std::string &program)
{
    return Spawn::findProgram(program, Spawn::pathDirectories(true));
}

BoundedProcess::Result BoundedProcess::run(
    const std::string &program, const std::vector<std::string> &arguments, const std::string &input, int timeoutMs)
{
    return runAll({ Job { program, arguments, input, timeoutMs } }).front();
}

std::vector<BoundedProcess::Result> BoundedProcess::runAll(std::vector<Job> jobs, Then then)
{
    return Runner(std::move(jobs), std::move(then)).run();
}
