#pragma once

#include <string>
#include <vector>

namespace brennick {

// How a run of another program ended.
struct ChildResult
{
    int startError = 0; // errno value when the program could not be started; 0 when it ran
    bool crashed = false; // ended by a signal: no exit code
    int exitCode = 0;
    std::string errors; // what it wrote to standard error
};

// Runs program with the arguments given, each passed on as exactly the bytes it holds (a file
// name need not be valid UTF-8), and returns when it has ended. The child reads nothing (standard
// input is /dev/null), writes its standard output where ours goes, and its standard error is
// passed on to ours as it comes as well as kept for the result. A program without "/" is looked
// for in PATH. The wait sleeps in a local event loop, so the windows keep painting meanwhile; what
// input they may take then is the caller's affair.
ChildResult RunAndWait(const std::string& program, const std::vector<std::string>& arguments);

} // namespace brennick
