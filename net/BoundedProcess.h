#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Runs programs from PATH with an argument list (never through a shell), feeds them
// standard input and waits for each no longer than its bound. A program that overstays
// is killed together with everything it started.
class BoundedProcess final
{
public:
    // Never more children than this at once, however many jobs there are. A workgroup of a
    // small office is served in one round; a larger one waits for free places.
    static constexpr size_t kMaxAtOnce = 32;

    // What each stream of a child keeps; the rest is read and dropped.
    static constexpr size_t kMaxOutputBytes = 1 << 20;

    struct Job
    {
        std::string program;
        std::vector<std::string> arguments;
        std::string input;
        int timeoutMs = 5000; // counted from the child's own start
    };

    struct Result
    {
        bool found = false; // the program is on PATH
        bool started = false;
        bool timedOut = false;
        bool interrupted = false; // cut short, or never started, because net itself was stopped
        int exitCode = -1; // -1 when it did not end normally
        std::string out;
        std::string err;
    };

    static Result run(
        const std::string &program, const std::vector<std::string> &arguments, const std::string &input, int timeoutMs);

    // What follows a job: called with the job's index and result as soon as it has ended;
    // a job returned takes its place, after the jobs already waiting.
    using Then = std::function<std::optional<Job>(size_t index, const Result &result)>;

    // Runs every job, at most kMaxAtOnce at a time, in the order given; the results in
    // that same order (of the last job of each place), whatever order the children end in.
    static std::vector<Result> runAll(std::vector<Job> jobs, Then then = {});

    // From now on SIGINT, SIGTERM and SIGHUP no longer end the process at once: every
    // child is killed with its process group and reaped, no further job starts, and
    // interruption() tells the signal so that the caller can end by it.
    static void stopChildrenOnSignals();

    // The signal that asked the process to stop, 0 when none has come.
    static int interruption();

    // The program's path as the first executable file of that name on PATH (the system's
    // default path when PATH is unset); empty when there is none.
    static std::string findExecutable(const std::string &program);
};
