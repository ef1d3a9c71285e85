#include "platform/PosixFileSystem.h"
#include "FaultyFileSystem.h"
#include "Programs.h"
#include "TestTree.h"
#include "TmpfsMount.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace ostrel::test {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

struct stat Lstat(const std::string& path)
{
    struct stat info = {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path << ": " << std::strerror(errno);
    return info;
}

mode_t ModeOf(const std::string& path)
{
    return Lstat(path).st_mode & 07777;
}

void Chmod(const std::string& path, mode_t mode)
{
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path << ": " << std::strerror(errno);
}

void MakeFifo(const std::string& path)
{
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0) << path << ": " << std::strerror(errno);
}

// A socket file stays in the folder after its descriptor is closed.
void MakeSocket(const std::string& path)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int bound = ::bind(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof address);
    ::close(fd);
    ASSERT_EQ(bound, 0) << path << ": " << std::strerror(errno);
}

// The last-write time of a file, in seconds; -1 when it can't be read.
std::int64_t Seconds(FileSystem& fs, const std::string& path)
{
    auto time = fs.ReadFileTime(path);
    return time ? time->seconds : -1;
}

// Content that differs from block to block, so a misplaced or repeated block shows.
std::string Pattern(std::size_t size)
{
    std::string content(size, '\0');
    unsigned value = 12345;
    for (char& c : content) {
        value = value * 1103515245u + 12345u;
        c = static_cast<char>(value >> 16);
    }
    return content;
}

// The names in a folder, not descending; used where the content is too large to print.
std::set<std::string> NamesIn(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& [relative, content] : ReadTree(folder)) {
        if (relative.find('/') == std::string::npos || relative.find('/') == relative.size() - 1) {
            names.insert(relative);
        }
    }
    return names;
}

// The attribute flags as words, so that a table row reads like the listing it describes.
std::string Flags(const Attributes& attributes)
{
    std::string flags;
    auto add = [&](bool on, const char* word) {
        if (on) {
            flags += flags.empty() ? "" : " ";
            flags += word;
        }
    };
    add(attributes.folder, "folder");
    add(attributes.system, "system");
    add(attributes.hidden, "hidden");
    add(attributes.readOnly, "readOnly");
    add(attributes.special, "special");
    add(attributes.link, "link");
    return flags;
}

timespec At(const std::string& localTime, long nanoseconds = 0)
{
    timespec time{};
    time.tv_sec = static_cast<time_t>(LocalSeconds(localTime));
    time.tv_nsec = nanoseconds;
    return time;
}

