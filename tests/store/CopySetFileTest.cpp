#include "store/CopySetFile.h"
#include "TestTree.h"
#include "TmpfsMount.h"
#include "store/IoErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <future>
#include <grp.h>
#include <ostream>
#include <random>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ostrel {

// Readable failure output: every field with its bytes escaped.
void PrintTo(const CopySet& set, std::ostream* out)
{
    *out << "{" << ::testing::PrintToString(set.source) << ", " << ::testing::PrintToString(set.target)
         << ", " << ::testing::PrintToString(set.lastRun) << ", " << ::testing::PrintToString(set.volumeName)
         << "}";
}

namespace test {
namespace {

using namespace std::string_literals;
using Sets = std::vector<CopySet>;

CopySet Set(std::string source, std::string target, std::string lastRun, std::string volumeName)
{
    return CopySet{std::move(source), std::move(target), std::move(lastRun), std::move(volumeName)};
}

struct stat Stat(const std::string& path)
{
    struct stat info = {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path << ": " << std::strerror(errno);
    return info;
}

// ---- Reading rules ------------------------------------------------------------------------------

TEST(CopySetFileTest, ParsesEveryLineForm)
{
    struct Case
    {
        const char* name;
        std::string bytes;
        Sets expected;
    };
    const std::vector<Case> cases = {
        {"empty file", "", {}},
        {"full line", "C\tD\t02/05/17 14:03\tBACKUP\r\n", {Set("C", "D", "02/05/17 14:03", "BACKUP")}},
        {"never run", "C\tD\t \tBACKUP\r\n", {Set("C", "D", " ", "BACKUP")}},
        {"one TAB: last run is a space", "src\ttgt\r\n", {Set("src", "tgt", " ", "")}},
        {"two TABs: no volume name", "src\ttgt\tstamp\r\n", {Set("src", "tgt", "stamp", "")}},
        {"companion form: empty last run", "src\ttgt\t\tVOL\r\n", {Set("src", "tgt", "", "VOL")}},
        {"no TAB: whole line is the target", "just text\r\n", {Set("", "just text", " ", "")}},
        {"more than three TABs stay in the volume name",
         "a\tb\tc\td\te\t\r\n",
         {Set("a", "b", "c", "d\te\t")}},
        {"only TABs", "\t\t\t\r\n", {Set("", "", "", "")}},
        {"a single TAB", "\t\r\n", {Set("", "", " ", "")}},
        {"a lone line end", "\r\n", {Set("", "", " ", "")}},
        {"empty line in the middle",
         "a\tb\tc\td\r\n\r\ne\tf\tg\th\r\n",
         {Set("a", "b", "c", "d"), Set("", "", " ", ""), Set("e", "f", "g", "h")}},
        {"LF line ends", "a\tb\tc\td\ne\tf\tg\th\n", {Set("a", "b", "c", "d"), Set("e", "f", "g", "h")}},
        {"two empty LF lines", "\n\n", {Set("", "", " ", ""), Set("", "", " ", "")}},
        {"mixed line ends",
         "a\tb\r\nc\td\ne\tf\r\n",
         {Set("a", "b", " ", ""), Set("c", "d", " ", ""), Set("e", "f", " ", "")}},
        {"last line without a line end",
         "a\tb\tc\td\r\ne\tf",
         {Set("a", "b", "c", "d"), Set("e", "f", " ", "")}},
        {"lone CRs are dropped", "a\rb\tc\r\r\n", {Set("ab", "c", " ", "")}},
        {"CR before a TAB is dropped", "a\r\tb\r\tc\r\td\r\r\n", {Set("a", "b", "c", "d")}},
        {"a lone CR after the last line break is no line", "a\tb\r\n\r", {Set("a", "b", " ", "")}},
        {"old Mac line ends make one line", "a\tb\rc\td\r", {Set("a", "bc", "d", "")}},
        {"0x1A ends the file",
         "a\tb\tc\td\r\n\x1a"
         "e\tf\tg\th\r\n",
         {Set("a", "b", "c", "d")}},
        {"0x1A inside a line", "a\tb\x1a\tc\r\nx\r\n", {Set("a", "b", " ", "")}},
        {"0x1A first",
         "\x1a"
         "a\tb\r\n",
         {}},
        {"NUL bytes are text", "s\0x\tt\0\t\0\t\0v\r\n"s, {Set("s\0x"s, "t\0"s, "\0"s, "\0v"s)}},
        {"invalid UTF-8 passes through",
         "\xff\xfe\t\x80\x81\t\xc3\t\xe3\x81\r\n",
         {Set("\xff\xfe", "\x80\x81", "\xc3", "\xe3\x81")}},
        {"UTF-8 text",
         "/home/花子/写真\t/media/花子/USB/写真\t \tＵＳＢ\r\n",
         {Set("/home/花子/写真", "/media/花子/USB/写真", " ", "ＵＳＢ")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseCopySets(c.bytes), c.expected);
    }
}

// ---- Writing rules ------------------------------------------------------------------------------

TEST(CopySetFileTest, FormatsThreeTabsAndCrLfPerSet)
{
    struct Case
    {
        const char* name;
        Sets sets;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"no sets: zero bytes", {}, ""},
        {"full set", {Set("C", "D", "02/05/17 14:03", "BACKUP")}, "C\tD\t02/05/17 14:03\tBACKUP\r\n"},
        {"never run", {Set("C", "D", " ", "BACKUP")}, "C\tD\t \tBACKUP\r\n"},
        {"all fields empty", {Set("", "", "", "")}, "\t\t\t\r\n"},
        {"TABs in the volume name", {Set("a", "b", "c", "d\te\t")}, "a\tb\tc\td\te\t\r\n"},
        {"order kept", {Set("2", "b", "", ""), Set("1", "a", "", "")}, "2\tb\t\t\r\n1\ta\t\t\r\n"},
        {"NUL and invalid UTF-8", {Set("\0"s, "\xff", "\x80", "\0\0"s)}, "\0\t\xff\t\x80\t\0\0\r\n"s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatCopySets(c.sets), c.expected);
    }
}

// A file read and saved again: what each line form turns into.
TEST(CopySetFileTest, ReadThenWriteGivesTheseBytes)
{
    struct Case
    {
        const char* name;
        std::string before;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"full lines unchanged", "C\tD\t02/05/17 14:03\tBACKUP\r\nE\tF\t \t\r\n",
         "C\tD\t02/05/17 14:03\tBACKUP\r\nE\tF\t \t\r\n"},
        {"one TAB gains a space and a TAB", "src\ttgt\r\n", "src\ttgt\t \t\r\n"},
        {"companion form unchanged", "src\ttgt\t\tVOL\r\n", "src\ttgt\t\tVOL\r\n"},
        {"no TAB", "line\r\n", "\tline\t \t\r\n"},
        {"more than three TABs unchanged", "a\tb\tc\td\t\te\r\n", "a\tb\tc\td\t\te\r\n"},
        {"empty line in the middle", "a\tb\tc\td\r\n\r\ne\tf\tg\th\r\n",
         "a\tb\tc\td\r\n\t\t \t\r\ne\tf\tg\th\r\n"},
        {"last line gets its CR LF", "a\tb\tc\td\r\ne\tf\tg\th", "a\tb\tc\td\r\ne\tf\tg\th\r\n"},
        {"LF becomes CR LF", "a\tb\tc\td\ne\tf\tg\th\n", "a\tb\tc\td\r\ne\tf\tg\th\r\n"},
        {"what follows 0x1A is gone", "a\tb\tc\td\r\n\x1agarbage", "a\tb\tc\td\r\n"},
        {"empty stays empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        std::string path = folder / "velmor.dat";
        WriteFile(path, c.before);
        Sets sets;
        ASSERT_EQ(ReadCopySetFile(path, sets), 0);
        ASSERT_EQ(WriteCopySetFile(path, sets), 0);
        EXPECT_EQ(ReadFile(path), c.after);
    }
}

// Whatever bytes a file holds, what is saved from it reads back as the same list.
TEST(CopySetFileTest, ParseFormatParseIsStableForAnyBytes)
{
    const std::string alphabet = "\t\t\t\r\n\r\n\x1a\0\xff\x80\xe3\x81\x82 a/"s;
    std::mt19937 random(20240517);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> length(0, 80);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        for (std::size_t i = length(random); i > 0; --i) {
            bytes.push_back(alphabet[pick(random)]);
        }
        Sets first = ParseCopySets(bytes);
        for (const CopySet& set : first) {
            ASSERT_TRUE(CanStoreCopySet(set)) << ::testing::PrintToString(bytes);
        }
        std::string formatted = FormatCopySets(first);
        ASSERT_EQ(ParseCopySets(formatted), first) << ::testing::PrintToString(bytes);
        ASSERT_EQ(FormatCopySets(ParseCopySets(formatted)), formatted) << ::testing::PrintToString(bytes);
    }
}

TEST(CopySetFileTest, RoundTripsThroughTheFile)
{
    struct Case
    {
        const char* name;
        Sets sets;
    };
    const std::vector<Case> cases = {
        {"NUL bytes", {Set("a\0b"s, "\0"s, "\0 \0"s, "v\0\tw"s)}},
        {"invalid UTF-8", {Set("\xc3\x28", "\xa0\xa1", "\xe2\x28\xa1", "\xf0\x28\x8c\xbc\t\xff")}},
        {"empty fields", {Set("", "", "", ""), Set("", "", " ", "")}},
        {"UTF-8 paths",
         {Set("/home/太郎/文書", "/media/太郎/バックアップ/文書", "24/05/17 09:41", "バックアップ")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        std::string path = folder / "sets.dat";
        ASSERT_EQ(WriteCopySetFile(path, c.sets), 0);
        Sets read;
        ASSERT_EQ(ReadCopySetFile(path, read), 0);
        EXPECT_EQ(read, c.sets);
    }
}

TEST(CopySetFileTest, TenMegabyteLineRoundTrips)
{
    TempFolder folder;
    std::string path = folder / "long.dat";
    std::string longPath;
    longPath.reserve(10 * 1024 * 1024);
    for (int i = 0; longPath.size() < 10 * 1024 * 1024; ++i) {
        longPath += "/フォルダ" + std::to_string(i);
    }
    const Sets sets = {Set("/src", longPath, " ", "VOL"), Set(longPath, "/tgt", "", "")};

    ASSERT_EQ(WriteCopySetFile(path, sets), 0);
    Sets read;
    ASSERT_EQ(ReadCopySetFile(path, read), 0);
    EXPECT_TRUE(read == sets);
}

TEST(CopySetFileTest, HundredThousandLinesRoundTrip)
{
    TempFolder folder;
    std::string path = folder / "many.dat";
    Sets sets;
    for (int i = 0; i < 100000; ++i) {
        std::string n = std::to_string(i);
        sets.push_back(Set("/home/user/src" + n, "/media/user/USB/dst" + n, i % 3 ? "24/05/17 09:41" : " ",
                           i % 2 ? "USB" : ""));
    }
    ASSERT_EQ(WriteCopySetFile(path, sets), 0);
    Sets read;
    ASSERT_EQ(ReadCopySetFile(path, read), 0);
    ASSERT_EQ(read.size(), sets.size());
    EXPECT_TRUE(read == sets);
}

// ---- Reading a file -----------------------------------------------------------------------------

TEST(CopySetFileTest, ReadingAppendsToTheRowsAlreadyThere)
{
    TempFolder folder;
    std::string path = folder / "sets.dat";
    WriteFile(path, "a\tb\t \tV\r\n");
    Sets sets = {Set("x", "y", "z", "w")};
    ASSERT_EQ(ReadCopySetFile(path, sets), 0);
    EXPECT_EQ(sets, (Sets{Set("x", "y", "z", "w"), Set("a", "b", " ", "V")}));
}

TEST(CopySetFileTest, ReadingFailsWithTheErrorNumber)
{
    TempFolder folder;
    WriteFile(folder / "file", "a\tb\r\n");
    ::mkdir((folder / "folder").c_str(), 0755);
    struct Case
    {
        const char* name;
        std::string path;
        int expected;
    };
    const std::vector<Case> cases = {
        {"missing file", folder / "missing.dat", ENOENT},
        {"missing folder", folder / "nowhere/sets.dat", ENOENT},
        {"empty path", "", ENOENT},
        {"a folder", folder / "folder", EISDIR},
        {"a file used as folder", folder / "file/sets.dat", ENOTDIR},
        {"name too long", folder / std::string(300, 'n'), ENAMETOOLONG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sets sets = {Set("kept", "", " ", "")};
        EXPECT_EQ(ReadCopySetFile(c.path, sets), c.expected);
        EXPECT_EQ(sets, (Sets{Set("kept", "", " ", "")}));
    }
}

TEST(CopySetFileTest, ReadingAFifoWithoutWriterDoesNotHang)
{
    TempFolder folder;
    std::string path = folder / "fifo";
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    auto result = std::make_shared<std::promise<int>>();
    std::future<int> done = result->get_future();
    // Detached, so a hanging read fails this test instead of blocking the whole run.
    std::thread([path, result] {
        Sets sets;
        result->set_value(ReadCopySetFile(path, sets));
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(done.get(), 0);
}

// A read source that hands out prepared chunks; a chunk with an error fails the read with it.
struct Chunk
{
    std::string bytes;
    int error = 0;
};

ReadBytes Replay(std::deque<Chunk>& chunks)
{
    return [&chunks](char* buffer, std::size_t size) -> std::ptrdiff_t {
        if (chunks.empty()) {
            return 0;
        }
        Chunk& next = chunks.front();
        if (next.error != 0 || next.bytes.empty()) {
            errno = next.error;
            chunks.pop_front();
            return -1;
        }
        std::size_t count = std::min(size, next.bytes.size());
        std::memcpy(buffer, next.bytes.data(), count);
        next.bytes.erase(0, count);
        if (next.bytes.empty()) {
            chunks.pop_front();
        }
        return static_cast<std::ptrdiff_t>(count);
    };
}

TEST(CopySetFileTest, ReadFailureKeepsTheCompleteLinesBeforeIt)
{
    struct Case
    {
        const char* name;
        std::deque<Chunk> chunks;
        int expected;
        Sets sets;
    };
    const std::vector<Case> cases = {
        {"fails at once", {{"", EIO}}, EIO, {}},
        {"fails after whole lines",
         {{"a\tb\r\n"}, {"c\td\r\n"}, {"", EIO}},
         EIO,
         {Set("a", "b", " ", ""), Set("c", "d", " ", "")}},
        {"line cut by the failure is left out",
         {{"a\tb\r\nc\td\t"}, {"", EIO}},
         EIO,
         {Set("a", "b", " ", "")}},
        {"line cut between CR and LF is left out",
         {{"a\tb\r\nc\td\r"}, {"", ENOSPC}},
         ENOSPC,
         {Set("a", "b", " ", "")}},
        {"no line complete", {{"a\tb"}, {"", EACCES}}, EACCES, {}},
        {"failure without errno is still a failure", {{"a\tb\r\n"}, {"", 0}}, EIO, {Set("a", "b", " ", "")}},
        {"interrupted reads are retried",
         {{"a\tb\r\n"}, {"", EINTR}, {"c\td"}, {"", EINTR}},
         0,
         {Set("a", "b", " ", ""), Set("c", "d", " ", "")}},
        {"nothing is read past 0x1A", {{"a\tb\r\n\x1a"}, {"", EIO}}, 0, {Set("a", "b", " ", "")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::deque<Chunk> chunks = c.chunks;
        Sets sets;
        EXPECT_EQ(ReadCopySets(Replay(chunks), sets), c.expected);
        EXPECT_EQ(sets, c.sets);
    }
}

// ---- Writing a file -----------------------------------------------------------------------------

TEST(CopySetFileTest, NewFileGetsTheUsualModeAndNoTemporaryStays)
{
    TempFolder folder;
    std::string path = folder / "velmor.dat";
    mode_t previous = ::umask(022);
    int result = WriteCopySetFile(path, {Set("a", "b", " ", "V")});
    ::umask(previous);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(ReadTree(folder.Path()), (Tree{{"velmor.dat", "a\tb\t \tV\r\n"}}));
    EXPECT_EQ(Stat(path).st_mode & 07777, 0644u);
}

// A save killed before its rename leaves its temporary file beside the list. The next save removes
// those of ended processes, named as every temporary file of the program is, and leaves everything
// else alone.
TEST(CopySetFileTest, SavingRemovesWhatKilledSavesLeft)
{
    const std::string ended = EndedProcessId();
    const std::string living = std::to_string(::getppid());
    TempFolder folder;
    const Tree kept = {
        {".ostrel-" + living + "-3", "a living process's save"},
        {".ostrel-" + ended + "-0-1a2b3c.tmp", "not a name of ours"},
        {".ostrel-" + ended + "-4/", ""},
        {"velmor.dat", "old\r\n"},
    };
    MakeTree(folder.Path(), kept);
    WriteFile(folder / (".ostrel-" + ended + "-2"), "half a list");
    ASSERT_EQ(::symlink("velmor.dat", (folder / (".ostrel-" + ended + "-17")).c_str()), 0);

    ASSERT_EQ(WriteCopySetFile(folder / "velmor.dat", {Set("a", "b", " ", "")}), 0);
    Tree expected = kept;
    expected["velmor.dat"] = "a\tb\t \t\r\n";
    EXPECT_EQ(ReadTree(folder.Path()), expected);
}

// Saves the list as the unprivileged user 65534 in a child process, where root would pass every
// permission check. The errno value of the save, or -1 when the child could not become that user.
int SaveAsNobody(const std::string& path, const Sets& sets)
{
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0
            || ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(255);
        }
        ::_exit(WriteCopySetFile(path, sets));
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)
        || WEXITSTATUS(status) == 255) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Where a rename can't be made (a folder that refuses the temporary file) or would do harm (a file
// with a second hard link, which would keep the old list), the file is written in place; either
// way it keeps its mode and owner, and nothing is left beside it.
TEST(CopySetFileTest, SavingKeepsModeOwnerAndHardLinks)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "handing files to another user needs root";
    }
    struct Case
    {
        const char* name;
        bool asNobody; // saved by user 65534, in a folder of root's that only root may write
        bool fileExists;
        uid_t owner; // of the file
        bool secondLink; // the file has a second name "other.dat" in the same folder
        int expected;
        bool inPlace; // the file keeps its identity
    };
    const std::vector<Case> cases = {
        {"root saves a user's file: a new file with the old mode and owner", false, true, 4321, false, 0,
         false},
        {"a second hard link stays a link to the list", false, true, 0, true, 0, true},
        {"an unwritable folder, the user's own file", true, true, 65534, false, 0, true},
        {"an unwritable folder, a file with two names", true, true, 65534, true, 0, true},
        {"an unwritable folder, a file the user can't write", true, true, 0, false, EACCES, true},
        {"an unwritable folder, no file yet", true, false, 0, false, EACCES, false},
    };
    const Sets sets = {Set("/s", "/t", " ", "V")};
    const std::string written = "/s\t/t\t \tV\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ASSERT_EQ(::chmod(folder.Path().c_str(), 0755), 0);
        const std::string path = folder / "velmor.dat";
        Tree expected;
        struct stat before
        {
        };
        if (c.fileExists) {
            WriteFile(path, "old\r\n");
            ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
            ASSERT_EQ(::chown(path.c_str(), c.owner, c.owner + 1), 0);
            if (c.secondLink) {
                ASSERT_EQ(::link(path.c_str(), (folder / "other.dat").c_str()), 0);
            }
            before = Stat(path);
            expected["velmor.dat"] = "old\r\n";
        }
        const int result = c.asNobody ? SaveAsNobody(path, sets) : WriteCopySetFile(path, sets);
        ASSERT_NE(result, -1) << "could not become user 65534";
        EXPECT_EQ(result, c.expected) << std::strerror(result);
        if (c.expected == 0) {
            expected["velmor.dat"] = written;
        }
        if (c.secondLink) {
            expected["other.dat"] = expected["velmor.dat"];
        }
        EXPECT_EQ(ReadTree(folder.Path()), expected);
        if (c.fileExists) {
            const struct stat after = Stat(path);
            EXPECT_EQ(after.st_ino == before.st_ino, c.inPlace);
            EXPECT_EQ(after.st_mode & 07777, 0640u);
            EXPECT_EQ(after.st_uid, c.owner);
            EXPECT_EQ(after.st_gid, c.owner + 1);
        }
    }
}

TEST(CopySetFileTest, ReplacingKeepsPermissionBits)
{
    TempFolder folder;
    std::string path = folder / "velmor.dat";
    WriteFile(path, "old\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(WriteCopySetFile(path, {Set("a", "b", "", "")}), 0);
    EXPECT_EQ(ReadTree(folder.Path()), (Tree{{"velmor.dat", "a\tb\t\t\r\n"}}));
    EXPECT_EQ(Stat(path).st_mode & 07777, 0640u);
}

TEST(CopySetFileTest, EmptyListEmptiesTheFile)
{
    TempFolder folder;
    std::string path = folder / "velmor.dat";
    WriteFile(path, "a\tb\t \t\r\n");
    ASSERT_EQ(WriteCopySetFile(path, {}), 0);
    EXPECT_EQ(ReadTree(folder.Path()), (Tree{{"velmor.dat", ""}}));
}

TEST(CopySetFileTest, ReplacingKeepsTheOwnerWhenRootSaves)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "handing a file to another owner needs root";
    }
    TempFolder folder;
    std::string path = folder / "velmor.dat";
    WriteFile(path, "old\r\n");
    ASSERT_EQ(::chown(path.c_str(), 4321, 8765), 0);
    ASSERT_EQ(WriteCopySetFile(path, {Set("a", "b", "", "")}), 0);
    EXPECT_EQ(Stat(path).st_uid, 4321u);
    EXPECT_EQ(Stat(path).st_gid, 8765u);
}

TEST(CopySetFileTest, WritingThroughALinkReplacesTheFileItNames)
{
    TempFolder folder;
    MakeTree(folder.Path(), {{"real/sets.dat", "old\r\n"}, {"link.dat@", "real/sets.dat"}});
    ASSERT_EQ(WriteCopySetFile(folder / "link.dat", {Set("a", "b", " ", "")}), 0);
    EXPECT_EQ(ReadTree(folder.Path()),
              (Tree{{"real/", ""}, {"real/sets.dat", "a\tb\t \t\r\n"}, {"link.dat@", "real/sets.dat"}}));
}

// A save that can't be done leaves the folder exactly as it was: old file, no temporary.
TEST(CopySetFileTest, FailedWriteLeavesEverythingAsItWas)
{
    const Sets good = {Set("/new", "/list", " ", "")};
    struct Case
    {
        const char* name;
        std::string path; // inside the folder
        Sets sets;
        int expected;
    };
    const std::vector<Case> cases = {
        {"missing folder", "nowhere/velmor.dat", good, ENOENT},
        {"a folder in the way", "folder", good, EISDIR},
        {"a file used as folder", "old.dat/velmor.dat", good, ENOTDIR},
        {"name too long", std::string(300, 'n'), good, ENAMETOOLONG},
        {"read-only file", "readonly.dat", good, EACCES},
        {"a FIFO in the way", "fifo", good, EINVAL},
        {"TAB in a source", "old.dat", {Set("/a\tb", "/t", " ", "")}, EINVAL},
        {"TAB in a target", "old.dat", {Set("/s", "/t\t", " ", "")}, EINVAL},
        {"TAB in a last run", "old.dat", {Set("/s", "/t", "\t", "")}, EINVAL},
        {"LF in a source", "old.dat", {Set("/a\nb", "/t", " ", "")}, EINVAL},
        {"CR in a target", "old.dat", {Set("/s", "/t\r", " ", "")}, EINVAL},
        {"0x1A in a last run", "old.dat", {Set("/s", "/t", "\x1a", "")}, EINVAL},
        {"LF in a volume name", "old.dat", {Set("/s", "/t", " ", "V\n")}, EINVAL},
        {"CR in a volume name", "old.dat", {Set("/s", "/t", " ", "\rV")}, EINVAL},
        {"0x1A in a volume name", "old.dat", {Set("/s", "/t", " ", "\x1a")}, EINVAL},
        {"bad set after good ones", "old.dat", {good[0], good[0], Set("/s\n/x", "/t", " ", "")}, EINVAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        MakeTree(folder.Path(),
                 {{"old.dat", "old\tlist\t \t\r\n"}, {"readonly.dat", "r\r\n"}, {"folder/", ""}});
        ASSERT_EQ(::chmod((folder / "readonly.dat").c_str(), 0444), 0);
        ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0644), 0);
        Tree before = ReadTree(folder.Path());
        EXPECT_EQ(WriteCopySetFile(folder / c.path, c.sets), c.expected);
        EXPECT_EQ(ReadTree(folder.Path()), before);
    }
}

TEST(CopySetFileTest, EmptyPathWritesNothing)
{
    TempFolder folder;
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(folder.Path().c_str()), 0);
    int result = WriteCopySetFile("", {Set("a", "b", " ", "")});
    EXPECT_EQ(::chdir(previous), 0);
    EXPECT_EQ(result, ENOENT);
    EXPECT_EQ(ReadTree(folder.Path()), Tree{});
}

TEST(CopySetFileTest, TabInTheVolumeNameIsStorable)
{
    EXPECT_TRUE(CanStoreCopySet(Set("/s", "/t", " ", "a\tb\t")));
    TempFolder folder;
    ASSERT_EQ(WriteCopySetFile(folder / "v.dat", {Set("/s", "/t", " ", "a\tb\t")}), 0);
    EXPECT_EQ(ReadFile(folder / "v.dat"), "/s\t/t\t \ta\tb\t\r\n");
}

// Fills the file system that holds path, so the next write finds it full.
void FillDisk(const std::string& path)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) { }
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
}

