#pragma once

#include <string>
#include <vector>

namespace ostrel {

// What the command line "Parvane [copy-set file [/A]]" asks for.
struct StartupArguments
{
    std::string copySetFile; // the current copy-set file; empty with three or more arguments
    bool unattendedRequested = false; // the second argument is exactly "/A" or "/a"
    bool anyGiven = false; // at least one argument was given
    bool interpreted = true; // false with three or more arguments
};

// Reads the arguments (the program name left out). Without arguments the copy-set file is
// "velmor.dat" in programFolder.
StartupArguments ParseCommandLine(const std::vector<std::string>& arguments,
                                  const std::string& programFolder);

} // namespace ostrel
