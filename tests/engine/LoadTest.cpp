#include "FakeHost.h"
#include "TestTree.h"
#include "engine/MirrorEngine.h"
#include "platform/PosixFileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// Removes a tree through folder handles and the entry types the listing gives: hundreds of
// thousands of entries go in a fraction of the time a walk by whole paths takes.
void RemoveBelow(int parent, const char* name)
{
    // Entries removed while the folder is read may shift the reading; a second round finds any
    // that were passed over.
    for (int round = 0; round < 3; ++round) {
        int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            ::unlinkat(parent, name, 0);
            return;
        }
        if (DIR* dir = ::fdopendir(fd)) {
            while (struct dirent* entry = ::readdir(dir)) {
                const std::string child = entry->d_name;
                if (child == "." || child == "..") {
                    continue;
                }
                if (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN) {
                    RemoveBelow(fd, child.c_str());
                } else {
                    ::unlinkat(fd, child.c_str(), 0);
                }
            }
            ::closedir(dir);
        } else {
            ::close(fd);
        }
        if (::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno != ENOTEMPTY) {
            return;
        }
    }
}

// A folder on /dev/shm when that is a memory file system, otherwise in the temp folder: a load test
// measures the engine, not the disk.
class LoadFolder
{
public:
    LoadFolder()
    {
        struct statfs info
        {
        };
        std::string base = "/tmp";
        if (::statfs("/dev/shm", &info) == 0 && info.f_type == TMPFS_MAGIC
            && ::access("/dev/shm", W_OK) == 0) {
            base = "/dev/shm";
        }
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string pattern = base + "/" + test->test_suite_name() + "." + test->name() + ".XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp " << pattern;
        }
        m_path = pattern;
    }
    ~LoadFolder() { RemoveBelow(AT_FDCWD, m_path.c_str()); }
    LoadFolder(const LoadFolder&) = delete;
    LoadFolder& operator=(const LoadFolder&) = delete;
    std::string operator/(const std::string& relative) const { return m_path + "/" + relative; }

private:
    std::string m_path;
};

// The window's habits as the engine sees them: a status text only every so often, and every call
// to let events through timed, so that the longest stretch without one can be told.
class LoadHost : public FakeHost
{
public:
    bool IsStatusDue() override { return ++m_statusAsks % 1000 == 0; }
    void ProcessEvents() override
    {
        auto now = Clock::now();
        if (m_last != Clock::time_point{}) {
            longestGap = std::max(longestGap, now - m_last);
        }
        m_last = now;
        FakeHost::ProcessEvents();
    }
    void Restart()
    {
        m_last = {};
        longestGap = {};
    }
    Clock::duration longestGap{};

private:
    long m_statusAsks = 0;
    Clock::time_point m_last{};
};

// The names in a folder, sorted.
std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    EXPECT_NE(dir, nullptr) << folder;
    while (dir != nullptr) {
        struct dirent* entry = ::readdir(dir);
        if (!entry) {
            break;
        }
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    if (dir) {
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t CountLines(const std::string& text, const std::string& ending)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(ending); at != std::string::npos; at = text.find(ending, at + 1)) {
        ++count;
    }
    return count;
}

std::string Summary(const std::string& from, const std::string& to, long total, long added)
{
    const std::string stars(65, '*');
    return "\r\n" + stars + "\r\n" + from + " --> " + to + "\r\n" + "コピーファイル総数  ： "
        + std::to_string(total) + "\r\n上書きファイル数    ： 0\r\n追加　ファイル数    ： "
        + std::to_string(added) + "\r\n削除　ファイル数    ： 0\r\n" + stars + "\r\n\r\n\r\n";
}

// A forward pass as the run driver makes it, with chkDelete on.
void Pass(MirrorEngine& engine, const std::string& from, const std::string& to)
{
    engine.ClearLists();
    engine.GetCopyFiles(from, to);
    engine.GetDeleteFiles(from, to);
    engine.ExeCopyFiles(true, from, to, false);
}

