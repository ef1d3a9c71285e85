#include "EngineFixture.h"
#include "TmpfsMount.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

// The lines of a copy log. A line ends at CR LF only; a CR or LF anywhere else is a broken line
// and makes the test fail.
std::vector<std::string> LogLines(const std::string& log)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < log.size()) {
        std::size_t end = log.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "the log ends without CR LF: " << ::testing::PrintToString(log.substr(at));
            break;
        }
        std::string line = log.substr(at, end - at);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos)
            << "a line break inside a line: " << ::testing::PrintToString(line);
        lines.push_back(line);
        at = end + 2;
    }
    return lines;
}

std::vector<std::string> Sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string Utf8Name(std::size_t bytes)
{
    std::string name;
    while (name.size() + 3 <= bytes) {
        name += "名"; // three bytes each
    }
    return name + std::string(bytes - name.size(), 'x');
}

// Names a user can give files on Linux that a shell, a line format or a fixed buffer could trip
// over; each with the form it takes in the copy log.
struct AwkwardName
{
    std::string name;
    std::string logged;
};

const std::vector<AwkwardName> kAwkwardNames = {
    {"with blank.txt", "with blank.txt"},
    {" leading blank", " leading blank"},
    {"trailing blank ", "trailing blank "},
    {"it's", "it's"},
    {"\"double quoted\"", "\"double quoted\""},
    {"-leading-dash", "-leading-dash"},
    {"--", "--"},
    {"-", "-"},
    {"a,b.txt", "a,b.txt"},
    {"tab\there", "tab\there"},
    {"back\\slash", "back\\slash"},
    {"*?[glob]", "*?[glob]"},
    {"$(echo x) `y`", "$(echo x) `y`"},
    {"\xff\xfe not UTF-8", "\xff\xfe not UTF-8"},
    {"line\nbreak", "line␊break"},
    {"\nleading line feed", "␊leading line feed"},
    {"trailing line feed\n", "trailing line feed␊"},
    {"carriage\rreturn", "carriage␍return"},
    {"crlf\r\ninside", "crlf␍␊inside"},
    {"\r\n", "␍␊"},
    {std::string(255, 'n'), std::string(255, 'n')},
    {Utf8Name(255), Utf8Name(255)},
};

class AwkwardNamesTest : public EngineTest
{
};

// Every awkward name as a file and as a folder with a file of that name inside; the pass copies
// them all, and each acted-on entry is one line of the log, whatever its name holds.
TEST_F(AwkwardNamesTest, APassCopiesEveryNameAndLogsOneLineForEach)
{
    Tree source;
    std::vector<std::string> copyLines;
    const std::string time = "2020-02-02 02:02:02";
    const std::string timeText = " (2020/02/02 2:02:02)  追加コピー";
    for (const AwkwardName& n : kAwkwardNames) {
        source["files/" + n.name] = "file " + n.name;
        source["folders/" + n.name + "/" + n.name] = "inner " + n.name;
        copyLines.push_back(src + "/files/" + n.logged + timeText);
        copyLines.push_back(src + "/folders/" + n.logged + "/" + n.logged + timeText);
    }
    MakeTree(src, source);
    for (const AwkwardName& n : kAwkwardNames) {
        SetTime(src + "/files/" + n.name, time);
        SetTime(src + "/folders/" + n.name + "/" + n.name, time);
    }
    // What the target holds and the source lacks goes, under awkward names too.
    Tree stale;
    std::vector<std::string> deleteLines;
    const std::vector<AwkwardName> staleNames = {
        {"-old", "-old"}, {"old\\nline", "old\\nline"}, {"old\nline", "old␊line"}, {"\r\nold", "␍␊old"}};
    for (const AwkwardName& n : staleNames) {
        stale["files/" + n.name] = "stale";
        stale["folders/" + n.name + "/inside"] = "stale";
        deleteLines.push_back(dst + "/files/" + n.logged + "  削除");
        deleteLines.push_back(dst + "/folders/" + n.logged + "/  フォルダ削除");
    }
    MakeTree(dst, stale);
    host.options[RunOption::Delete] = true;

    RunPass();

    EXPECT_EQ(ReadTree(dst), ReadTree(src));
    const auto copies = static_cast<std::ptrdiff_t>(copyLines.size());
    const std::vector<std::string> lines = LogLines(Log());
    ASSERT_EQ(lines.size(), copyLines.size() + deleteLines.size() + 10);
    EXPECT_EQ(Sorted({lines.begin(), lines.begin() + copies}), Sorted(copyLines));
    EXPECT_EQ(Sorted({lines.begin() + copies, lines.end() - 10}), Sorted(deleteLines));
    const auto deleted = static_cast<long>(staleNames.size());
    EXPECT_TRUE(Log().ends_with(Summary(src, dst, copies, 0, copies, deleted)));

    // The copies carry their times, so the next pass finds every name again and has nothing to do.
    RunPass();
    EXPECT_EQ(Log(), Summary(src, dst, 0, 0, 0, 0));
}

