#include "EngineFixture.h"
#include "platform/PathText.h"

#include <cerrno>
#include <cstdlib>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

class ExeCopyFilesTest : public EngineTest
{
protected:
    mode_t Mode(const std::string& path)
    {
        struct stat info
        {
        };
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    }
    static bool HasTemporaryFile(const Tree& tree)
    {
        for (const auto& [path, content] : tree) {
            if (ExtractName(path).rfind(".ostrel-", 0) == 0) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(ExeCopyFilesTest, WritesTheLogOfAPassByteForByte)
{
    fs.SortListings(true);
    MakeTree(src, {{"a.txt", {"new a", "2002-12-08 09:05:30"}}, {"sub/b.doc", {"b", "2002-12-07 18:22:10"}}});
    MakeTree(dst, {{"a.txt", {"old a", "2002-12-01 10:00:00"}}, {"old.txt", "o"}, {"olddir/x", "x"}});
    host.options[RunOption::Delete] = true;
    RunPass();

    EXPECT_EQ(Log(),
              src + "/a.txt (2002/12/08 9:05:30)  上書きコピー\r\n" + src
                  + "/sub/b.doc (2002/12/07 18:22:10)  追加コピー\r\n" + dst + "/old.txt  削除\r\n" + dst
                  + "/olddir/  フォルダ削除\r\n" + Summary(src, dst, 2, 1, 1, 1));
    EXPECT_EQ(ReadTimedTree(dst), ReadTimedTree(src));
}

// Each failed entry keeps why it failed, in the order of its line; the log shows the word only.
TEST_F(ExeCopyFilesTest, KeepsTheReasonOfEachFailedEntry)
{
    fs.SortListings(true);
    MakeTree(src, {{"a", "new a"}, {"b", "new b"}, {"c", "c"}, {"locked/e", "e"}, {"sub/d", "d"}});
    MakeTree(dst, {{"b", "old b"}, {"gone", "g"}, {"olddir/x", "x"}});
    SetTime(src + "/b", "2002-12-08 09:05:30");
    SetTime(dst + "/b", "2002-12-01 10:00:00");
    fs.Fail(FsCall::CopyWrite, dst + "/a", ENOSPC);
    fs.Fail(FsCall::ReadTime, src + "/b", EIO);
    fs.Fail(FsCall::List, src + "/locked/", EACCES);
    // The folder's own reason, not the copy's "no such file" that would follow it.
    fs.Fail(FsCall::CreateFolder, dst + "/sub/", EDQUOT);
    fs.Fail(FsCall::Delete, dst + "/gone", EACCES);
    fs.Fail(FsCall::RemoveFolder, dst + "/olddir/", EBUSY);
    host.options[RunOption::Delete] = true;
    RunPass();
    using Reasons = std::vector<std::pair<std::string, int>>;
    auto reasons = [](const std::vector<MirrorEngine::EntryFailure>& failures) {
        Reasons kept;
        for (const MirrorEngine::EntryFailure& failure : failures) {
            kept.emplace_back(failure.path, failure.reason.value());
        }
        return kept;
    };
    EXPECT_EQ(reasons(engine.Failures()),
              (Reasons{{src + "/a", ENOSPC},
                       {src + "/b", EIO},
                       {src + "/sub/d", EDQUOT},
                       {dst + "/gone", EACCES},
                       {dst + "/olddir/", EBUSY}}));
    EXPECT_EQ(reasons(engine.UnlistedFolders()), (Reasons{{src + "/locked/", EACCES}}));
    EXPECT_EQ(engine.FailedEntries(), 5);
    EXPECT_EQ(Log().find("No space"), std::string::npos);
    engine.ResetTally();
    EXPECT_TRUE(engine.Failures().empty());
    EXPECT_TRUE(engine.UnlistedFolders().empty());
}

TEST_F(ExeCopyFilesTest, LaterPassesAppendAndSummariesNameTheFoldersAsPassed)
{
    MakeTree(src, {});
    MakeTree(dst, {});
    engine.ExeCopyFiles(true, src + "/", dst, false);
    engine.ExeCopyFiles(false, dst, src + "/", false);
    EXPECT_EQ(Log(), Summary(src + "/", dst, 0, 0, 0, 0) + Summary(dst, src + "/", 0, 0, 0, 0));
    engine.ExeCopyFiles(true, src, dst, false);
    EXPECT_EQ(Log(), Summary(src, dst, 0, 0, 0, 0));
}

struct DecisionCase
{
    const char* name;
    const char* sourceTime;
    const char* targetTime; // nullptr: no target
    const char* targetContent; // the source's is "source, longer"
    bool sourceReadOnly;
    bool targetReadOnly;
    bool targetIsFolder;
    const char* word; // nullptr: left alone, no line
    bool copied;
    long total, overwritten, added;
};

TEST_F(ExeCopyFilesTest, DecidesEachEntryByItsFileTimes)
{
    const char* const sameSize = "target, longer";
    const char* const shorter = "target";
    const DecisionCase cases[] = {
        {"add", "2002-12-08 09:05:30", nullptr, nullptr, false, false, false, "追加コピー", true, 1, 0, 1},
        {"overwrite", "2002-12-08 09:05:30", "2002-12-08 09:05:00", shorter, false, false, false,
         "上書きコピー", true, 1, 1, 0},
        {"equal", "2002-12-08 09:05:30", "2002-12-08 09:05:30", sameSize, false, false, false, nullptr, false,
         0, 0, 0},
        {"equal, but the size differs", "2002-12-08 09:05:30", "2002-12-08 09:05:30", shorter, false, false,
         false, "上書きコピー", true, 1, 1, 0},
        {"older", "2002-12-08 09:05:30", "2003-01-01 00:00:00", shorter, false, false, false, nullptr, false,
         0, 0, 0},
        {"same step", "2002-12-08 09:05:31", "2002-12-08 09:05:30", sameSize, false, false, false, nullptr,
         false, 0, 0, 0},
        {"same step, but the size differs", "2002-12-08 09:05:31", "2002-12-08 09:05:30", shorter, false,
         false, false, "上書きコピー", true, 1, 1, 0},
        {"target before 1980", "2002-12-08 09:05:30", "1975-06-01 12:00:00", shorter, false, false, false,
         "上書きコピー", true, 1, 1, 0},
        {"source before 1980", "1970-01-01 00:00:00", nullptr, nullptr, false, false, false, "追加コピー",
         true, 1, 0, 1},
        {"source before 1980, newer than its target", "1975-06-01 12:00:00", "1970-01-01 00:00:00", shorter,
         false, false, false, "上書きコピー", true, 1, 1, 0},
        {"both before 1980, equal", "1970-01-01 00:00:00", "1970-01-01 00:00:00", sameSize, false, false,
         false, nullptr, false, 0, 0, 0},
        {"both after 2107, equal", "2150-01-01 00:00:00", "2150-01-01 00:00:00", sameSize, false, false,
         false, nullptr, false, 0, 0, 0},
        {"source after 2107", "2150-01-01 00:00:00", "2107-12-31 23:59:58", shorter, false, false, false,
         "上書きコピー", true, 1, 1, 0},
        {"read-only target of a writable source", "2002-12-08 09:05:30", "2002-12-01 00:00:00", shorter,
         false, true, false, "上書きコピー【失敗】", false, 1, 0, 0},
        {"read-only target of a read-only source", "2002-12-08 09:05:30", "2002-12-01 00:00:00", shorter,
         true, true, false, "上書きコピー", true, 1, 1, 0},
        {"folder", "2002-12-08 09:05:30", nullptr, nullptr, false, false, true, "追加コピー【失敗】", false,
         1, 0, 0},
    };
    for (const DecisionCase& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(src);
        RemoveTree(dst);
        WriteFile(src + "/f", "source, longer");
        SetTime(src + "/f", c.sourceTime);
        if (c.sourceReadOnly) {
            ::chmod((src + "/f").c_str(), 0444);
        }
        if (c.targetIsFolder) {
            MakeTree(dst, {{"f/inner", "i"}});
        } else if (c.targetTime) {
            WriteFile(dst + "/f", c.targetContent);
            SetTime(dst + "/f", c.targetTime);
            if (c.targetReadOnly) {
                ::chmod((dst + "/f").c_str(), 0444);
            }
        } else {
            MakeTree(dst, {});
        }
        Tree before = ReadTree(dst);
        RunPass();

        std::string lines = c.word ? src + "/f ("
                + CopyLog::FormatFileTime(ToDosTime(*fs.ReadFileTime(src + "/f"))) + ")  " + c.word + "\r\n"
                                   : std::string();
        EXPECT_EQ(Log(), lines + Summary(src, dst, c.total, c.overwritten, c.added, 0));
        if (c.copied) {
            EXPECT_EQ(ReadFile(dst + "/f"), "source, longer");
            EXPECT_EQ(fs.ReadFileTime(dst + "/f"), fs.ReadFileTime(src + "/f"));
            // Once mirrored, a second run finds nothing to do.
            RunPass();
            EXPECT_EQ(Log(), Summary(src, dst, 0, 0, 0, 0));
        } else {
            EXPECT_EQ(ReadTree(dst), before);
        }
    }
}

TEST_F(ExeCopyFilesTest, CreatesMissingFoldersForANewFile)
{
    MakeTree(src, {{"x/y/z/new.txt", "n"}});
    RunPass();
    EXPECT_EQ(ReadTree(dst), ReadTree(src));
    EXPECT_NE(Log().find(src + "/x/y/z/new.txt ("), std::string::npos);
    EXPECT_NE(Log().find(")  追加コピー\r\n"), std::string::npos);
}

TEST_F(ExeCopyFilesTest, LogOnlyTouchesNothingAndLogsWhatARealPassDoes)
{
    fs.SortListings(true);
    MakeTree(src, {{"a", "new"}, {"b/c", "c"}, {"sys", "new system"}});
    MakeTree(dst, {{"a", "old"}, {"gone", "g"}, {"olddir/x", "x"}, {"sys", "old system"}});
    SetTime(dst + "/a", "2001-01-01 00:00:00");
    SetTime(dst + "/sys", "2001-01-01 00:00:00");
    ::chmod((dst + "/sys").c_str(), 0444);
    fs.MarkSystem(dst + "/sys");
    host.options[RunOption::Delete] = true;
    Tree source = ReadTree(src);
    Tree target = ReadTree(dst);

    RunPass(true, true);
    std::string logOnly = Log();
    EXPECT_EQ(ReadTree(src), source);
    EXPECT_EQ(ReadTree(dst), target);
    EXPECT_EQ(Mode(dst + "/sys"), 0444u) << "a log-only pass changed an attribute";

    RunPass(true, false);
    EXPECT_EQ(Log(), logOnly);
    EXPECT_EQ(ReadTree(dst), source);
    EXPECT_NE(logOnly.find(Summary(src, dst, 3, 2, 1, 1)), std::string::npos);
}

TEST_F(ExeCopyFilesTest, OverwritesASystemFileWithoutMakingItReadOnly)
{
    const struct
    {
        mode_t mode;
    } cases[] = {{0644}, {0444}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        MakeTree(src, {{"sys", "new"}});
        WriteFile(dst + "/sys", "old");
        SetTime(dst + "/sys", "2001-01-01 00:00:00");
        ::chmod((dst + "/sys").c_str(), c.mode);
        ::chmod((src + "/sys").c_str(), 0644);
        fs.MarkSystem(dst + "/sys");
        RunPass();
        EXPECT_EQ(ReadFile(dst + "/sys"), "new");
        EXPECT_EQ(Mode(dst + "/sys"), 0644u);
        EXPECT_NE(Log().find(")  上書きコピー\r\n"), std::string::npos);
    }
}

TEST_F(ExeCopyFilesTest, DeletesFilesAndFoldersOutright)
{
    MakeTree(src, {{"keep", "k"}});
    MakeTree(dst, {{"keep", "k"}, {"gone", "g"}, {"olddir/a", "a"}, {"olddir/deep/b", "b"}, {"locked", "l"}});
    ::chmod((dst + "/locked").c_str(), 0444);
    ::chmod((dst + "/olddir/deep/b").c_str(), 0444);
    host.options[RunOption::Delete] = true;
    RunPass();
    // A read-only file the source no longer has goes like any other.
    EXPECT_EQ(ReadTree(dst), (Tree{{"keep", "k"}}));
    std::string log = Log();
    EXPECT_NE(log.find(dst + "/gone  削除\r\n"), std::string::npos);
    EXPECT_NE(log.find(dst + "/olddir/  フォルダ削除\r\n"), std::string::npos);
    EXPECT_NE(log.find(dst + "/locked  削除\r\n"), std::string::npos);
    EXPECT_NE(log.find(Summary(src, dst, 0, 0, 0, 2)), std::string::npos);
}

TEST_F(ExeCopyFilesTest, AFolderHoldingASystemFileIsNotRemovedButEmptiedOtherwise)
{
    MakeTree(src, {});
    MakeTree(dst, {{"olddir/a", "a"}, {"olddir/sub/b", "b"}});
    ASSERT_EQ(::mkfifo((dst + "/olddir/sub/pipe").c_str(), 0644), 0);
    host.options[RunOption::Delete] = true;
    RunPass();
    EXPECT_EQ(ReadTree(dst), (Tree{{"olddir/", ""}, {"olddir/sub/", ""}, {"olddir/sub/pipe", ""}}));
    EXPECT_EQ(Log(), dst + "/olddir/  フォルダ削除【失敗】\r\n" + Summary(src, dst, 0, 0, 0, 0));
}

TEST_F(ExeCopyFilesTest, DeletesNothingThroughALink)
{
    MakeTree(temp / "outside", {{"precious", "p"}});
    MakeTree(src, {});
    MakeTree(dst, {{"dirlink@", temp / "outside"}, {"filelink@", temp / "outside/precious"}});
    host.options[RunOption::Delete] = true;
    RunPass();
    EXPECT_EQ(ReadTree(dst), Tree{});
    EXPECT_EQ(ReadTree(temp / "outside"), (Tree{{"precious", "p"}}));
    EXPECT_FALSE(engine.DeleteFolder(dst + "/nothing/"));
    MakeTree(dst, {{"dirlink@", temp / "outside"}});
    EXPECT_FALSE(engine.DeleteFolder(dst + "/dirlink/"));
    EXPECT_EQ(ReadTree(temp / "outside"), (Tree{{"precious", "p"}}));
}

class TrashTest : public ExeCopyFilesTest
{
protected:
    TrashTest()
    {
        const char* old = std::getenv("XDG_DATA_HOME");
        m_old = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_DATA_HOME", (temp / "xdg").c_str(), 1);
    }
    ~TrashTest() override
    {
        if (m_old) {
            ::setenv("XDG_DATA_HOME", m_old->c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
    }
    std::optional<std::string> m_old;
};

TEST_F(TrashTest, MovesDeletedEntriesToTheTrashAndNothingBesideThem)
{
    MakeTree(src, {{"keep", "k"}});
    MakeTree(dst, {{"keep", "k"}, {"gone", "g"}, {"olddir/a", "a"}});
    host.options[RunOption::Delete] = true;
    host.options[RunOption::Trash] = true;
    RunPass();
    EXPECT_EQ(ReadTree(dst), (Tree{{"keep", "k"}}));
    Tree trash = ReadTree(temp / "xdg/Trash/files");
    EXPECT_EQ(trash, (Tree{{"gone", "g"}, {"olddir/", ""}, {"olddir/a", "a"}}));
    EXPECT_EQ(ReadTree(temp / "xdg/Trash/info").size(), 2u);
    std::string log = Log();
    EXPECT_NE(log.find(dst + "/gone  削除\r\n"), std::string::npos);
    EXPECT_NE(log.find(dst + "/olddir/  フォルダ削除\r\n"), std::string::npos);
    EXPECT_NE(log.find(Summary(src, dst, 0, 0, 0, 1)), std::string::npos);
}

TEST_F(TrashTest, AFailedMoveIsLoggedAndTheEntryStays)
{
    MakeTree(src, {});
    MakeTree(dst, {{"gone", "g"}, {"olddir/a", "a"}});
    fs.Fail(FsCall::Trash, dst + "/gone", EIO);
    fs.Fail(FsCall::Trash, dst + "/olddir", EIO);
    host.options[RunOption::Delete] = true;
    host.options[RunOption::Trash] = true;
    RunPass();
    EXPECT_EQ(ReadTree(dst), (Tree{{"gone", "g"}, {"olddir/", ""}, {"olddir/a", "a"}}));
    std::string log = Log();
    EXPECT_NE(log.find(dst + "/gone  削除【失敗】\r\n"), std::string::npos);
    EXPECT_NE(log.find(dst + "/olddir/  フォルダ削除【失敗】\r\n"), std::string::npos);
    EXPECT_NE(log.find(Summary(src, dst, 0, 0, 0, 0)), std::string::npos);
}

TEST_F(ExeCopyFilesTest, AbortInTheCopyPhaseSkipsDeletionsAndSummary)
{
    fs.SortListings(true);
    MakeTree(src, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
    MakeTree(dst, {{"gone", "g"}});
    host.options[RunOption::Delete] = true;
    engine.GetCopyFiles(src, dst);
    engine.GetDeleteFiles(src, dst);
    host.onProcessEvents = [this] {
        if (ReadTree(dst).count("b")) {
            engine.SetAborted(true);
        }
    };
    engine.ExeCopyFiles(true, src, dst, false);
    EXPECT_EQ(ReadTree(dst), (Tree{{"a", "1"}, {"b", "2"}, {"gone", "g"}}));
    std::string log = Log();
    EXPECT_EQ(log.find("*"), std::string::npos);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    EXPECT_EQ(host.waitCursorDepth, 0);
}

TEST_F(ExeCopyFilesTest, AbortInTheDeletePhaseStopsThereWithoutSummary)
{
    fs.SortListings(true);
    MakeTree(src, {});
    MakeTree(dst, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
    host.options[RunOption::Delete] = true;
    engine.GetDeleteFiles(src, dst);
    host.onProcessEvents = [this] { engine.SetAborted(true); };
    engine.ExeCopyFiles(true, src, dst, false);
    EXPECT_EQ(ReadTree(dst), (Tree{{"b", "2"}, {"c", "3"}}));
    EXPECT_EQ(Log(), dst + "/a  削除\r\n");
}

TEST_F(ExeCopyFilesTest, ShowsProgressInBothPanels)
{
    fs.SortListings(true);
    std::string deep = "a rather long folder name/and another one/";
    MakeTree(src, {{deep + "one", "1"}, {deep + "two", "2"}, {deep + "three", "3"}});
    MakeTree(dst, {{"gone", "g"}});
    host.options[RunOption::Delete] = true;
    RunPass();
    EXPECT_EQ(host.statusTexts[1], (std::vector<std::string>{"0/2", "1/2", "2/2", ""}));
    const auto& panel0 = host.statusTexts[0];
    ASSERT_GE(panel0.size(), 6u);
    const std::vector<std::string> names = {"one", "three", "two"};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& text = panel0[panel0.size() - 6 + i];
        EXPECT_LE(text.size(), 55u) << text;
        EXPECT_EQ(text.rfind("/.../", 0), 0u) << text;
        EXPECT_EQ(ExtractName(text), names[i]);
    }
    EXPECT_EQ(panel0[panel0.size() - 3].rfind("削除中.....", 0), 0u);
    EXPECT_EQ(ExtractName(panel0[panel0.size() - 3]), "gone");
    // The pass waits for its writes to reach the drive before its summary, and says so.
    EXPECT_EQ(panel0[panel0.size() - 2], "ディスクへの書き込みを待っています....");
    EXPECT_EQ(panel0.back(), "");
    EXPECT_EQ(host.waitCursorShown, 1);
    EXPECT_EQ(host.waitCursorDepth, 0);
}

TEST_F(ExeCopyFilesTest, ASourceThatCannotBeReadFailsOnlyItsEntry)
{
    fs.SortListings(true);
    MakeTree(src, {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}});
    MakeTree(dst, {{"c", "old"}});
    SetTime(dst + "/c", "2001-01-01 00:00:00");
    SetTime(src + "/e", "1975-01-01 00:00:00");
    engine.GetCopyFiles(src, dst);
    auto time = [this](const char* name) {
        return CopyLog::FormatFileTime(ToDosTime(*fs.ReadFileTime(src + "/" + name)));
    };
    // b and c vanish after the listing, so their times can't be read any more. e's time lies
    // before 1980: it is copied all the same, and its line shows the first time MS-DOS can hold.
    RemoveTree(src + "/b");
    RemoveTree(src + "/c");
    engine.ExeCopyFiles(true, src, dst, false);

    EXPECT_EQ(Log(),
              src + "/a (" + time("a") + ")  追加コピー\r\n" + src + "/b ()  追加コピー【失敗】\r\n" + src
                  + "/c ()  上書きコピー【失敗】\r\n" + src + "/d (" + time("d") + ")  追加コピー\r\n" + src
                  + "/e (1980/01/01)  追加コピー\r\n" + Summary(src, dst, 5, 0, 3, 0));
    EXPECT_EQ(ReadTree(dst), (Tree{{"a", "1"}, {"c", "old"}, {"d", "4"}, {"e", "5"}}));
}

TEST_F(ExeCopyFilesTest, ACopyFailingHalfwayLeavesTheOldTarget)
{
    fs.SortListings(true);
    std::string big(3 << 20, 'n');
    MakeTree(src, {{"a", big}, {"b", "b"}});
    MakeTree(dst, {{"a", "old content"}});
    SetTime(dst + "/a", "2001-01-01 00:00:00");
    fs.Fail(FsCall::CopyWrite, dst + "/a", ENOSPC);
    RunPass();
    Tree target = ReadTree(dst);
    EXPECT_EQ(target, (Tree{{"a", "old content"}, {"b", "b"}}));
    EXPECT_FALSE(HasTemporaryFile(target));
    EXPECT_EQ(fs.ReadFileTime(dst + "/a")->seconds, LocalSeconds("2001-01-01 00:00:00"));
    EXPECT_NE(Log().find(src + "/a ("), std::string::npos);
    EXPECT_NE(Log().find(")  上書きコピー【失敗】\r\n"), std::string::npos);
    EXPECT_NE(Log().find(Summary(src, dst, 2, 0, 1, 0)), std::string::npos);
}

// A failed copy must not become a deletion when the reverse pass lists the source for deletion.
TEST_F(ExeCopyFilesTest, AFailedCopyIsNotDeletedByTheReversePass)
{
    MakeTree(src, {{"a", "only copy"}, {"dir/b", "only copy"}});
    MakeTree(dst, {});
    fs.Fail(FsCall::Copy, dst + "/a", ENOSPC);
    fs.Fail(FsCall::Copy, dst + "/dir/b", ENOSPC);
    host.options[RunOption::Delete] = true;
    RunPass();
    engine.ClearLists();
    engine.GetCopyFiles(dst, src);
    engine.GetDeleteFiles(dst, src);
    EXPECT_TRUE(engine.DeleteList().empty());
    engine.BeginCopySet();
    engine.GetDeleteFiles(dst, src);
    EXPECT_EQ(engine.DeleteList().size(), 2u);
}

TEST_F(ExeCopyFilesTest, ALogThatCannotBeOpenedEndsThePassBeforeAnyChange)
{
    MakeTree(src, {{"a", "1"}});
    engine.GetCopyFiles(src, dst);
    RemoveTree(logFolder);
    EXPECT_THROW(engine.ExeCopyFiles(true, src, dst, false), CopyLogError);
    EXPECT_EQ(ReadTree(dst), Tree{});
    EXPECT_EQ(host.waitCursorDepth, 0);
}

TEST_F(ExeCopyFilesTest, ALogThatCannotBeWrittenEndsThePass)
{
    MakeTree(src, {{"a", "1"}, {"b", "2"}});
    engine.GetCopyFiles(src, dst);
    fs.Fail(FsCall::LogWrite, engine.LogPath(), ENOSPC);
    try {
        engine.ExeCopyFiles(true, src, dst, false);
        FAIL() << "a log on a full disk was reported as written";
    } catch (const CopyLogError& error) {
        EXPECT_EQ(error.Error(), ENOSPC);
    }
    EXPECT_EQ(ReadTree(dst).size(), 1u) << "the pass went on after its log failed";
    EXPECT_EQ(host.waitCursorDepth, 0);
}

// Only a plain file is a log: a FIFO would hold the pass for ever, a device would take the lines
// elsewhere. Either ends the pass before anything is done, like a log that can't be written.
TEST_F(ExeCopyFilesTest, ALogThatIsNoPlainFileIsNeverOpened)
{
    for (bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "FIFO" : "link to a device");
        MakeTree(src, {{"a", "1"}});
        engine.ClearLists();
        engine.GetCopyFiles(src, dst);
        ::unlink(engine.LogPath().c_str());
        ASSERT_EQ(fifo ? ::mkfifo(engine.LogPath().c_str(), 0644)
                       : ::symlink("/dev/full", engine.LogPath().c_str()),
                  0);
        EXPECT_THROW(engine.ExeCopyFiles(true, src, dst, false), CopyLogError);
        EXPECT_TRUE(ReadTree(dst).empty());
        EXPECT_EQ(host.waitCursorDepth, 0);
    }
}

// A real full disk under the log: the lines written before it filled up stay.
TEST_F(ExeCopyFilesTest, KeepsTheLinesWrittenBeforeTheLogFilledUp)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    if (::mount("tmpfs", logFolder.c_str(), "tmpfs", 0, "size=8k") != 0) {
        GTEST_SKIP() << "tmpfs can't be mounted here";
    }
    struct Unmount
    {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{logFolder};
    WriteFile(logFolder + "/filler", std::string(4096, 'f'));
    Tree source;
    for (int i = 0; i < 200; ++i) {
        source["file" + std::to_string(1000 + i)] = "x";
    }
    MakeTree(src, source);
    engine.GetCopyFiles(src, dst);
    EXPECT_THROW(engine.ExeCopyFiles(true, src, dst, false), CopyLogError);
    std::string log = Log();
    ASSERT_GT(log.size(), 0u);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = log.find(")  追加コピー\r\n", at)) != std::string::npos; ++at) {
        ++lines;
    }
    EXPECT_GT(lines, 10u);
    EXPECT_GE(ReadTree(dst).size(), lines);
    EXPECT_LT(ReadTree(dst).size(), source.size());
}

} // namespace
} // namespace ostrel::test
