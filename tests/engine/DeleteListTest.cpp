#include "EngineFixture.h"

#include <cerrno>
#include <sys/stat.h>

namespace ostrel::test {
namespace {

class DeleteListTest : public EngineTest
{
protected:
    // The delete list relative to the target, sorted unless the order is under test.
    std::vector<std::string> Listed(bool sorted = true)
    {
        std::vector<std::string> relative;
        for (const std::string& entry : engine.DeleteList()) {
            EXPECT_EQ(entry.rfind(dst + "/", 0), 0u) << entry;
            relative.push_back(entry.substr(dst.size() + 1));
        }
        if (sorted) {
            std::sort(relative.begin(), relative.end());
        }
        return relative;
    }
};

TEST_F(DeleteListTest, ListsWhatTheSourceLacks)
{
    MakeTree(src, {{"same", "new content"}, {"both/kept", "1"}, {"clash1/", ""}, {"clash2", "file"}});
    MakeTree(dst,
             {{"same", "old"},
              {"gone", "x"},
              {"both/kept", "1"},
              {"both/extra", "2"},
              {"olddir/a", "1"},
              {"olddir/deep/b", "2"},
              {"clash1", "file in target"},
              {"clash2/inner", "folder in target"}});
    SetTime(src + "/same", "2001-01-01 00:00:00");
    engine.GetDeleteFiles(src, dst);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"both/extra", "clash1", "clash2/", "gone", "olddir/"}));
}

TEST_F(DeleteListTest, StaysInTheTopFolderWithSubFolderOption)
{
    MakeTree(src, {{"both/kept", "1"}});
    MakeTree(dst, {{"both/extra", "2"}, {"olddir/a", "1"}, {"gone", "x"}});
    host.options[RunOption::SubFolder] = true;
    engine.GetDeleteFiles(src, dst);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"gone", "olddir/"}));
}

TEST_F(DeleteListTest, NeverListsSystemEntries)
{
    MakeTree(src, {{"keep", "1"}});
    MakeTree(dst, {{"keep", "1"}, {"sysdir/a", "1"}, {"sysfile", "2"}});
    ASSERT_EQ(::mkfifo((dst + "/pipe").c_str(), 0644), 0);
    fs.MarkSystem(dst + "/sysdir");
    fs.MarkSystem(dst + "/sysfile");
    host.options[RunOption::SystemFile] = true;
    engine.GetDeleteFiles(src, dst);
    EXPECT_TRUE(Listed().empty());
}

// What a killed copy left is not the user's file to delete or to put in the trash; a folder that
// goes still takes it along.
TEST_F(DeleteListTest, NeverListsTheTemporaryFilesOfUnfinishedCopies)
{
    MakeTree(src, {{"sub/a", "1"}});
    MakeTree(dst,
             {{"sub/a", "1"},
              {"sub/.ostrel-4242-7", "half"},
              {".ostrel-1-2", ""},
              {".ostrel-1-2.tmp", "another name"},
              {"old/.ostrel-3-4", "x"}});
    engine.GetDeleteFiles(src, dst);
    EXPECT_EQ(Listed(), (std::vector<std::string>{".ostrel-1-2.tmp", "old/"}));
    EXPECT_TRUE(engine.DeleteFolder(dst + "/old/"));
    EXPECT_EQ(ReadTree(dst).count("old/"), 0u);
}

TEST_F(DeleteListTest, ListsDepthFirstInEnumerationOrder)
{
    fs.SortListings(true);
    MakeTree(src, {{"m/", ""}});
    MakeTree(dst, {{"a", "1"}, {"m/b", "2"}, {"m/c/d", "3"}, {"z", "4"}});
    engine.GetDeleteFiles(src, dst);
    EXPECT_EQ(Listed(false), (std::vector<std::string>{"a", "m/b", "m/c/", "z"}));
}

TEST_F(DeleteListTest, AnEmptyOrMissingTargetListsNothing)
{
    MakeTree(src, {{"a", "1"}});
    engine.GetDeleteFiles(src, dst);
    EXPECT_TRUE(engine.DeleteList().empty());
    MakeTree(dst, {});
    engine.GetDeleteFiles(src, dst);
    EXPECT_TRUE(engine.DeleteList().empty());
}

// An unplugged, renamed or unreadable source must never empty the target.
TEST_F(DeleteListTest, AMissingOrUnreadableSourceListsNothing)
{
    MakeTree(dst, {{"a", "1"}, {"sub/b", "2"}});
    WriteFile(temp / "plainfile", "x");
    MakeTree(temp / "locked", {{"a", "1"}});
    fs.Fail(FsCall::List, temp / "locked/", EACCES);
    for (const std::string& from : {temp / "missing", temp / "plainfile", temp / "locked"}) {
        engine.ClearLists();
        engine.GetDeleteFiles(from, dst);
        EXPECT_TRUE(engine.DeleteList().empty()) << from;
    }
}

TEST_F(DeleteListTest, AnUnreadableSourceSubfolderProtectsItsTargetCounterpart)
{
    MakeTree(src, {{"sub/a", "1"}});
    MakeTree(dst, {{"sub/a", "1"}, {"sub/b", "2"}, {"extra", "3"}});
    fs.Fail(FsCall::List, src + "/sub/", EACCES);
    engine.GetDeleteFiles(src, dst);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"extra"}));
}

TEST_F(DeleteListTest, NeverListsTheSourceInsideTheTarget)
{
    dst = temp / "all";
    src = dst + "/work";
    MakeTree(src, {{"a", "1"}});
    MakeTree(dst, {{"a", "1"}, {"old", "2"}});
    engine.GetDeleteFiles(src, dst);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"old"}));
}

TEST_F(DeleteListTest, LinksAreEntriesNeverFollowed)
{
    MakeTree(temp / "outside", {{"precious", "p"}});
    MakeTree(src, {{"linkeddir@", temp / "outside"}, {"linkedfile@", temp / "outside/precious"}});
    MakeTree(dst,
             {{"stray@", temp / "outside"},
              {"strayfile@", temp / "outside/precious"},
              {"linkeddir/copy", "c"},
              {"linkedfile", "c"}});
    engine.GetDeleteFiles(src, dst);
    // The target's links are listed as files (removed as links); a source link keeps a target
    // file of its name, which its copy replaces, but not a folder: the link takes its place.
    EXPECT_EQ(Listed(), (std::vector<std::string>{"linkeddir/", "stray", "strayfile"}));
}

TEST_F(DeleteListTest, AbortKeepsWhatWasListed)
{
    fs.SortListings(true);
    MakeTree(src, {{"keep", "1"}});
    MakeTree(dst, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
    host.onProcessEvents = [this] {
        if (engine.DeleteList().size() == 2) {
            engine.SetAborted(true);
        }
    };
    engine.GetDeleteFiles(src, dst);
    EXPECT_EQ(Listed(false), (std::vector<std::string>{"a", "b"}));
}

} // namespace
} // namespace ostrel::test

namespace ostrel::test {
namespace {

// A source file whose time is out of range can't be copied; the target's copy of it must stay.
TEST_F(DeleteListTest, ASourceFileWithAnOutOfRangeTimeKeepsItsTargetCopy)
{
    MakeTree(src, {{"old", "from 1975"}, {"dir/older", "from 1970"}});
    MakeTree(dst, {{"old", "copy"}, {"dir/older", "copy"}, {"gone", "g"}});
    SetTime(src + "/old", "1975-01-01 00:00:00");
    SetTime(src + "/dir/older", "1970-01-02 00:00:00");
    engine.GetDeleteFiles(src, dst);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"gone"}));
}

} // namespace
} // namespace ostrel::test
