#include "store/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrel::test {
namespace {

TEST(CommandLineTest, ReadsTheArguments)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> arguments;
        std::string programFolder;
        std::string copySetFile;
        bool unattended;
        bool anyGiven;
        bool interpreted;
    };
    const std::vector<Case> cases = {
        {"none: default beside the program", {}, "/opt/ostrel", "/opt/ostrel/velmor.dat", false, false, true},
        {"none: folder with a trailing slash",
         {},
         "/opt/ostrel/",
         "/opt/ostrel/velmor.dat",
         false,
         false,
         true},
        {"none: folder with two trailing slashes",
         {},
         "/opt/ostrel//",
         "/opt/ostrel/velmor.dat",
         false,
         false,
         true},
        {"none: program in the root", {}, "/", "/velmor.dat", false, false, true},
        {"none: blanks in the folder", {}, "/home/a b/bin", "/home/a b/bin/velmor.dat", false, false, true},
        {"one: absolute path", {"/data/sets.dat"}, "/opt/ostrel", "/data/sets.dat", false, true, true},
        {"one: relative path unchanged", {"my sets.dat"}, "/opt/ostrel", "my sets.dat", false, true, true},
        {"one: empty argument", {""}, "/opt/ostrel", "", false, true, true},
        {"one: /A alone is a file name", {"/A"}, "/opt/ostrel", "/A", false, true, true},
        {"two: /A", {"/data/sets.dat", "/A"}, "/opt/ostrel", "/data/sets.dat", true, true, true},
        {"two: /a", {"/data/sets.dat", "/a"}, "/opt/ostrel", "/data/sets.dat", true, true, true},
        {"two: A without slash", {"/data/sets.dat", "A"}, "/opt/ostrel", "/data/sets.dat", false, true, true},
        {"after --, a name with a dash", {"--", "-x.dat", "/A"}, "/opt/ostrel", "-x.dat", true, true, true},
        {"a lone dash is a name", {"-"}, "/opt/ostrel", "-", false, true, true},
        {"two: /A with a blank",
         {"/data/sets.dat", "/A "},
         "/opt/ostrel",
         "/data/sets.dat",
         false,
         true,
         true},
        {"two: /AA", {"/data/sets.dat", "/AA"}, "/opt/ostrel", "/data/sets.dat", false, true, true},
        {"two: /B", {"/data/sets.dat", "/B"}, "/opt/ostrel", "/data/sets.dat", false, true, true},
        {"two: empty second", {"/data/sets.dat", ""}, "/opt/ostrel", "/data/sets.dat", false, true, true},
        {"two: full-width Ａ", {"/data/sets.dat", "/Ａ"}, "/opt/ostrel", "/data/sets.dat", false, true, true},
        {"three: not interpreted", {"/data/sets.dat", "/A", "x"}, "/opt/ostrel", "", false, true, false},
        {"four: not interpreted", {"a", "b", "c", "d"}, "/opt/ostrel", "", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartupArguments startup = ParseCommandLine(c.arguments, c.programFolder);
        EXPECT_EQ(startup.copySetFile, c.copySetFile);
        EXPECT_EQ(startup.unattendedRequested, c.unattended);
        EXPECT_EQ(startup.anyGiven, c.anyGiven);
        EXPECT_EQ(startup.interpreted, c.interpreted);
    }
}

// Options come before the classic FILE /A form: help and version win wherever they stand, and an
// unknown option is never taken as a file name.
TEST(CommandLineTest, ReadsOptions)
{
    const struct
    {
        std::vector<std::string> arguments;
        StartupAction action;
        std::string badOption;
    } cases[] = {
        {{"-h"}, StartupAction::Help, ""},
        {{"--help"}, StartupAction::Help, ""},
        {{"sets.dat", "--help"}, StartupAction::Help, ""},
        {{"-v"}, StartupAction::Version, ""},
        {{"--version"}, StartupAction::Version, ""},
        {{"--bogus"}, StartupAction::BadOption, "--bogus"},
        {{"-x", "-h"}, StartupAction::Help, ""},
        {{"sets.dat", "-A"}, StartupAction::BadOption, "-A"},
        {{"-a", "/A"}, StartupAction::BadOption, "-a"},
        {{"--", "--help"}, StartupAction::Start, ""},
        {{"-help"}, StartupAction::BadOption, "-help"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        StartupArguments startup = ParseCommandLine(c.arguments, "/opt/ostrel");
        EXPECT_EQ(startup.action, c.action);
        EXPECT_EQ(startup.badOption, c.badOption);
        if (c.action != StartupAction::Start) {
            EXPECT_FALSE(startup.unattendedRequested);
        }
    }
}

} // namespace
} // namespace ostrel::test