// A chain of folders whose path below base, joined to base with a "/", is exactly length bytes long.
std::string DeepRelativePath(const std::string& base, std::size_t length)
{
    const std::size_t wanted = length - base.size() - 1;
    std::string relative;
    while (relative.size() < wanted) {
        if (!relative.empty()) {
            relative += '/';
        }
        std::size_t room = wanted - relative.size();
        // Never leave room for a delimiter alone.
        std::size_t part = room > 250 && room - 250 < 2 ? room - 2 : std::min<std::size_t>(room, 250);
        relative += std::string(part, 'd');
    }
    return relative;
}

// Reads a file through folder handles, one name at a time, so that no path length limits it.
std::string ReadThroughHandles(const std::string& folder, const std::string& relative)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t at = 0;
    while (fd >= 0) {
        std::size_t slash = relative.find('/', at);
        const std::string name =
            relative.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        const bool last = slash == std::string::npos;
        int next = ::openat(fd, name.c_str(), (last ? O_RDONLY : O_RDONLY | O_DIRECTORY) | O_CLOEXEC);
        ::close(fd);
        fd = next;
        if (last) {
            break;
        }
        at = slash + 1;
    }
    std::string content;
    char buffer[256];
    for (ssize_t got = 0; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        content.append(buffer, static_cast<std::size_t>(got));
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return content;
}

// Paths as long as the kernel takes them are copied; a target folder whose longer name pushes a
// path past that is no obstacle either, since every file is reached from its pass's folders.
TEST_F(AwkwardNamesTest, PathsAtTheKernelsLimit)
{
    constexpr std::size_t kLongest = PATH_MAX - 1; // without the terminating NUL
    ASSERT_EQ(src.size(), dst.size());
    const std::string file = DeepRelativePath(src, kLongest - 2) + "/f";
    ASSERT_EQ((src + "/" + file).size(), kLongest);
    MakeTree(src, {{file, "deep"}, {"top", "top"}});
    SetTime(src + "/" + file, "2020-02-02 02:02:02");
    const std::string deepLine = src + "/" + file + " (2020/02/02 2:02:02)  追加コピー";

    RunPass();
    EXPECT_EQ(ReadTree(dst), ReadTree(src));
    std::vector<std::string> lines = LogLines(Log());
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_TRUE(lines[0] == deepLine || lines[1] == deepLine);
    EXPECT_TRUE(Log().ends_with(Summary(src, dst, 2, 0, 2, 0)));

    const std::string longer = temp / "target folder with a longer name";
    engine.ClearLists();
    engine.GetCopyFiles(src, longer);
    engine.ExeCopyFiles(true, src, longer, false);
    lines = LogLines(Log());
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), deepLine), 1);
    EXPECT_TRUE(Log().ends_with(Summary(src, longer, 2, 0, 2, 0)));
    EXPECT_EQ(ReadFile(longer + "/top"), "top");
    EXPECT_EQ(ReadThroughHandles(longer, file), "deep");
    EXPECT_EQ(ReadFile(src + "/" + file), "deep");
}

