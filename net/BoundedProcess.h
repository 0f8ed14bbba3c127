#pragma once

#include <string>
#include <vector>

// Runs one program from PATH with an argument list (never through a shell), feeds it
// standard input and waits for it no longer than a bound. A program that overstays is
// killed together with everything it started.
class BoundedProcess final
{
public:
    struct Result
    {
        bool found = false; // the program is on PATH
        bool started = false;
        bool timedOut = false;
        int exitCode = -1; // -1 when it did not end normally
        std::string out;
        std::string err;
    };

    static Result run(
        const std::string &program, const std::vector<std::string> &arguments, const std::string &input, int timeoutMs);

    // The program's path as the first executable file of that name on PATH (the system's
    // default path when PATH is unset); empty when there is none.
    static std::string findExecutable(const std::string &program);
};
