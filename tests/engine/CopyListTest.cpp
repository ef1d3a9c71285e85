#include "EngineFixture.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace ostrel::test {
namespace {

class CopyListTest : public EngineTest
{
protected:
    // The copy list as paths relative to the source, each checked to pair with the same target path.
    std::vector<std::string> Listed()
    {
        std::vector<std::string> relative;
        for (const CopyEntry& entry : engine.CopyList().Entries()) {
            EXPECT_EQ(entry.source.rfind(src + "/", 0), 0u) << entry.source;
            std::string rest = entry.source.substr(src.size() + 1);
            EXPECT_EQ(entry.target, dst + "/" + rest);
            relative.push_back(rest);
        }
        return relative;
    }
};

TEST_F(CopyListTest, ListsDepthFirstWhereEachFolderIsMet)
{
    fs.SortListings(true);
    MakeTree(src, {{"a.txt", "a"}, {"m/b.txt", "b"}, {"m/n/c.txt", "c"}, {"m/z.txt", "z"}, {"z.txt", "z"}});
    engine.GetCopyFiles(src, dst);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"a.txt", "m/b.txt", "m/n/c.txt", "m/z.txt", "z.txt"}));
    EXPECT_TRUE(engine.DeleteList().empty());
}

// A killed run can leave the temporary file of an unfinished copy in either tree. It is never copied
// on, so a reverse pass can't carry a half-written file into the source. Look-alikes are copied.
TEST_F(CopyListTest, PassesOverTheTemporaryFilesOfUnfinishedCopies)
{
    MakeTree(src,
             {{"a", "1"},
              {".ostrel-4242-7", "half"},
              {"sub/.ostrel-1-12", ""},
              {".ostrel-4242-7.tmp", "another name"},
              {".ostrel-x-1", "x"},
              {".ostrel-9-9/inner", "in a folder of that name"}});
    engine.GetCopyFiles(src, dst);
    std::vector<std::string> listed = Listed();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed,
              (std::vector<std::string>{".ostrel-4242-7.tmp", ".ostrel-9-9/inner", ".ostrel-x-1", "a"}));
}

TEST_F(CopyListTest, TrailingDelimiterMakesNoDifference)
{
    MakeTree(src, {{"a", "1"}, {"s/b", "2"}});
    engine.GetCopyFiles(src + "/", dst);
    auto withDelimiter = engine.CopyList().Entries();
    engine.ClearLists();
    engine.GetCopyFiles(src, dst + "/");
    EXPECT_EQ(engine.CopyList().Entries(), withDelimiter);
    EXPECT_EQ(withDelimiter.size(), 2u);
}

TEST_F(CopyListTest, OptionsDecideWhatIsSeen)
{
    MakeTree(src, {{".hidden", "h"}, {"top", "t"}, {"sub/inner", "i"}, {"sys/inside", "s"}});
    ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0644), 0);
    fs.MarkSystem(src + "/sys");
    const struct
    {
        bool subFolder;
        bool systemFile;
        std::vector<std::string> expected;
    } cases[] = {
        {false, false, {".hidden", "sub/inner", "top"}},
        {false, true, {".hidden", "sub/inner", "sys/inside", "top"}},
        {true, false, {".hidden", "top"}},
        {true, true, {".hidden", "top"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "subFolder " << c.subFolder << " systemFile " << c.systemFile);
        host.options[RunOption::SubFolder] = c.subFolder;
        host.options[RunOption::SystemFile] = c.systemFile;
        engine.ClearLists();
        engine.GetCopyFiles(src, dst);
        auto listed = Listed();
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, c.expected);
    }
}

TEST_F(CopyListTest, AMissingOrUnreadableSourceListsNothing)
{
    WriteFile(temp / "file", "x");
    MakeTree(temp / "locked", {{"a", "1"}});
    fs.Fail(FsCall::List, temp / "locked/", EACCES);
    for (const std::string& from : {temp / "missing", temp / "file", temp / "locked"}) {
        engine.ClearLists();
        engine.GetCopyFiles(from, dst);
        EXPECT_TRUE(engine.CopyList().empty()) << from;
    }
}

TEST_F(CopyListTest, NeverDescendsIntoTheTargetInsideTheSource)
{
    MakeTree(src, {{"a", "1"}, {"backup/a", "1"}, {"backup/deeper/b", "2"}});
    engine.GetCopyFiles(src, src + "/backup");
    ASSERT_EQ(engine.CopyList().size(), 1u);
    EXPECT_EQ(engine.CopyList()[0], (CopyEntry{src + "/a", src + "/backup/a"}));
}

TEST_F(CopyListTest, ListsLinksAsEntriesAndFollowsNone)
{
    MakeTree(temp / "outside", {{"secret", "s"}});
    MakeTree(src,
             {{"real", "r"},
              {"tofile@", temp / "outside/secret"},
              {"tofolder@", temp / "outside"},
              {"dangling@", temp / "nothing"}});
    engine.GetCopyFiles(src, dst);
    auto listed = Listed();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"dangling", "real", "tofile", "tofolder"}));
}

TEST_F(CopyListTest, AbortEndsEveryLevelAndKeepsWhatWasListed)
{
    fs.SortListings(true);
    MakeTree(src, {{"a", "1"}, {"b/c", "2"}, {"b/d", "3"}, {"e", "4"}});
    host.onProcessEvents = [this] {
        if (engine.CopyList().size() == 2) {
            engine.SetAborted(true);
        }
    };
    engine.GetCopyFiles(src, dst);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"a", "b/c"}));
}

TEST_F(CopyListTest, ShowsTheSearchTextForEveryFolder)
{
    MakeTree(src, {{"a/b/c", "1"}, {"d/e", "2"}});
    engine.GetCopyFiles(src, dst);
    EXPECT_EQ(host.statusTexts[0], std::vector<std::string>(4, "フォルダ検索中...."));
    // Events are handled twice for each entry: a, d, a/b, a/b/c and d/e.
    EXPECT_EQ(host.processEventsCalls, 10);
}

} // namespace
} // namespace ostrel::test
