#include "CommandLine.h"

namespace ostrel {

namespace {

constexpr const char* kDefaultCopySetFile = "velmor.dat";

// The folder and the name joined by exactly one "/", whether or not the folder ends with one.
std::string DefaultCopySetFile(const std::string& programFolder)
{
    std::string folder = programFolder;
    while (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    return folder + "/" + kDefaultCopySetFile;
}

} // namespace

StartupArguments ParseCommandLine(const std::vector<std::string>& arguments, const std::string& programFolder)
{
    StartupArguments startup;
    startup.anyGiven = !arguments.empty();
    switch (arguments.size()) {
    case 0:
        startup.copySetFile = DefaultCopySetFile(programFolder);
        break;
    case 1:
        startup.copySetFile = arguments[0];
        break;
    case 2:
        startup.copySetFile = arguments[0];
        startup.unattendedRequested = arguments[1] == "/A" || arguments[1] == "/a";
        break;
    default:
        // Not a command line this program knows: no file is named and nothing runs by itself.
        startup.interpreted = false;
        break;
    }
    return startup;
}

} // namespace ostrel