void SetTimeExact(const std::string& path, const timespec& time)
{
    const timespec times[2] = {time, time};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Sets an environment variable for the life of the guard and puts the old value back.
class EnvironmentGuard
{
public:
    EnvironmentGuard(const char* name, const std::string& value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvironmentGuard()
    {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Works in a folder for the life of the guard.
class WorkingFolderGuard
{
public:
    explicit WorkingFolderGuard(const std::string& folder)
    {
        char old[PATH_MAX];
        if (::getcwd(old, sizeof old)) {
            m_old = old;
        }
        m_changed = ::chdir(folder.c_str()) == 0;
    }
    ~WorkingFolderGuard()
    {
        if (!m_old.empty() && ::chdir(m_old.c_str()) != 0) {
            ADD_FAILURE() << "can't return to " << m_old;
        }
    }
    WorkingFolderGuard(const WorkingFolderGuard&) = delete;
    WorkingFolderGuard& operator=(const WorkingFolderGuard&) = delete;
    bool Changed() const { return m_changed; }

private:
    std::string m_old;
    bool m_changed = false;
};

class PosixFileSystemTest : public ::testing::Test
{
protected:
    TempFolder m_temp;
    PosixFileSystem m_fs;
};

// ---- Listing and attributes

TEST_F(PosixFileSystemTest, ListFolderAndGetAttributesReportEachKindOfEntry)
{
    enum class Kind { File, Folder, Fifo, Socket, Link };
    struct Row
    {
        const char* name;
        Kind kind;
        mode_t mode; // for files and folders
        const char* linkTarget;
        const char* flags;
    };
    const Row rows[] = {
        {"plain.txt", Kind::File, 0644, "", ""},
        {".hidden", Kind::File, 0644, "", "hidden"},
        {"readonly.txt", Kind::File, 0444, "", "readOnly"},
        {"others-may-write", Kind::File, 0577, "", "readOnly"},
        {"owner-write-only", Kind::File, 0200, "", ""},
        {".hidden-readonly", Kind::File, 0400, "", "hidden readOnly"},
        {"folder", Kind::Folder, 0755, "", "folder"},
        {".hidden-folder", Kind::Folder, 0755, "", "folder hidden"},
        {"readonly-folder", Kind::Folder, 0555, "", "folder readOnly"},
        {"fifo", Kind::Fifo, 0, "", "system special"},
        {".fifo", Kind::Fifo, 0, "", "system hidden special"},
        {"socket", Kind::Socket, 0, "", "system special"},
        {"link-to-file", Kind::Link, 0, "plain.txt", "link"},
        {".link-to-file", Kind::Link, 0, "plain.txt", "hidden link"},
        {"link-to-folder", Kind::Link, 0, "folder", "link"},
        {"link-to-fifo", Kind::Link, 0, "fifo", "link"},
        {"dangling", Kind::Link, 0, "missing", "link"},
        {"link-to-link", Kind::Link, 0, "link-to-file", "link"},
    };
    const std::string folder = m_temp / "list";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    for (const Row& row : rows) {
        std::string path = folder + "/" + row.name;
        switch (row.kind) {
        case Kind::File:
            WriteFile(path, row.name);
            Chmod(path, row.mode);
            break;
        case Kind::Folder:
            ASSERT_EQ(::mkdir(path.c_str(), row.mode), 0);
            Chmod(path, row.mode);
            break;
        case Kind::Fifo:
            MakeFifo(path);
            break;
        case Kind::Socket:
            MakeSocket(path);
            break;
        case Kind::Link:
            ASSERT_EQ(::symlink(row.linkTarget, path.c_str()), 0);
            break;
        }
    }

    std::vector<DirEntry> entries;
    ASSERT_TRUE(m_fs.ListFolder(folder + "/", entries));
    std::map<std::string, Attributes> listed;
    for (const DirEntry& entry : entries) {
        EXPECT_TRUE(listed.emplace(entry.name, entry.attributes).second) << "listed twice: " << entry.name;
    }
    EXPECT_EQ(listed.count("."), 0u);
    EXPECT_EQ(listed.count(".."), 0u);
    EXPECT_EQ(listed.size(), std::size(rows));

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = folder + "/" + row.name;
        struct stat info = Lstat(path);
        const FileId id{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
        auto found = listed.find(row.name);
        ASSERT_NE(found, listed.end());
        EXPECT_EQ(Flags(found->second), row.flags);
        EXPECT_TRUE(found->second.id == id);

        auto attributes = m_fs.GetAttributes(path);
        ASSERT_TRUE(attributes);
        EXPECT_EQ(Flags(*attributes), row.flags);
        EXPECT_TRUE(attributes->id == id);
    }
}

// Only a regular file named exactly as a copy names its temporary file counts as one, in both kinds
// of listing and for GetAttributes.
TEST_F(PosixFileSystemTest, KnowsTheTemporaryFilesOfCopiesByName)
{
    const struct
    {
        const char* name;
        const char* content; // a folder for nullptr
        bool temporary;
    } rows[] = {
        {".ostrel-4242-7", "half", true},
        {".ostrel-1-12345", "", true},
        {".ostrel-4242-7.tmp", "another name", false},
        {".ostrel-4242-", "x", false},
        {".ostrel--7", "x", false},
        {".ostrel-42a-7", "x", false},
        {".ostrel-12345678901-1", "x", false},
        {"ostrel-4242-7", "x", false},
        {"x.ostrel-4242-7", "x", false},
        {".ostrel-5-6", nullptr, false},
    };
    const std::string folder = m_temp / "list";
    for (const auto& row : rows) {
        if (row.content) {
            WriteFile(folder + "/" + row.name, row.content);
        } else {
            ASSERT_EQ(::mkdir((folder + "/" + row.name).c_str(), 0755), 0);
        }
    }
    ASSERT_EQ(::symlink(".ostrel-4242-7", (folder + "/.ostrel-8-9").c_str()), 0);
    for (ListDetail detail : {ListDetail::Full, ListDetail::Names}) {
        std::vector<DirEntry> entries;
        ASSERT_TRUE(m_fs.ListFolder(folder, entries, detail));
        std::map<std::string, bool> listed;
        for (const DirEntry& entry : entries) {
            listed[entry.name] = entry.attributes.temporary;
        }
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            ASSERT_EQ(listed.count(row.name), 1u);
            EXPECT_EQ(listed[row.name], row.temporary);
            EXPECT_EQ(m_fs.GetAttributes(folder + "/" + row.name)->temporary, row.temporary);
        }
        // A copy of a link is made as a link under a temporary name.
        EXPECT_TRUE(listed[".ostrel-8-9"]);
    }
}

TEST_F(PosixFileSystemTest, ListFolderFailsWhereThereIsNoFolderToList)
{
    MakeTree(m_temp.Path(), {{"file", "x"}, {"empty/", ""}, {"link@", "empty"}, {"dangling@", "missing"}});
    struct Row
    {
        const char* path;
        int error; // why it can't be listed; 0 when it can
    };
    const Row rows[] = {
        {"empty", 0},      {"empty/", 0},        {"link", 0},        {"missing", ENOENT},
        {"file", ENOTDIR}, {"dangling", ENOENT}, {"file/", ENOTDIR}, {"missing/deeper", ENOENT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        std::vector<DirEntry> entries;
        EXPECT_EQ(m_fs.ListFolder(m_temp / row.path, entries).Error().value(), row.error);
        EXPECT_TRUE(entries.empty());
        EXPECT_EQ(m_fs.CanListFolder(m_temp / row.path), row.error == 0);
    }
    for (const char* missing : {"missing", "missing/deeper"}) {
        std::error_code reason;
        EXPECT_FALSE(m_fs.GetAttributes(m_temp / missing, &reason));
        EXPECT_EQ(reason, std::errc::no_such_file_or_directory) << missing;
    }
}

TEST_F(PosixFileSystemTest, GetAttributesTakesPathsWithADelimiter)
{
    // Folder paths are kept with or without a trailing delimiter; both name the same entry, and a
    // link stays the link.
    MakeTree(m_temp.Path(), {{"folder/", ""}, {".hidden/", ""}, {"link@", "folder"}, {"file", "x"}});
    struct Row
    {
        std::string path;
        std::optional<std::string> flags;
    };
    const Row rows[] = {
        {m_temp / "folder", "folder"},       {m_temp / "folder/", "folder"},
        {m_temp / "folder//", "folder"},     {m_temp / ".hidden/", "folder hidden"},
        {m_temp / "link", "link"},           {m_temp / "link/", "link"},
        {m_temp.Path() + "/", "folder"},     {m_temp / "file/", std::nullopt},
        {m_temp / "missing/", std::nullopt}, {"", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        auto attributes = m_fs.GetAttributes(row.path);
        ASSERT_EQ(attributes.has_value(), row.flags.has_value());
        if (attributes) {
            EXPECT_EQ(Flags(*attributes), *row.flags);
        }
    }
    auto withDelimiter = m_fs.GetAttributes(m_temp / "folder/");
    ASSERT_TRUE(withDelimiter);
    EXPECT_TRUE(withDelimiter->id == m_fs.FolderId(m_temp / "folder"));

    // The root has no parent to be looked up in; its write bits depend on the machine.
    auto root = m_fs.GetAttributes("/");
    ASSERT_TRUE(root);
    EXPECT_TRUE(root->folder);
    EXPECT_FALSE(root->hidden);
    EXPECT_TRUE(root->id == m_fs.FolderId("/"));
}

TEST_F(PosixFileSystemTest, ListedFolderIdMatchesFolderIdOfItsPath)
{
    // The mirror recognises its own source and target inside a walk by these ids.
    MakeTree(m_temp.Path(), {{"outer/inner/", ""}, {"outer/link@", "inner"}});
    std::vector<DirEntry> entries;
    ASSERT_TRUE(m_fs.ListFolder(m_temp / "outer", entries));
    std::map<std::string, FileId> ids;
    for (const DirEntry& entry : entries) {
        ids[entry.name] = entry.attributes.id;
    }
    auto inner = m_fs.FolderId(m_temp / "outer/inner");
    ASSERT_TRUE(inner);
    EXPECT_TRUE(ids["inner"] == *inner);
    EXPECT_FALSE(ids["link"] == *inner); // the link's own entry, not the folder behind it
}

// ---- File times

TEST_F(PosixFileSystemTest, ToDosTimePacksLocalDateAndTime)
{
    struct Row
    {
        const char* local;
        long nanoseconds;
        DosTime dos;
    };
    const Row rows[] = {
        {"1980-01-01 00:00:00", 0, 0x00210000},         {"1980-01-01 00:00:01", 999999999, 0x00210000},
        {"1999-12-31 23:59:59", 0, 0x279FBF7D},         {"2000-06-15 09:05:03", 0, 0x28CF48A1},
        {"2024-02-29 13:45:58", 500000000, 0x585D6DBD}, {"2038-01-19 12:14:08", 0, 0x743361C4},
        {"2107-12-31 23:59:59", 0, 0xFF9FBF7D},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.local);
        const DosTime dos = ToDosTime({At(row.local, row.nanoseconds).tv_sec, 0, false});
        EXPECT_EQ(dos, row.dos) << std::hex << dos;
    }
}

TEST_F(PosixFileSystemTest, ToDosTimeClampsOutsideItsRange)
{
    // The log shows what MS-DOS times can hold; the file keeps its own time.
    constexpr DosTime kFirst = 0x00210000; // 1980/01/01 0:00:00
    constexpr DosTime kLast = 0xFF9FBF7D; // 2107/12/31 23:59:58
    struct Row
    {
        const char* what;
        timespec time;
        DosTime dos;
    };
    const Row rows[] = {
        {"last second of 1979", At("1979-12-31 23:59:59"), kFirst},
        {"first second of 2108", At("2108-01-01 00:00:00"), kLast},
        {"epoch", {0, 0}, kFirst},
        {"before the epoch", {-86400 * 365, 0}, kFirst},
        {"beyond what local time can hold", {std::numeric_limits<time_t>::max(), 0}, kLast},
        {"far before the epoch", {std::numeric_limits<time_t>::min(), 0}, kFirst},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(ToDosTime({row.time.tv_sec, 0, false}), row.dos);
    }
}

TEST_F(PosixFileSystemTest, ToDosTimeOrdersAsTheTimesDo)
{
    const char* const times[] = {
        "1980-01-01 00:00:00", "1980-01-01 00:00:02", "1980-01-01 00:01:00", "1980-01-01 01:00:00",
        "1980-01-02 00:00:00", "1980-02-01 00:00:00", "1981-01-01 00:00:00", "2023-12-31 23:59:58",
        "2024-01-01 00:00:00", "2024-01-01 00:00:02", "2107-12-31 23:59:58",
    };
    std::optional<DosTime> previous;
    for (const char* time : times) {
        SCOPED_TRACE(time);
        std::optional<DosTime> dos = ToDosTime({At(time).tv_sec, 0, false});
        if (previous) {
            EXPECT_GT(*dos, *previous);
        }
        previous = dos;
    }
}

TEST_F(PosixFileSystemTest, ReadFileTimeOfEachKindOfEntry)
{
    MakeTree(m_temp.Path(),
             {
                 {"file", "x"},
                 {"odd-second", "x"},
                 {"folder/", ""},
                 {"old", "x"},
                 {"future", "x"},
                 {"link-to-file@", "file"},
                 {"link-to-folder@", "folder"},
                 {"dangling@", "missing"},
             });
    SetTime(m_temp / "file", "2024-02-29 13:45:58");
    SetTime(m_temp / "odd-second", "2024-02-29 13:45:59");
    SetTime(m_temp / "old", "1979-12-31 23:59:59");
    SetTime(m_temp / "future", "2108-01-01 00:00:00");
    // The link's own time differs, so reading it instead of the file's would show.
    SetTime(m_temp / "link-to-file", "2001-01-01 00:00:00");
    SetTime(m_temp / "folder", "2024-02-29 13:45:58");

    struct Row
    {
        const char* path;
        std::optional<DosTime> time;
    };
    // A link has a time of its own, whatever it points to; it is never followed.
    SetTime(m_temp / "link-to-folder", "2001-01-01 00:00:00");
    SetTime(m_temp / "dangling", "2001-01-01 00:00:00");
    const DosTime linkTime = 0x2A210000;
    const Row rows[] = {
        {"file", 0x585D6DBD},     {"odd-second", 0x585D6DBD}, {"link-to-file", linkTime},
        {"folder", std::nullopt}, {"folder/", std::nullopt},  {"link-to-folder", linkTime},
        {"dangling", linkTime},   {"missing", std::nullopt},  {"old", 0x00210000},
        {"future", 0xFF9FBF7D},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        auto time = m_fs.ReadFileTime(m_temp / row.path);
        EXPECT_EQ(time ? std::optional<DosTime>(ToDosTime(*time)) : std::nullopt, row.time);
    }
}

TEST_F(PosixFileSystemTest, ReadFileTimeKeepsTwoSecondSteps)
{
    struct Row
    {
        const char* earlier;
        const char* later;
        bool same;
    };
    const Row rows[] = {
        {"2020-05-05 10:10:10", "2020-05-05 10:10:11", true},
        {"2020-05-05 10:10:11", "2020-05-05 10:10:12", false},
        {"2020-05-05 10:10:59", "2020-05-05 10:11:00", false},
        {"2020-12-31 23:59:59", "2021-01-01 00:00:00", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.earlier) + " / " + row.later);
        WriteFile(m_temp / "a", "a");
        WriteFile(m_temp / "b", "b");
        SetTime(m_temp / "a", row.earlier);
        SetTime(m_temp / "b", row.later);
        auto a = m_fs.ReadFileTime(m_temp / "a");
        auto b = m_fs.ReadFileTime(m_temp / "b");
        ASSERT_TRUE(a && b);
        EXPECT_EQ(CompareFileTimes(*a, *b), row.same ? 0 : -1);
    }
}

// FAT keeps local times: where one side is on FAT, the local form decides, even in the hour that
// repeats when clocks go back; elsewhere the instants do.
TEST_F(PosixFileSystemTest, CompareFileTimesGoesByLocalFormOnlyOnFat)
{
    const char* old = std::getenv("TZ");
    const std::optional<std::string> oldZone = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    // 2026-10-25 02:45 summer time (00:45 UTC), then 02:30 winter time (01:30 UTC).
    const std::int64_t summer = 1792889100;
    const std::int64_t winter = summer + 45 * 60;
    struct Row
    {
        bool fatSource;
        bool fatTarget;
        int order; // of the later instant against the earlier one
    };
    const Row rows[] = {{false, false, 1}, {true, false, -1}, {false, true, -1}, {true, true, -1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.fatSource << row.fatTarget);
        EXPECT_EQ(CompareFileTimes({winter, 1, row.fatSource}, {summer, 1, row.fatTarget}), row.order);
        EXPECT_EQ(CompareFileTimes({summer, 1, row.fatSource}, {winter, 1, row.fatTarget}), -row.order);
        EXPECT_EQ(CompareFileTimes({winter + 1, 1, row.fatSource}, {winter, 1, row.fatTarget}), 0);
    }
    if (oldZone) {
        ::setenv("TZ", oldZone->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

// ---- Copying

TEST_F(PosixFileSystemTest, CopyFileReplacesOnlyWhatItMay)
{
    struct Row
    {
        const char* what;
        Tree before;
        const char* source;
        const char* target;
        const char* readOnly; // made read-only before the copy; empty for none
        bool copied;
        Tree after;
        const char* readOnlyToo = ""; // a second one
    };
    const Row rows[] = {
        {"new file", {{"src", "new"}}, "src", "dst", "", true, {{"src", "new"}, {"dst", "new"}}},
        {"longer old target is cut to the new content",
         {{"src", "new"}, {"dst", "old and longer"}},
         "src",
         "dst",
         "",
         true,
         {{"src", "new"}, {"dst", "new"}}},
        {"empty source empties the target",
         {{"src", ""}, {"dst", "old"}},
         "src",
         "dst",
         "",
         true,
         {{"src", ""}, {"dst", ""}}},
        {"into a sub folder",
         {{"src", "new"}, {"sub/", ""}},
         "src",
         "sub/dst",
         "",
         true,
         {{"src", "new"}, {"sub/", ""}, {"sub/dst", "new"}}},
        {"onto itself", {{"src", "data"}}, "src", "src", "", true, {{"src", "data"}}},
        {"read-only target",
         {{"src", "new"}, {"dst", "old"}},
         "src",
         "dst",
         "dst",
         false,
         {{"src", "new"}, {"dst", "old"}}},
        {"read-only target of a read-only source: the bit came from the source",
         {{"src", "new"}, {"dst", "old"}},
         "src",
         "dst",
         "dst",
         true,
         {{"src", "new"}, {"dst", "new"}},
         "src"},
        {"target is a folder",
         {{"src", "new"}, {"dst/", ""}, {"dst/a", "x"}},
         "src",
         "dst",
         "",
         false,
         {{"src", "new"}, {"dst/", ""}, {"dst/a", "x"}}},
        {"target folder missing", {{"src", "new"}}, "src", "none/dst", "", false, {{"src", "new"}}},
        {"source missing", {{"dst", "old"}}, "src", "dst", "", false, {{"dst", "old"}}},
        {"source is a folder",
         {{"src/", ""}, {"dst", "old"}},
         "src",
         "dst",
         "",
         false,
         {{"src/", ""}, {"dst", "old"}}},
        {"source is a dangling link: copied as a link",
         {{"src@", "missing"}, {"dst", "old"}},
         "src",
         "dst",
         "",
         true,
         {{"src@", "missing"}, {"dst@", "missing"}}},
        {"source is a link to a file: copied as a link, never as the file's content",
         {{"file", "data"}, {"src@", "file"}},
         "src",
         "dst",
         "",
         true,
         {{"file", "data"}, {"src@", "file"}, {"dst@", "file"}}},
        {"source is a link, target a folder",
         {{"src@", "x"}, {"dst/", ""}},
         "src",
         "dst",
         "",
         false,
         {{"src@", "x"}, {"dst/", ""}}},
        {"target is a link to a file",
         {{"src", "new"}, {"file", "old"}, {"dst@", "file"}},
         "src",
         "dst",
         "",
         true,
         {{"src", "new"}, {"file", "old"}, {"dst", "new"}}},
        {"target is a link to a read-only file",
         {{"src", "new"}, {"file", "old"}, {"dst@", "file"}},
         "src",
         "dst",
         "file",
         true,
         {{"src", "new"}, {"file", "old"}, {"dst", "new"}}},
        {"target is a dangling link",
         {{"src", "new"}, {"dst@", "missing"}},
         "src",
         "dst",
         "",
         true,
         {{"src", "new"}, {"dst", "new"}}},
        {"target is a link to a folder",
         {{"src", "new"}, {"folder/", ""}, {"dst@", "folder"}},
         "src",
         "dst",
         "",
         true,
         {{"src", "new"}, {"folder/", ""}, {"dst", "new"}}},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = m_temp / std::to_string(index++);
        MakeTree(folder, row.before);
        for (const char* readOnly : {row.readOnly, row.readOnlyToo}) {
            if (*readOnly) {
                Chmod(folder + "/" + readOnly, 0444);
            }
        }
        const FsResult copied = m_fs.CopyFile(folder + "/" + row.source, folder + "/" + row.target);
        EXPECT_EQ(static_cast<bool>(copied), row.copied);
        if (!row.copied) {
            EXPECT_TRUE(copied.Error()) << "a failure without its reason";
        }
        // Leftover temporary files would show in the tree too.
        EXPECT_EQ(ReadTree(folder), row.after);
        if (*row.readOnly) {
            EXPECT_EQ(ModeOf(folder + "/" + row.readOnly), 0444u);
        }
        if (row.copied) {
            struct stat info = Lstat(folder + "/" + row.target);
            EXPECT_EQ(S_ISLNK(info.st_mode), S_ISLNK(Lstat(folder + "/" + row.source).st_mode));
        }
    }
}

TEST_F(PosixFileSystemTest, CopyFileCarriesPermissionsAndTime)
{
    struct Row
    {
        mode_t mode;
        const char* local;
        long nanoseconds;
    };
    const Row rows[] = {
        {0644, "2024-02-29 13:45:59", 123456789}, {0600, "1980-01-01 00:00:00", 0},
        {0755, "2107-12-31 23:59:59", 999999999}, {0640, "2001-09-09 10:46:40", 1},
        {0444, "2010-10-10 10:10:10", 500000000}, {0700, "1975-06-01 12:00:00", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::oct << row.mode << " " << row.local);
        const std::string source = m_temp / "source";
        const std::string target = m_temp / "target";
        RemoveTree(target);
        WriteFile(target, "old content");
        Chmod(target, 0666);
        WriteFile(source, "content");
        Chmod(source, row.mode);
        SetTimeExact(source, At(row.local, row.nanoseconds));

        ASSERT_TRUE(m_fs.CopyFile(source, target));
        struct stat info = Lstat(target);
        EXPECT_EQ(info.st_mode & 07777, row.mode);
        EXPECT_EQ(info.st_mtim.tv_sec, static_cast<time_t>(LocalSeconds(row.local)));
        EXPECT_EQ(info.st_mtim.tv_nsec, row.nanoseconds);
        EXPECT_EQ(m_fs.ReadFileTime(target), m_fs.ReadFileTime(source));
        EXPECT_EQ(ReadFile(target), "content");
        RemoveTree(source);
    }
}

TEST_F(PosixFileSystemTest, CopyFileCopiesEveryBlockOfALargeFile)
{
    const std::string content = Pattern(3 * kMiB + 4321);
    WriteFile(m_temp / "big", content);
    WriteFile(m_temp / "copy", Pattern(5 * kMiB)); // a longer old target must not leave a tail
    ASSERT_TRUE(m_fs.CopyFile(m_temp / "big", m_temp / "copy"));
    const std::string copied = ReadFile(m_temp / "copy");
    EXPECT_EQ(copied.size(), content.size());
    EXPECT_TRUE(copied == content);
    EXPECT_EQ(NamesIn(m_temp.Path()), (std::set<std::string>{"big", "copy"}));
}

TEST_F(PosixFileSystemTest, CopyFileRefusesAFifoWithoutBlocking)
{
    MakeTree(m_temp.Path(), {{"in/", ""}, {"out/", ""}});
    const std::string fifo = m_temp / "in/fifo";
    MakeFifo(fifo);
    auto copy = std::async(std::launch::async, [&] { return m_fs.CopyFile(fifo, m_temp / "out/fifo"); });
    if (copy.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Give the blocked reader an end of data, so the test fails instead of hanging.
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
        }
        copy.wait();
        FAIL() << "CopyFile blocked on a FIFO";
    }
    EXPECT_FALSE(copy.get());
    EXPECT_EQ(ReadTree(m_temp / "out"), Tree{});
}

TEST_F(PosixFileSystemTest, NamesPassThroughAsTheyAre)
{
    const std::string names[] = {
        "with blank.txt",
        " leading and trailing blank ",
        "it's \"quoted\"",
        "-leading-dash",
        "--",
        "line\nbreak",
        "tab\there",
        "$(echo x) `y` *?[z]",
        "back\\slash",
        "日本語の名前.txt",
        "\xff\xfe not UTF-8",
        std::string(255, 'n'),
        [] {
            std::string name;
            for (int i = 0; i < 85; ++i) {
                name += "名"; // 3 bytes each: 255 bytes
            }
            return name;
        }(),
    };
    MakeTree(m_temp.Path(), {{"src/", ""}, {"dst/", ""}});
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string source = m_temp / "src/" + name;
        const std::string target = m_temp / "dst/" + name;
        WriteFile(source, "content of " + name);
        SetTime(source, "2020-02-02 02:02:02");

        ASSERT_TRUE(m_fs.CopyFile(source, target));
        EXPECT_EQ(ReadTree(m_temp / "dst"), (Tree{{name, "content of " + name}}));
        std::vector<DirEntry> entries;
        ASSERT_TRUE(m_fs.ListFolder(m_temp / "dst", entries));
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, name);
        EXPECT_EQ(Flags(entries[0].attributes), name[0] == '.' ? "hidden" : "");
        EXPECT_EQ(Seconds(m_fs, target), At("2020-02-02 02:02:02").tv_sec);
        ASSERT_TRUE(m_fs.GetAttributes(target));

        EXPECT_TRUE(m_fs.DeleteFile(target));
        EXPECT_TRUE(m_fs.DeleteFile(source));
        EXPECT_EQ(ReadTree(m_temp.Path()), (Tree{{"src/", ""}, {"dst/", ""}}));
    }
}

TEST_F(PosixFileSystemTest, FailedWriteLeavesTheOldTargetAndNoTemporaryFile)
{
    // Larger than one copy block, so the failure comes with a partly written temporary file.
    const std::string content = Pattern(2 * kMiB + 100);
    WriteFile(m_temp / "source", content);
    WriteFile(m_temp / "target", "old content");
    Chmod(m_temp / "target", 0640);
    SetTime(m_temp / "target", "2001-01-01 01:01:01");

    FaultyFileSystem fs;
    fs.Fail(FsCall::CopyWrite, m_temp / "target", ENOSPC);
    EXPECT_EQ(fs.CopyFile(m_temp / "source", m_temp / "target").Error(), std::errc::no_space_on_device);
    EXPECT_EQ(fs.Calls(FsCall::CopyWrite), 1);

    EXPECT_EQ(NamesIn(m_temp.Path()), (std::set<std::string>{"source", "target"}));
    EXPECT_EQ(ReadFile(m_temp / "target"), "old content");
    EXPECT_EQ(ModeOf(m_temp / "target"), 0640u);
    EXPECT_EQ(Seconds(fs, m_temp / "target"), At("2001-01-01 01:01:01").tv_sec);
}

// A target found missing is written without a name and named when complete. Should one have
// appeared meanwhile, it is not replaced unseen; a failure halfway leaves nothing at all.
TEST_F(PosixFileSystemTest, ATargetFoundMissingIsNamedOnlyWhenCompleteAndNeverReplaced)
{
    const std::string content = Pattern(2 * kMiB + 100);
    WriteFile(m_temp / "source", content);
    SetTime(m_temp / "source", "2002-02-02 02:02:02");

    ASSERT_TRUE(m_fs.CopyFile(m_temp / "source", m_temp / "new", true));
    EXPECT_EQ(ReadFile(m_temp / "new"), content);
    EXPECT_EQ(Seconds(m_fs, m_temp / "new"), At("2002-02-02 02:02:02").tv_sec);

    WriteFile(m_temp / "appeared", "written meanwhile");
    EXPECT_EQ(m_fs.CopyFile(m_temp / "source", m_temp / "appeared", true).Error(), std::errc::file_exists);
    EXPECT_EQ(ReadFile(m_temp / "appeared"), "written meanwhile");

    for (FsCall call : {FsCall::CopyWrite, FsCall::CopyRename}) {
        FaultyFileSystem fs;
        fs.Fail(call, m_temp / "failed", ENOSPC);
        EXPECT_FALSE(fs.CopyFile(m_temp / "source", m_temp / "failed", true));
    }
    EXPECT_EQ(NamesIn(m_temp.Path()), (std::set<std::string>{"source", "new", "appeared"}));
}

TEST_F(PosixFileSystemTest, FullDiskLeavesTheOldTargetAndNoTemporaryFile)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    const std::string disk = m_temp / "disk";
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    TmpfsMount mount(disk, "1m");
    if (!mount.Mounted() && mount.Error() == EPERM) {
        GTEST_SKIP() << "not allowed to mount here";
    }
    ASSERT_TRUE(mount.Mounted()) << std::strerror(mount.Error());

    WriteFile(disk + "/target", "old content");
    SetTime(disk + "/target", "2001-01-01 01:01:01");
    const std::string content = Pattern(2 * kMiB);
    WriteFile(m_temp / "source", content);

    EXPECT_EQ(m_fs.CopyFile(m_temp / "source", disk + "/target").Error(), std::errc::no_space_on_device);
    EXPECT_EQ(ReadTree(disk), (Tree{{"target", "old content"}}));
    EXPECT_EQ(Seconds(m_fs, disk + "/target"), At("2001-01-01 01:01:01").tv_sec);

    // The space the temporary file took is given back: a copy that fits goes through.
    WriteFile(m_temp / "small", Pattern(512 * 1024));
    EXPECT_EQ(m_fs.CopyFile(m_temp / "small", disk + "/target").Error(), std::error_code());
}

// A killed run leaves the temporary file of the copy it was making. The next copy into that folder
// removes what ended processes left, once per pass, and keeps what a living process may be writing.
TEST_F(PosixFileSystemTest, ACopyRemovesTheTemporaryFilesThatEndedProcessesLeftInItsFolder)
{
    const std::string ended = EndedProcessId();
    // A file of this process's own id may be the copy another of its threads is making.
    const std::string own = std::to_string(::getpid());
    const std::string living = std::to_string(::getppid());
    WriteFile(m_temp / "src/a", "content");
    const Tree planted = {
        {".ostrel-" + ended + "-3", "half"},
        {".ostrel-" + own + "-999", "half"},
        {".ostrel-" + living + "-1", "being written"},
        {".ostrel-" + ended + "-3.tmp", "not a name of ours"},
        {".ostrel-" + ended + "-4/", ""},
        {"other/.ostrel-" + ended + "-5", "in a folder no copy goes to"},
    };
    MakeTree(m_temp / "dst", planted);

    ASSERT_TRUE(m_fs.CopyFile(m_temp / "src/a", m_temp / "dst/a"));
    Tree expected = planted;
    expected.erase(".ostrel-" + ended + "-3");
    expected["other/"] = "";
    expected["a"] = "content";
    EXPECT_EQ(ReadTree(m_temp / "dst"), expected);

    // Looked at once per pass: a later leftover waits for the next pass.
    WriteFile(m_temp / "dst/.ostrel-" + ended + "-6", "");
    ASSERT_TRUE(m_fs.CopyFile(m_temp / "src/a", m_temp / "dst/b"));
    EXPECT_EQ(ReadTree(m_temp / "dst").count(".ostrel-" + ended + "-6"), 1u);
    m_fs.Refresh();
    ASSERT_TRUE(m_fs.CopyFile(m_temp / "src/a", m_temp / "dst/b"));
    EXPECT_EQ(ReadTree(m_temp / "dst").count(".ostrel-" + ended + "-6"), 0u);
}

// ---- Deleting, folders, read-only

TEST_F(PosixFileSystemTest, DeleteFileRemovesFilesAndLinksOnly)
{
    struct Row
    {
        const char* what;
        Tree before;
        const char* path;
        const char* readOnly;
        bool deleted;
        Tree after;
    };
    const Row rows[] = {
        {"file", {{"file", "x"}, {"other", "y"}}, "file", "", true, {{"other", "y"}}},
        {"hidden file", {{".file", "x"}}, ".file", "", true, {}},
        {"read-only file", {{"file", "x"}}, "file", "file", true, {}},
        {"folder", {{"folder/", ""}}, "folder", "", false, {{"folder/", ""}}},
        {"missing", {{"file", "x"}}, "missing", "", false, {{"file", "x"}}},
        {"link to a file", {{"file", "x"}, {"link@", "file"}}, "link", "", true, {{"file", "x"}}},
        {"link to a read-only file",
         {{"file", "x"}, {"link@", "file"}},
         "link",
         "file",
         true,
         {{"file", "x"}}},
        {"link to a folder",
         {{"folder/", ""}, {"folder/a", "x"}, {"link@", "folder"}},
         "link",
         "",
         true,
         {{"folder/", ""}, {"folder/a", "x"}}},
        {"dangling link", {{"link@", "missing"}}, "link", "", true, {}},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = m_temp / std::to_string(index++);
        MakeTree(folder, row.before);
        if (*row.readOnly) {
            Chmod(folder + "/" + row.readOnly, 0444);
        }
        EXPECT_EQ(static_cast<bool>(m_fs.DeleteFile(folder + "/" + row.path)), row.deleted);
        EXPECT_EQ(ReadTree(folder), row.after);
    }
}

TEST_F(PosixFileSystemTest, SpecialFilesAreNeverDeletedOpenedOrReplaced)
{
    MakeFifo(m_temp / "fifo");
    MakeSocket(m_temp / "socket");
    WriteFile(m_temp / "file", "data");
    const Tree before = ReadTree(m_temp.Path());
    for (const char* name : {"fifo", "socket"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(m_fs.DeleteFile(m_temp / name));
        EXPECT_FALSE(m_fs.ReadFileTime(m_temp / name));
        EXPECT_FALSE(m_fs.CopyFile(m_temp / "file", m_temp / name));
        EXPECT_FALSE(m_fs.CopyFile(m_temp / name, m_temp / "copy"));
    }
    EXPECT_EQ(ReadTree(m_temp.Path()), before);
}

TEST_F(PosixFileSystemTest, CreateFolderMakesOneFolder)
{
    MakeTree(m_temp.Path(), {{"existing/", ""}, {"file", "x"}, {"link@", "existing"}});
    struct Row
    {
        const char* path;
        int error; // why it is not made; 0 when it is
    };
    const Row rows[] = {
        {"new", 0}, {"existing", EEXIST}, {"file", EEXIST}, {"link", EEXIST}, {"missing/new", ENOENT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(m_fs.CreateFolder(m_temp / row.path).Error().value(), row.error);
    }
    EXPECT_EQ(ReadTree(m_temp.Path()),
              (Tree{{"new/", ""}, {"existing/", ""}, {"file", "x"}, {"link@", "existing"}}));
}

// A rename within one folder, of the entry itself (a link as a link), that never replaces another
// entry: a case-only rename must not be able to swallow a file that only looked like its twin.
TEST_F(PosixFileSystemTest, RenameEntryRenamesOneEntryAndReplacesNothing)
{
    const Tree before = {{"Thesis.txt", "t"}, {"Dir/", ""}, {"Dir/in", "i"},
                         {"Link@", "Dir"},    {"a", "a"},   {"b", "b"}};
    MakeTree(m_temp.Path(), before);
    const ino_t thesis = Lstat(m_temp / "Thesis.txt").st_ino;
    struct Row
    {
        const char* path;
        const char* newName;
        bool renamed;
    };
    const Row rows[] = {
        {"Thesis.txt", "thesis.txt", true},
        {"Dir", "dir", true},
        {"Link", "link", true},
        {"a", "b", false},
        {"b", "x/y", false},
        {"b", "..", false},
        {"missing", "m", false},
        {"dir/in", "in", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.path) + " -> " + row.newName);
        EXPECT_EQ(static_cast<bool>(m_fs.RenameEntry(m_temp / row.path, row.newName)), row.renamed);
    }
    EXPECT_EQ(
        ReadTree(m_temp.Path()),
        (Tree{{"thesis.txt", "t"}, {"dir/", ""}, {"dir/in", "i"}, {"link@", "Dir"}, {"a", "a"}, {"b", "b"}}));
    EXPECT_EQ(Lstat(m_temp / "thesis.txt").st_ino, thesis);
}

// Whether names fold is known from the kind of file system where it can be, and found out with a
// look-up in other case where it can't (FUSE drivers); a probe entry is made only when allowed.
TEST_F(PosixFileSystemTest, FoldsCaseAsTheFileSystemDoes)
{
    MakeTree(m_temp.Path(), {{"Name", "n"}});
    EXPECT_FALSE(m_fs.FoldsCase(m_temp.Path()));
    EXPECT_FALSE(m_fs.FoldsCase(m_temp / "missing"));
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a loop device needs root";
    }
    const std::string image = m_temp / "stick.img";
    const std::string stick = m_temp / "stick";
    MakeTree(stick, {});
    std::string output;
    if (!MakeImage(image, "exfat", 16, output)) {
        GTEST_SKIP() << "no mkfs.exfat (exfatprogs): " << output;
    }
    FuseExfatDrive drive(image, stick);
    if (!drive.Mounted()) {
        GTEST_SKIP() << "no FUSE exFAT driver (exfat-fuse) or loop device: " << drive.Output();
    }
    EXPECT_FALSE(m_fs.FoldsCase(stick, false)) << "an empty folder tells nothing without a probe";
    EXPECT_TRUE(m_fs.FoldsCase(stick, true));
    EXPECT_EQ(ReadTree(stick), Tree{});
    m_fs.Refresh();
    WriteFile(stick + "/Photo.JPG", "p");
    EXPECT_TRUE(m_fs.FoldsCase(stick, false));
    EXPECT_TRUE(m_fs.FoldsCase(stick + "/not/made/yet", false));
}

TEST_F(PosixFileSystemTest, RemoveFolderRemovesOnlyAnEmptyFolder)
{
    struct Row
    {
        const char* what;
        Tree before;
        const char* path;
        bool removed;
        Tree after;
    };
    const Row rows[] = {
        {"empty folder", {{"folder/", ""}}, "folder", true, {}},
        {"empty folder with delimiter", {{"folder/", ""}}, "folder/", true, {}},
        {"folder with a file", {{"folder/a", "x"}}, "folder", false, {{"folder/", ""}, {"folder/a", "x"}}},
        {"folder with a folder",
         {{"folder/sub/", ""}},
         "folder",
         false,
         {{"folder/", ""}, {"folder/sub/", ""}}},
        {"file", {{"file", "x"}}, "file", false, {{"file", "x"}}},
        {"link to an empty folder",
         {{"folder/", ""}, {"link@", "folder"}},
         "link",
         false,
         {{"folder/", ""}, {"link@", "folder"}}},
        {"missing", {}, "missing", false, {}},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = m_temp / std::to_string(index++);
        MakeTree(folder, row.before);
        EXPECT_EQ(static_cast<bool>(m_fs.RemoveFolder(folder + "/" + row.path)), row.removed);
        EXPECT_EQ(ReadTree(folder), row.after);
    }
}

TEST_F(PosixFileSystemTest, IsFolderDoesNotFollowLinks)
{
    MakeTree(m_temp.Path(),
             {{"folder/", ""},
              {"file", "x"},
              {"link@", "folder"},
              {"file-link@", "file"},
              {"dangling@", "missing"}});
    struct Row
    {
        std::string path;
        bool folder;
    };
    const Row rows[] = {
        {m_temp / "folder", true},   {m_temp / "folder/", true},    {m_temp / "folder//", true},
        {m_temp / "link", false},    {m_temp / "link/", false},     {m_temp / "link//", false},
        {m_temp / "file", false},    {m_temp / "file-link", false}, {m_temp / "dangling", false},
        {m_temp / "missing", false}, {m_temp / "missing/", false},  {"/", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(m_fs.IsFolder(row.path), row.folder);
    }
}

TEST_F(PosixFileSystemTest, FolderIdFollowsLinks)
{
    MakeTree(m_temp.Path(),
             {{"a/", ""},
              {"b/", ""},
              {"file", "x"},
              {"link@", "a"},
              {"file-link@", "file"},
              {"dangling@", "missing"}});
    auto a = m_fs.FolderId(m_temp / "a");
    auto b = m_fs.FolderId(m_temp / "b");
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(*a == *b);
    for (const char* path : {"a/", "link", "link/", "b/../a"}) {
        SCOPED_TRACE(path);
        auto id = m_fs.FolderId(m_temp / path);
        ASSERT_TRUE(id);
        EXPECT_TRUE(*id == *a);
    }
    for (const char* path : {"file", "file-link", "dangling", "missing"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(m_fs.FolderId(m_temp / path));
    }
}

TEST_F(PosixFileSystemTest, SetReadOnlyChangesOnlyTheWriteBits)
{
    struct Row
    {
        mode_t before;
        bool readOnly;
        mode_t after;
    };
    const Row rows[] = {
        {0644, true, 0444},  {0666, true, 0444},  {0755, true, 0555},   {0600, true, 0400},
        {0444, true, 0444},  {0444, false, 0644}, {0555, false, 0755},  {0404, false, 0604},
        {0644, false, 0644}, {0464, false, 0664}, {04755, true, 04555}, {0000, false, 0200},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::oct << row.before << (row.readOnly ? " set" : " clear"));
        const std::string path = m_temp / "file";
        WriteFile(path, "x");
        Chmod(path, row.before);
        EXPECT_TRUE(m_fs.SetReadOnly(path, row.readOnly));
        EXPECT_EQ(ModeOf(path), row.after);
        auto attributes = m_fs.GetAttributes(path);
        ASSERT_TRUE(attributes);
        EXPECT_EQ(attributes->readOnly, row.readOnly);
        RemoveTree(path);
    }
}

TEST_F(PosixFileSystemTest, SetReadOnlyRefusesALinkAndLeavesWhatItPointsTo)
{
    MakeTree(m_temp.Path(), {{"file", "x"}, {"link@", "file"}});
    Chmod(m_temp / "file", 0644);
    EXPECT_EQ(m_fs.SetReadOnly(m_temp / "link", true).Error(), std::errc::operation_not_permitted);
    EXPECT_EQ(ModeOf(m_temp / "file"), 0644u);
    Chmod(m_temp / "file", 0444);
    EXPECT_FALSE(m_fs.SetReadOnly(m_temp / "link", false));
    EXPECT_EQ(ModeOf(m_temp / "file"), 0444u);
    EXPECT_EQ(m_fs.SetReadOnly(m_temp / "missing", true).Error(), std::errc::no_such_file_or_directory);
}

// ---- Trash

TEST_F(PosixFileSystemTest, MoveToTrashUsesTheHomeTrashAndLeavesNothingBeside)
{
    // Both the home folder and the data folder live in the test's folder, so the home trash is the
    // one used and lies on the same file system as the entries. The data folder does not exist yet.
    const std::string dataHome = m_temp / "home/data";
    EnvironmentGuard home("HOME", m_temp / "home");
    EnvironmentGuard data("XDG_DATA_HOME", dataHome);
    const std::string work = m_temp / "work";
    MakeTree(work,
             {{"file.txt", "file content"},
              {"folder/a", "a"},
              {"folder/sub/b", "b"},
              {"keep", "k"},
              {"link@", "keep"},
              {"keepdir/x", "x"},
              {"dirlink@", "keepdir"}});
    // Where the trash can't be set up, the entries of a trash appear in the working folder.
    WorkingFolderGuard inWork(work);
    ASSERT_TRUE(inWork.Changed());

    EXPECT_TRUE(m_fs.MoveToTrash(work + "/file.txt"));
    EXPECT_TRUE(m_fs.MoveToTrash(work + "/folder"));
    EXPECT_TRUE(m_fs.MoveToTrash(work + "/link"));
    EXPECT_TRUE(m_fs.MoveToTrash(work + "/dirlink"));
    EXPECT_FALSE(m_fs.MoveToTrash(work + "/missing"));

    // Links go as links; what they point to stays.
    EXPECT_EQ(ReadTree(work), (Tree{{"keep", "k"}, {"keepdir/", ""}, {"keepdir/x", "x"}}));
    EXPECT_EQ(ReadTree(dataHome + "/Trash/files"),
              (Tree{{"file.txt", "file content"},
                    {"folder/", ""},
                    {"folder/a", "a"},
                    {"folder/sub/", ""},
                    {"folder/sub/b", "b"},
                    {"link@", "keep"},
                    {"dirlink@", "keepdir"}}));
    const Tree info = ReadTree(dataHome + "/Trash/info");
    EXPECT_EQ(NamesIn(dataHome + "/Trash/info"),
              (std::set<std::string>{"file.txt.trashinfo", "folder.trashinfo", "link.trashinfo",
                                     "dirlink.trashinfo"}));
    for (const char* name : {"file.txt", "folder", "link", "dirlink"}) {
        SCOPED_TRACE(name);
        auto found = info.find(std::string(name) + ".trashinfo");
        ASSERT_NE(found, info.end());
        EXPECT_NE(found->second.find("[Trash Info]"), std::string::npos);
        EXPECT_NE(found->second.find("\nPath=" + work + "/" + name + "\n"), std::string::npos)
            << found->second;
    }
    EXPECT_EQ(ModeOf(dataHome + "/Trash") & 077, 0u);
}

} // namespace
} // namespace ostrel::test
