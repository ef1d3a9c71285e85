#include "EngineFixture.h"
#include "Programs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

// How Linux files meet the mirror: times of any year and of a repeated hour, holes, long paths,
// leftovers of killed copies, large copies that can be aborted, and FAT.
class FileSemanticsTest : public EngineTest
{
protected:
    ~FileSemanticsTest() override { SetZone(std::nullopt); }

    // Sets the time zone of the process; nullopt gives back the one it had.
    void SetZone(std::optional<std::string> zone)
    {
        if (!m_zoneSet) {
            const char* old = std::getenv("TZ");
            m_oldZone = old ? std::optional<std::string>(old) : std::nullopt;
            m_zoneSet = true;
        }
        const std::optional<std::string>& wanted = zone ? zone : m_oldZone;
        if (wanted) {
            ::setenv("TZ", wanted->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

    static void SetUtc(const std::string& path, const char* utc)
    {
        struct tm parts = {};
        ASSERT_TRUE(::strptime(utc, "%Y-%m-%d %H:%M:%S", &parts)) << utc;
        const struct timespec times[2] = {{::timegm(&parts), 0}, {::timegm(&parts), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
    }

    std::string Line(const std::string& name, const std::string& time, const char* word) const
    {
        return src + "/" + name + " (" + time + ")  " + word + "\r\n";
    }

private:
    bool m_zoneSet = false;
    std::optional<std::string> m_oldZone;
};

// Bytes a file takes on its drive, holes left out.
long long Allocated(const std::string& path)
{
    struct stat info = {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return static_cast<long long>(info.st_blocks) * 512;
}

// A file of a size with data only where given; the rest is holes.
void MakeSparse(const std::string& path, off_t size, const std::vector<std::pair<off_t, std::string>>& data)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    for (const auto& [offset, bytes] : data) {
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
    }
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

std::string ReadAt(const std::string& path, off_t offset, std::size_t size)
{
    std::string bytes(size, '\0');
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    ssize_t done = fd >= 0 ? ::pread(fd, bytes.data(), size, offset) : -1;
    if (fd >= 0) {
        ::close(fd);
    }
    bytes.resize(done > 0 ? static_cast<std::size_t>(done) : 0);
    return bytes;
}

// In the hour that repeats when clocks go back, the later of two instants can have the earlier
// local time. The instants decide; the log still shows local time.
TEST_F(FileSemanticsTest, TimesInTheRepeatedHourCompareAsInstants)
{
    SetZone("Europe/Berlin");
    // 2026-10-25: 02:45 summer time is 00:45 UTC, and 02:30 winter time, an hour later, 01:30 UTC.
    const char* const firstPass = "2026-10-25 00:45:00";
    const char* const secondPass = "2026-10-25 01:30:00";
    struct Row
    {
        const char* what;
        const char* source;
        const char* target;
        const char* time; // the source's in the log line; nullptr: no line
    };
    const Row rows[] = {
        {"the source is the later save", secondPass, firstPass, "2026/10/25 2:30:00"},
        {"the target is the later save", firstPass, secondPass, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RemoveTree(src);
        RemoveTree(dst);
        MakeTree(src, {{"notes.txt", "source"}});
        MakeTree(dst, {{"notes.txt", "target"}});
        SetUtc(src + "/notes.txt", row.source);
        SetUtc(dst + "/notes.txt", row.target);
        RunPass();
        if (row.time) {
            EXPECT_EQ(Log(), Line("notes.txt", row.time, "上書きコピー") + Summary(src, dst, 1, 1, 0, 0));
            EXPECT_EQ(ReadFile(dst + "/notes.txt"), "source");
        } else {
            EXPECT_EQ(Log(), Summary(src, dst, 0, 0, 0, 0));
            EXPECT_EQ(ReadFile(dst + "/notes.txt"), "target");
        }
    }
}

// Reproducible builds and archives date files to 1970; some tools to far in the future. Such a
// file is mirrored with its exact time, its line shows the nearest MS-DOS time, and a second run
// copies nothing.
TEST_F(FileSemanticsTest, TimesOutsideTheDosRangeAreMirroredExactly)
{
    SetZone("UTC");
    MakeTree(src, {{"epoch", "e"}, {"far", "f"}});
    SetUtc(src + "/epoch", "1970-01-01 00:00:01");
    SetUtc(src + "/far", "2200-05-05 05:05:05");
    fs.SortListings(true);
    RunPass();
    EXPECT_EQ(Log(),
              Line("epoch", "1980/01/01", "追加コピー") + Line("far", "2107/12/31 23:59:58", "追加コピー")
                  + Summary(src, dst, 2, 0, 2, 0));
    EXPECT_EQ(ReadTimedTree(dst),
              (Tree{{"epoch", {"e", "1970-01-01 00:00:01"}}, {"far", {"f", "2200-05-05 05:05:05"}}}));
    RunPass();
    EXPECT_EQ(Log(), Summary(src, dst, 0, 0, 0, 0));
}

// A virtual disk of 64 MiB that holds 16 KiB keeps its holes in the target.
TEST_F(FileSemanticsTest, SparseFilesStaySparse)
{
    constexpr off_t kSize = off_t(64) << 20;
    const std::string head(8192, 'h');
    const std::string middle(8192, 'm');
    MakeTree(src, {});
    MakeSparse(src + "/disk.img", kSize, {{0, head}, {kSize / 2, middle}});
    ASSERT_LT(Allocated(src + "/disk.img"), 1 << 20) << "this file system keeps no holes";
    RunPass();
    const std::string copy = dst + "/disk.img";
    struct stat info = {};
    ASSERT_EQ(::stat(copy.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, kSize);
    EXPECT_LT(Allocated(copy), 1 << 20);
    EXPECT_EQ(ReadAt(copy, 0, head.size()), head);
    EXPECT_EQ(ReadAt(copy, kSize / 2, middle.size()), middle);
    EXPECT_EQ(ReadAt(copy, kSize / 4, 16), std::string(16, '\0'));
    EXPECT_EQ(ReadAt(copy, kSize - 16, 16), std::string(16, '\0'));
}

// The abort button is heard between the steps of a large copy: the copy stops, its temporary file
// goes, the old target stays, and the pass ends without a line or a summary.
TEST_F(FileSemanticsTest, ALargeCopyCanBeAbortedBetweenItsSteps)
{
    const std::size_t size = 3 * PosixFileSystem::kCopyStep + 1;
    MakeTree(src, {});
    WriteFile(src + "/big", std::string(size, 'n'));
    MakeTree(dst, {{"big", "old"}});
    SetTime(dst + "/big", "2001-01-01 00:00:00");
    std::chrono::steady_clock::time_point pressed;
    host.onProcessEvents = [&] {
        const auto& panel1 = host.statusTexts[1];
        if (!engine.IsAborted() && !panel1.empty() && panel1.back().find('%') != std::string::npos) {
            pressed = std::chrono::steady_clock::now();
            engine.SetAborted(true);
        }
    };
    RunPass();
    const auto ended = std::chrono::steady_clock::now();
    ASSERT_TRUE(engine.IsAborted());
    EXPECT_EQ(host.statusTexts[1].front(), "0/0");
    EXPECT_EQ(host.statusTexts[1][1], "0/0 (33%)");
    EXPECT_LT(ended - pressed, std::chrono::milliseconds(100));
    EXPECT_EQ(ReadTree(dst), (Tree{{"big", "old"}}));
    EXPECT_EQ(Log(), "");
}

// Makes a chain of folders below a folder, one name at a time: the whole path is longer than the
// system takes in one call.
std::string MakeDeepChain(const std::string& top, int levels, const std::string& name,
                          const std::string& file)
{
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string relative;
    for (int i = 0; i < levels && fd >= 0; ++i) {
        ::mkdirat(fd, name.c_str(), 0755);
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        relative += name + "/";
    }
    EXPECT_GE(fd, 0);
    if (fd >= 0) {
        int fileFd = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_GE(fileFd, 0);
        EXPECT_EQ(::write(fileFd, "deep", 4), 4);
        ::close(fileFd);
        ::close(fd);
    }
    return relative + file;
}

// Reads a file below a folder one name at a time.
std::string ReadDeep(const std::string& top, const std::string& relative)
{
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t at = 0;
    for (std::size_t slash; fd >= 0 && (slash = relative.find('/', at)) != std::string::npos;
         at = slash + 1) {
        int next = ::openat(fd, relative.substr(at, slash - at).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    if (fd < 0) {
        return "(missing)";
    }
    int file = ::openat(fd, relative.substr(at).c_str(), O_RDONLY | O_CLOEXEC);
    ::close(fd);
    if (file < 0) {
        return "(missing)";
    }
    char bytes[16] = {};
    ssize_t done = ::read(file, bytes, sizeof bytes);
    ::close(file);
    return std::string(bytes, done > 0 ? static_cast<std::size_t>(done) : 0);
}

// A path longer than PATH_MAX is mirrored like any other: nothing is passed over silently.
TEST_F(FileSemanticsTest, PathsLongerThanTheSystemTakesAreMirrored)
{
    MakeTree(src, {});
    const std::string name(200, 'd');
    const std::string relative = MakeDeepChain(src, 25, name, "file.txt");
    ASSERT_GT((src + "/" + relative).size(), std::size_t{PATH_MAX});
    RunPass();
    EXPECT_EQ(ReadDeep(dst, relative), "deep");
    const std::string log = Log();
    EXPECT_NE(log.find("/" + relative + " ("), std::string::npos);
    EXPECT_NE(log.find("追加コピー\r\n"), std::string::npos);
    EXPECT_NE(log.find(Summary(src, dst, 1, 0, 1, 0)), std::string::npos);
    RunPass();
    EXPECT_EQ(Log(), Summary(src, dst, 0, 0, 0, 0));
    // Ordinary removal works by whole paths and would stop at PATH_MAX.
    RunProgram({"rm", "-rf", src, dst}, "/", {});
}

// What a killed copy left goes from every target folder the pass looked into, before its
// summary, whether or not anything was copied there; a temporary file of a living process stays.
TEST_F(FileSemanticsTest, LeftoversOfKilledCopiesAreSweptFromVisitedFolders)
{
    const std::string dead = ".ostrel-" + EndedProcessId() + "-1";
    const std::string living = ".ostrel-" + std::to_string(::getpid()) + "-999999";
    struct Row
    {
        const char* what;
        bool deletion;
        Tree after;
    };
    const Row rows[] = {
        {"copy walk only: the folders of the copy list",
         false,
         {{"sub/", ""}, {"sub/a", "a"}, {"sub/" + living, "l"}, {"empty/", ""}, {"empty/" + dead, "x"}}},
        {"with deletion: also the folders the delete walk listed",
         true,
         {{"sub/", ""}, {"sub/a", "a"}, {"sub/" + living, "l"}, {"empty/", ""}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RemoveTree(src);
        RemoveTree(dst);
        MakeTree(src, {{"sub/a", "a"}, {"empty/", ""}});
        MakeTree(dst, {{"sub/a", "a"}, {"sub/" + dead, "x"}, {"sub/" + living, "l"}, {"empty/" + dead, "x"}});
        SetTime(src + "/sub/a", "2020-01-01 00:00:00");
        SetTime(dst + "/sub/a", "2020-01-01 00:00:00");
        host.options[RunOption::Delete] = row.deletion;
        RunPass();
        EXPECT_EQ(ReadTree(dst), row.after);
        EXPECT_EQ(Log(), Summary(src, dst, 0, 0, 0, 0));
    }
}

// ---- On the drives of real users, through FUSE (root)

// A FAT image mounted through fusefat; unmounted when the guard goes, whatever the outcome.
class FatDrive
{
public:
    FatDrive(const std::string& image, std::string folder)
        : m_folder(std::move(folder))
    {
        int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        bool made = fd >= 0 && ::ftruncate(fd, off_t(64) << 20) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        Outcome format = RunProgram({"mkfs.vfat", image}, "/", {});
        m_output = format.output;
        if (!made || format.status != 0) {
            return;
        }
        Outcome mount = RunProgram({"fusefat", "-o", "rw+", image, m_folder}, "/", {});
        m_output += mount.output;
        m_mounted = mount.status == 0;
    }
    ~FatDrive()
    {
        if (m_mounted && RunProgram({"fusermount", "-u", m_folder}, "/", {}).status != 0
            && RunProgram({"umount", m_folder}, "/", {}).status != 0) {
            RunProgram({"umount", "-l", m_folder}, "/", {});
        }
    }
    FatDrive(const FatDrive&) = delete;
    FatDrive& operator=(const FatDrive&) = delete;
    bool Mounted() const { return m_mounted; }
    const std::string& Output() const { return m_output; }

private:
    std::string m_folder;
    bool m_mounted = false;
    std::string m_output;
};

class FuseDriveTest : public FileSemanticsTest
{
protected:
    void SetUp() override
    {
        if (!IsRoot()) {
            GTEST_SKIP() << "mounting a FUSE image needs root";
        }
        if (RunProgram({"sh", "-c", "command -v fusefat && command -v mkfs.vfat"}, "/", {}).status != 0) {
            GTEST_SKIP() << "fusefat and mkfs.vfat are not installed (scripts/deps.sh)";
        }
        // fusefat writes a time's fields in UTC and reads them back as local time; only in UTC do
        // the two agree.
        SetZone("UTC");
        MakeTree(stick, {});
        drive.emplace(temp / "fat.img", stick);
        ASSERT_TRUE(drive->Mounted()) << drive->Output();
        dst = stick + "/backup";
    }
    void TearDown() override { drive.reset(); }

    std::string stick = temp / "stick";
    std::optional<FatDrive> drive;
};

// A file of 4 GiB can't go onto FAT: the copy fails at once, before anything is written.
TEST_F(FuseDriveTest, AFileOf4GiBFailsAtOnceTowardsFat)
{
    MakeTree(src, {{"small", "s"}});
    MakeSparse(src + "/huge.img", off_t(4) << 30, {{0, "data"}});
    fs.SortListings(true);
    MakeTree(dst, {});
    errno = 0;
    EXPECT_FALSE(fs.CopyFile(src + "/huge.img", dst + "/huge.img"));
    EXPECT_EQ(errno, EFBIG);
    const auto start = std::chrono::steady_clock::now();
    RunPass();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    auto time = [this](const char* name) {
        return CopyLog::FormatFileTime(ToDosTime(*fs.ReadFileTime(src + "/" + name)));
    };
    EXPECT_EQ(Log(),
              Line("huge.img", time("huge.img"), "追加コピー【失敗】")
                  + Line("small", time("small"), "追加コピー") + Summary(src, dst, 2, 0, 1, 0));
    EXPECT_EQ(ReadTree(dst), (Tree{{"small", "s"}}));
}

// FUSE file systems have no unnamed temporary files, so a killed copy leaves a named one there;
// the next pass that looks into its folder removes it.
TEST_F(FuseDriveTest, LeftoversOfKilledCopiesAreSweptOnFuse)
{
    MakeTree(src, {{"sub/a", "a"}});
    RunPass();
    ASSERT_EQ(ReadTree(dst), (Tree{{"sub/", ""}, {"sub/a", "a"}}));
    const std::string dead = ".ostrel-" + EndedProcessId() + "-1";
    WriteFile(dst + "/sub/" + dead, std::string(4096, 'x'));
    RunPass();
    EXPECT_EQ(Log(), Summary(src, dst, 0, 0, 0, 0));
    EXPECT_EQ(ReadTree(dst), (Tree{{"sub/", ""}, {"sub/a", "a"}}));
}

} // namespace
} // namespace ostrel::test