TEST(CopySetFileTest, FullDiskKeepsTheOldList)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    TempFolder folder;
    std::string disk = folder / "disk";
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    TmpfsMount mount(disk, "64k");
    if (!mount.Mounted() && mount.Error() == EPERM) {
        GTEST_SKIP() << "not allowed to mount here";
    }
    ASSERT_TRUE(mount.Mounted()) << std::strerror(mount.Error());

    std::string path = disk + "/velmor.dat";
    ASSERT_EQ(WriteCopySetFile(path, {Set("/old", "/list", " ", "")}), 0);
    FillDisk(disk + "/filler");
    Tree before = ReadTree(disk);

    Sets sets(1000, Set("/a/rather/long/source/folder", "/a/rather/long/target/folder", " ", "VOLUME"));
    EXPECT_EQ(WriteCopySetFile(path, sets), ENOSPC);
    EXPECT_EQ(ReadTree(disk), before);
    EXPECT_EQ(ReadFile(path), "/old\t/list\t \t\r\n");
}

// ---- Error texts --------------------------------------------------------------------------------

TEST(CopySetFileTest, ErrorTexts)
{
    struct Case
    {
        int error;
        std::string text;
    };
    const std::vector<Case> cases = {
        {ENOENT, "ファイルが見つかりません"},
        {EINVAL, "不正なファイル名です"},
        {ENAMETOOLONG, "不正なファイル名です"},
        {EMFILE, "オープンしたファイルが多すぎます"},
        {ENFILE, "オープンしたファイルが多すぎます"},
        {EACCES, "ファイルへのアクセスが拒否されました"},
        {EPERM, "ファイルへのアクセスが拒否されました"},
        {EROFS, "ファイルへのアクセスが拒否されました"},
        {kReadPastEnd, "ファイルの末尾以降を読み込みました"},
        {ENOSPC, "ディスクがいっぱいです"},
        {EIO, "I/O エラー (5)"},
        {EISDIR, "I/O エラー (21)"},
        {ENOTDIR, "I/O エラー (20)"},
        {EDQUOT, "I/O エラー (122)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(IoErrorText(c.error), c.text);
    }
}

} // namespace
} // namespace test
} // namespace ostrel