// Removes a tree through folder handles, so that paths too long for the kernel are no obstacle.
void RemoveBelow(int parent, const char* name)
{
    int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    DIR* dir = ::fdopendir(fd);
    std::vector<std::string> names;
    while (struct dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
    }
    for (const std::string& child : names) {
        RemoveBelow(::dirfd(dir), child.c_str());
    }
    ::closedir(dir);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

// A target folder to delete whose tree reaches past the longest path goes whole: it is emptied
// through its own handles, never by path.
TEST_F(AwkwardNamesTest, AFolderTooDeepForAnyPathIsDeletedWhole)
{
    MakeTree(src, {});
    MakeTree(dst, {{"old/near.txt", "n"}});
    // Made and removed through folder handles: no path reaches the bottom.
    struct RemoveDeep
    {
        std::string folder;
        ~RemoveDeep()
        {
            int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            RemoveBelow(fd, "old");
            ::close(fd);
        }
    } removeDeep{dst};
    int fd = ::open((dst + "/old").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string part(250, 'p');
    for (int depth = 0; depth < 20 && fd >= 0; ++depth) {
        ::mkdirat(fd, part.c_str(), 0777);
        int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    int deepest = ::openat(fd, "deepest.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    ::close(fd);
    ASSERT_GE(deepest, 0);
    ::close(deepest);
    host.options[RunOption::Delete] = true;

    RunPass();
    EXPECT_EQ(Log(), dst + "/old/  フォルダ削除\r\n" + Summary(src, dst, 0, 0, 0, 0));
    EXPECT_EQ(ReadTree(dst), Tree{});
}

// A target on a file system mounted read-only: every action fails with its line, the pass ends with
// its summary, and nothing changes on either side.
TEST_F(AwkwardNamesTest, AReadOnlyTargetGivesFailureLines)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    ASSERT_EQ(::mkdir(dst.c_str(), 0777), 0);
    TmpfsMount mount(dst, "1m");
    if (!mount.Mounted()) {
        GTEST_SKIP() << "tmpfs can't be mounted here: " << std::strerror(mount.Error());
    }
    fs.SortListings(true);
    MakeTree(src, {{"a new file", "new"}, {"b newer", "newer"}, {"c new folder/inside", "i"}});
    MakeTree(dst, {{"b newer", "older"}, {"d gone", "g"}, {"e gone folder/x", "x"}});
    SetTime(src + "/a new file", "2021-03-04 05:06:08");
    SetTime(src + "/b newer", "2021-03-04 05:06:08");
    SetTime(dst + "/b newer", "2001-01-01 00:00:00");
    SetTime(src + "/c new folder/inside", "2021-03-04 00:00:00");
    ASSERT_EQ(::mount(nullptr, dst.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
        << std::strerror(errno);

    // The trash of this test, never the user's.
    const char* oldDataHome = std::getenv("XDG_DATA_HOME");
    struct RestoreDataHome
    {
        std::optional<std::string> value;
        ~RestoreDataHome()
        {
            if (value) {
                ::setenv("XDG_DATA_HOME", value->c_str(), 1);
            } else {
                ::unsetenv("XDG_DATA_HOME");
            }
        }
    } restore{oldDataHome ? std::optional<std::string>(oldDataHome) : std::nullopt};
    ::setenv("XDG_DATA_HOME", (temp / "xdg").c_str(), 1);
    const Tree source = ReadTree(src);
    const Tree target = ReadTree(dst);
    for (bool trash : {false, true}) {
        SCOPED_TRACE(trash ? "to the trash" : "deleted outright");
        host.options[RunOption::Delete] = true;
        host.options[RunOption::Trash] = trash;
        RunPass();
        EXPECT_EQ(Log(),
                  src + "/a new file (2021/03/04 5:06:08)  追加コピー【失敗】\r\n" + src
                      + "/b newer (2021/03/04 5:06:08)  上書きコピー【失敗】\r\n" + src
                      + "/c new folder/inside (2021/03/04)  追加コピー【失敗】\r\n" + dst
                      + "/d gone  削除【失敗】\r\n" + dst + "/e gone folder/  フォルダ削除【失敗】\r\n"
                      + Summary(src, dst, 3, 0, 0, 0));
        EXPECT_EQ(ReadTree(src), source);
        EXPECT_EQ(ReadTree(dst), target);
    }
}

} // namespace
} // namespace ostrel::test