// 200,000 empty files in one folder: the pass copies every one, logs every one, and a second pass
// finds nothing to do. The figures go to the test's output; they are not checked.
TEST(LoadTest, TwoHundredThousandEntriesInOneFolder)
{
    constexpr int kCount = 200000;
    LoadFolder folder;
    const std::string src = folder / "src";
    const std::string dst = folder / "dst";
    ASSERT_EQ(::mkdir(src.c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((folder / "log").c_str(), 0777), 0);
    auto start = Clock::now();
    int srcFd = ::open(src.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(srcFd, 0);
    for (int i = 0; i < kCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "entry %06d.txt", i);
        int fd = ::openat(srcFd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << name;
        ::close(fd);
    }
    ::close(srcFd);
    const double made = Seconds(Clock::now() - start);

    PosixFileSystem fs;
    LoadHost host;
    host.options[RunOption::Delete] = true;
    MirrorEngine engine(fs, host, folder / "log");

    start = Clock::now();
    engine.ClearLists();
    engine.GetCopyFiles(src, dst);
    engine.GetDeleteFiles(src, dst);
    const double listed = Seconds(Clock::now() - start);
    ASSERT_EQ(engine.CopyList().size(), static_cast<std::size_t>(kCount));
    EXPECT_TRUE(engine.DeleteList().empty());
    start = Clock::now();
    engine.ExeCopyFiles(true, src, dst, false);
    const double copied = Seconds(Clock::now() - start);
    const auto firstGap = host.longestGap;

    const std::vector<std::string> names = Names(src);
    ASSERT_EQ(names.size(), static_cast<std::size_t>(kCount));
    EXPECT_TRUE(Names(dst) == names) << "the target does not hold the same names";
    std::string log = ReadFile(engine.LogPath());
    EXPECT_EQ(CountLines(log, ")  追加コピー\r\n"), static_cast<std::size_t>(kCount));
    EXPECT_EQ(CountLines(log, "\r\n"), static_cast<std::size_t>(kCount) + 10);
    EXPECT_TRUE(log.ends_with(Summary(src, dst, kCount, kCount)));

    host.Restart();
    start = Clock::now();
    Pass(engine, src, dst);
    const double again = Seconds(Clock::now() - start);
    EXPECT_EQ(ReadFile(engine.LogPath()), Summary(src, dst, 0, 0));

    std::printf(
        "[ figures  ] %d entries in one folder: made in %.2f s, listed both ways in %.2f s, copied and "
        "logged in %.2f s, second pass %.2f s; longest stretch without event handling %.0f ms "
        "(first pass), %.0f ms (second)\n",
        kCount, made, listed, copied, again, Seconds(firstGap) * 1000, Seconds(host.longestGap) * 1000);
}

// A tree 100 folders deep with a file at every level: copied whole, found unchanged by a second
// pass, and a folder of that depth that the source no longer has is removed whole.
TEST(LoadTest, ATreeAHundredLevelsDeep)
{
    constexpr int kDepth = 100;
    LoadFolder folder;
    const std::string src = folder / "src";
    const std::string dst = folder / "dst";
    Tree tree;
    std::string path;
    for (int level = 0; level < kDepth; ++level) {
        path += "level " + std::to_string(level) + "/";
        tree[path + "file " + std::to_string(level)] = std::to_string(level);
    }
    MakeTree(src, tree);
    Tree gone;
    for (const auto& [relative, content] : tree) {
        gone["gone/" + relative] = content;
    }
    MakeTree(dst, gone);
    ::mkdir((folder / "log").c_str(), 0777);

    PosixFileSystem fs;
    LoadHost host;
    host.options[RunOption::Delete] = true;
    MirrorEngine engine(fs, host, folder / "log");
    auto start = Clock::now();
    Pass(engine, src, dst);
    const double first = Seconds(Clock::now() - start);

    EXPECT_EQ(ReadTree(dst), ReadTree(src));
    std::string log = ReadFile(engine.LogPath());
    EXPECT_EQ(CountLines(log, ")  追加コピー\r\n"), static_cast<std::size_t>(kDepth));
    EXPECT_NE(log.find(dst + "/gone/  フォルダ削除\r\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with(Summary(src, dst, kDepth, kDepth)));

    start = Clock::now();
    Pass(engine, src, dst);
    const double second = Seconds(Clock::now() - start);
    EXPECT_EQ(ReadFile(engine.LogPath()), Summary(src, dst, 0, 0));
    std::printf("[ figures  ] %d levels deep: first pass %.3f s, second pass %.3f s\n", kDepth, first,
                second);
}

} // namespace
} // namespace ostrel::test
