#pragma once

#include "platform/AppFiles.h"

#include <string>
#include <vector>

namespace ostrel {

// What the command line asks the program to do.
enum class StartupAction {
    Start, // open the window, and run unattended when asked to
    Help, // print the usage on standard output and end with 0
    Version, // print the name and version on standard output and end with 0
    BadOption, // print the usage on standard error and end with 3
};

// What the command line "Parvane [copy-set file [/A]]" asks for.
struct StartupArguments
{
    StartupAction action = StartupAction::Start;
    std::string badOption; // the first unknown option, with BadOption
    std::string copySetFile; // the current copy-set file; empty with three or more arguments
    bool unattendedRequested = false; // the second argument is exactly "/A" or "/a"
    bool anyGiven = false; // at least one argument was given
    bool interpreted = true; // false with three or more arguments
};

// Exit codes of the program. An interactive session always ends with kExitDone.
constexpr int kExitDone = 0; // every pass completed and no entry failed
constexpr int kExitFailures = 1; // completed, but some entries failed or a source could not be listed
constexpr int kExitStopped = 2; // the run stopped before its end
constexpr int kExitNotStarted = 3; // the run could not start: a bad option, a missing copy-set file

// Reads the arguments (the program name left out). Without arguments the copy-set file is
// "velmor.dat" in copySetFolder (AppFiles::CopySetFolder), joined with exactly one "/". "-h", "--help", "-v"
// and "--version" come before the rest; any other argument that begins with "-" is an unknown option, never a
// file name, except after
// "--", which ends the options.
StartupArguments ParseCommandLine(const std::vector<std::string>& arguments,
                                  const std::string& copySetFolder);

// The usage text of "--help": the command line, the exit codes, and where the copy log, the default
// copy-set file and the settings live.
std::string UsageText(const AppFiles& files, const std::string& settingsPath);

// The text of "--version".
std::string VersionText();

} // namespace ostrel
