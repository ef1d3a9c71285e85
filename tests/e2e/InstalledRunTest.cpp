#include "Programs.h"
#include "TestTree.h"
#include "store/CopySetFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

constexpr uid_t kNobody = 65534;

// The real programs run by an ordinary user, as from a package: copies of the executables in a
// folder that user can't write ("programs"), and in one the user owns ("stick"). As root the
// programs run as nobody (setpriv); otherwise as the user running the test, with the programs'
// folder made read-only.
class InstalledRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(::chmod(temp.Path().c_str(), 0755), 0);
        MakeTree(temp / "source", {{"a.txt", "a"}, {"sub/b.txt", "b"}});
        for (const char* folder : {"programs", "stick"}) {
            for (const auto& [name, path] :
                 {std::pair{"Parvane", PARVANE_PATH}, {"Brennick", BRENNICK_PATH}}) {
                const std::string copy = temp / folder + "/" + name;
                WriteFile(copy, ReadFile(path));
                ASSERT_EQ(::chmod(copy.c_str(), 0755), 0);
            }
        }
        MakeTree(temp / "home", {});
        MakeTree(temp / "target", {});
        WriteFile(temp / "home/sets.dat", FormatCopySets({{temp / "source", temp / "target", " ", ""}}));
        if (IsRoot()) {
            for (const char* owned : {"home", "home/sets.dat", "target", "stick"}) {
                ASSERT_EQ(::chown((temp / owned).c_str(), kNobody, kNobody), 0);
            }
        } else {
            ASSERT_EQ(::chmod((temp / "programs").c_str(), 0555), 0);
        }
    }

    void TearDown() override { ::chmod((temp / "programs").c_str(), 0755); }

    // Runs a program of a folder as the ordinary user, with the user's folders left to their
    // defaults below the test's home unless given.
    Outcome Run(const std::string& folder, const std::vector<std::string>& arguments,
                const Environment& extra = {})
    {
        std::vector<std::string> command;
        if (IsRoot()) {
            command = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
        }
        command.insert(command.end(), arguments.begin(), arguments.end());
        command[command.size() - arguments.size()] = temp / folder + "/" + arguments.front();
        Environment environment = {
            {"HOME", temp / "home"}, {"XDG_STATE_HOME", ""},           {"XDG_DATA_HOME", ""},
            {"XDG_CONFIG_HOME", ""}, {"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", ""},
            {"TZ", "JST-9"}};
        environment.insert(environment.end(), extra.begin(), extra.end());
        return RunProgram(command, temp.Path(), environment);
    }

    TempFolder temp;
};

TEST_F(InstalledRunTest, AnUnattendedRunCopiesAndLogsWhereTheLayoutSays)
{
    const struct
    {
        const char* name;
        std::string folder;
        Environment environment;
        std::string log; // where the log must be, below the test's folder
    } cases[] = {
        {"installed, the default state folder", "programs", {}, "home/.local/state/ostrel/velmor.log"},
        {"installed, XDG_STATE_HOME",
         "programs",
         {{"XDG_STATE_HOME", temp / "home/state"}},
         "home/state/ostrel/velmor.log"},
        {"portable", "stick", {{"XDG_STATE_HOME", temp / "home/state"}}, "stick/velmor.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(temp / "target");
        MakeTree(temp / "target", {});
        if (IsRoot()) {
            ASSERT_EQ(::chown((temp / "target").c_str(), kNobody, kNobody), 0);
        }
        Outcome run = Run(c.folder, {"Parvane", temp / "home/sets.dat", "/A"}, c.environment);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(ReadTree(temp / "target"), ReadTree(temp / "source"));
        EXPECT_NE(ReadFile(temp / c.log).find(temp / "source/sub/b.txt"), std::string::npos) << c.log;
        std::vector<CopySet> sets;
        ASSERT_EQ(ReadCopySetFile(temp / "home/sets.dat", sets), 0);
        EXPECT_NE(sets.at(0).lastRun, " ") << "the run was not stamped";
        EXPECT_EQ(ReadTree(temp / "programs"),
                  (Tree{{"Brennick", ReadFile(BRENNICK_PATH)}, {"Parvane", ReadFile(PARVANE_PATH)}}));
        RemoveTree(temp / c.log);
    }
    // The user's folders were made private to the user.
    for (const char* folder :
         {"home/.local", "home/.local/state", "home/.local/state/ostrel", "home/state/ostrel"}) {
        struct stat info
        {
        };
        ASSERT_EQ(::stat((temp / folder).c_str(), &info), 0) << folder;
        EXPECT_EQ(info.st_mode & 07777, 0700u) << folder;
    }
}

// An installed run that can't write its log copies nothing and says so: it must never end as a
// good run.
TEST_F(InstalledRunTest, ALogThatCantBeMadeStopsTheRun)
{
    Outcome run = Run("programs", {"Parvane", temp / "home/sets.dat", "/A"},
                      {{"XDG_STATE_HOME", temp / "programs/state"}});
    EXPECT_EQ(run.status, 2) << run.output;
    // The reason is why the log's folder could not be made, not that the log is missing.
    EXPECT_NE(run.output.find("コピーログに書き込めません (" + temp / "programs/state/ostrel/velmor.log"
                              + ": Permission denied)"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ReadTree(temp / "target"), Tree());
}

// --help tells each program's user where its files are.
TEST_F(InstalledRunTest, HelpNamesThePlaces)
{
    const struct
    {
        const char* program;
        const char* folder;
        std::vector<std::string> places;
    } cases[] = {
        {"Parvane",
         "programs",
         {"コピーログ:                 " + temp / "home/.local/state/ostrel/velmor.log\n",
          "既定のコピーセットファイル: " + temp / "home/.local/share/ostrel/velmor.dat\n",
          "設定:                       " + temp / "home/.config/Kivora/Velmor.conf\n"}},
        {"Parvane", "stick", {temp / "stick/velmor.log\n", temp / "stick/velmor.dat\n"}},
        {"Brennick",
         "programs",
         {"設定:           " + temp / "home/.config/ostrel/iniBK.ini\n",
          "アイテム:       " + temp / "home/.local/share/ostrel/DATA/\n"}},
        {"Brennick", "stick", {temp / "stick/iniBK.ini\n", temp / "stick/DATA/\n"}},
    };
    const Tree before = ReadTree(temp.Path());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " in " + c.folder);
        Outcome help = Run(c.folder, {c.program, "--help"});
        EXPECT_EQ(help.status, 0);
        for (const std::string& place : c.places) {
            EXPECT_NE(help.output.find(place), std::string::npos) << help.output;
        }
    }
    EXPECT_EQ(ReadTree(temp.Path()), before) << "--help made a file";
}

} // namespace
} // namespace ostrel::test
