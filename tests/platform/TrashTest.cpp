#include "platform/Trash.h"
#include "Programs.h"
#include "TestTree.h"
#include "TmpfsMount.h"
#include "platform/FdGuard.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ostrel::test {
namespace {

bool HaveClients()
{
    return RunProgram({"trash-list", "--version"}, "/", {}).status == 0
        && RunProgram({"gio", "version"}, "/", {}).status == 0;
}

const std::string kClientsMissing = "trash-cli or gio is missing: run scripts/deps.sh";

// Every entry is trashed at this moment; trash-list prints it with a blank for the "T".
const char* const kDeletionDate = "2001-02-03T04:05:06";
const char* const kListedDate = "2001-02-03 04:05:06";

TrashSetup SetupFor(const std::string& homeTrash, const std::string& topFolder = "")
{
    TrashSetup setup;
    setup.homeTrash = homeTrash;
    setup.uid = ::getuid();
    setup.now = [] { return static_cast<std::time_t>(LocalSeconds("2001-02-03 04:05:06")); };
    setup.topFolder = topFolder;
    return setup;
}

std::string InfoFile(const std::string& recordedPath)
{
    return "[Trash Info]\nPath=" + recordedPath + "\nDeletionDate=" + kDeletionDate + "\n";
}

int OpenFolder(const std::string& path)
{
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool Exists(const std::string& path)
{
    struct stat info
    {
    };
    return ::lstat(path.c_str(), &info) == 0;
}

mode_t ModeOf(const std::string& path)
{
    struct stat info
    {
    };
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// An entry as a tree: a file, or a folder holding one file.
Tree EntryTree(const std::string& name, bool folder)
{
    if (folder) {
        return {{name + "/", ""}, {name + "/inner.txt", "inside " + name}};
    }
    return {{name, "content of " + name}};
}

// Puts every key of a tree under a folder.
Tree Under(const std::string& folder, const Tree& tree)
{
    Tree result;
    for (const auto& [relative, content] : tree) {
        result[folder + relative] = content;
    }
    return result;
}

Tree Joined(Tree first, const Tree& second)
{
    first.insert(second.begin(), second.end());
    return first;
}

struct AwkwardName
{
    const char* label;
    std::string name;
    bool folder;
    // How trash-cli shows the name when it can't decode it; empty when it shows the name itself.
    // trash-cli reads Path= as UTF-8 and replaces the bytes it can't decode, so it can neither list
    // nor restore such a name truly; gio's own info file is the byte-exact check for it.
    std::string listedAs;
};

const std::vector<AwkwardName> kAwkwardNames = {
    {"blanks", "report final.txt", false, ""},
    {"an escape look-alike", "report%20final.txt", false, ""},
    {"a line break", "line\nbreak.txt", false, ""},
    {"Japanese folder", "日本語 フォルダ", true, ""},
    {"reserved marks", "a#b?c&d=e+f;g:h@i[j]k!l*m'n(o)p~q,r$s", false, ""},
    {"not UTF-8", "bad\xff\xfe name.txt", false, "bad\uFFFD\uFFFD name.txt"},
};

// Each awkward name goes to the home trash with the same info file that gio writes for it, and
// trash-cli lists it under its true path and restores it there.
TEST(FreedesktopTrashTest, HomeTrashMatchesTheClients)
{
    if (!HaveClients()) {
        FAIL() << kClientsMissing;
    }
    for (const AwkwardName& row : kAwkwardNames) {
        SCOPED_TRACE(row.label);
        TempFolder root;
        const std::string work = root / "work";
        const std::string data = root / "data";
        const std::string path = work + "/" + row.name;
        const Tree entry = EntryTree(row.name, row.folder);
        const Environment clientEnvironment = {{"HOME", root / "home"}, {"XDG_DATA_HOME", data}};

        // gio trashes the entry first, into a trash of its own, to tell what Path= must hold.
        MakeTree(root.Path(), {{"home/", ""}, {"gio/", ""}});
        MakeTree(work, entry);
        Outcome gio = RunProgram({"gio", "trash", path}, work,
                                 {{"HOME", root / "home"}, {"XDG_DATA_HOME", root / "gio"}});
        ASSERT_EQ(gio.status, 0) << gio.output;
        std::string gioInfo = ReadFile(root / "gio/Trash/info/" + row.name + ".trashinfo");
        auto pathStart = gioInfo.find("\nPath=");
        ASSERT_NE(pathStart, std::string::npos) << gioInfo;
        std::string gioPath =
            gioInfo.substr(pathStart + 6, gioInfo.find('\n', pathStart + 1) - pathStart - 6);

        MakeTree(work, entry);
        Trash trash(SetupFor(data + "/Trash"));
        int parent = OpenFolder(work);
        FdCloser closer(parent);
        ASSERT_TRUE(trash.MoveToTrashAt(parent, row.name, path)) << std::strerror(errno);

        EXPECT_EQ(ReadTree(work), Tree{});
        EXPECT_EQ(
            ReadTree(data + "/Trash"),
            Joined(Under("files/", entry),
                   {{"files/", ""}, {"info/", ""}, {"info/" + row.name + ".trashinfo", InfoFile(gioPath)}}));
        EXPECT_EQ(ModeOf(data + "/Trash"), 0700u);

        std::string listed = work + "/" + (row.listedAs.empty() ? row.name : row.listedAs);
        Outcome list = RunProgram({"trash-list"}, work, clientEnvironment);
        EXPECT_EQ(list.status, 0);
        EXPECT_NE(list.output.find(std::string(kListedDate) + " " + listed + "\n"), std::string::npos)
            << list.output;

        if (row.listedAs.empty()) {
            Outcome restore = RunProgram({"trash-restore"}, work, clientEnvironment, "0\n");
            EXPECT_EQ(restore.status, 0) << restore.output;
            EXPECT_EQ(ReadTree(work), entry) << restore.output;
            EXPECT_EQ(ReadTree(data + "/Trash"), (Tree{{"files/", ""}, {"info/", ""}}));
        }
    }
}

// On a drive the entries go to $topdir/.Trash-0 with paths relative to the drive, so that after
// the drive is mounted at another place trash-cli lists and restores them there; the home trash
// on the system disk is never touched.
TEST(FreedesktopTrashTest, DriveTrashFollowsTheDriveToAnotherMountPlace)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a loop device needs root";
    }
    if (!HaveClients()) {
        FAIL() << kClientsMissing;
    }
    TempFolder root;
    const std::string image = root / "drive.img";
    const std::string first = root / "first";
    const std::string second = root / "second place";
    const std::string data = root / "data";
    MakeTree(root.Path(), {{"first/", ""}, {"second place/", ""}});
    {
        int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        FdCloser closer(fd);
        ASSERT_EQ(::ftruncate(fd, 16 << 20), 0);
    }
    Outcome mkfs = RunProgram({"mkfs.ext4", "-q", "-F", image}, "/", {});
    ASSERT_EQ(mkfs.status, 0) << mkfs.output;

    Tree docs;
    for (const AwkwardName& row : kAwkwardNames) {
        if (row.listedAs.empty()) {
            docs = Joined(docs, EntryTree(row.name, row.folder));
        }
    }
    {
        LoopDrive drive(image, first);
        ASSERT_TRUE(drive.Mounted()) << drive.Output();
        MakeTree(first + "/docs", docs);
        Trash trash(SetupFor(data + "/Trash"));
        int parent = OpenFolder(first + "/docs");
        FdCloser closer(parent);
        for (const AwkwardName& row : kAwkwardNames) {
            if (row.listedAs.empty()) {
                SCOPED_TRACE(row.label);
                EXPECT_TRUE(trash.MoveToTrashAt(parent, row.name, first + "/docs/" + row.name))
                    << std::strerror(errno);
                std::string info = ReadFile(first + "/.Trash-0/info/" + row.name + ".trashinfo");
                EXPECT_EQ(info.rfind("[Trash Info]\nPath=docs/", 0), 0u) << info;
            }
        }
        EXPECT_EQ(ReadTree(first + "/docs"), Tree{});
        EXPECT_EQ(ModeOf(first + "/.Trash-0"), 0700u);
    }
    EXPECT_FALSE(Exists(data));

    LoopDrive drive(image, second);
    ASSERT_TRUE(drive.Mounted()) << drive.Output();
    const Environment clientEnvironment = {{"HOME", root / "home"}, {"XDG_DATA_HOME", data}};
    Outcome list = RunProgram({"trash-list"}, second, clientEnvironment);
    EXPECT_EQ(list.status, 0);
    for (const AwkwardName& row : kAwkwardNames) {
        if (row.listedAs.empty()) {
            SCOPED_TRACE(row.label);
            std::string path = second + "/docs/" + row.name;
            EXPECT_NE(list.output.find(std::string(kListedDate) + " " + path + "\n"), std::string::npos)
                << list.output;
            // Naming the entry leaves one choice, whatever order trash-restore lists them in.
            Outcome restore = RunProgram({"trash-restore", path}, second + "/docs", clientEnvironment, "0\n");
            EXPECT_EQ(restore.status, 0) << restore.output;
        }
    }
    EXPECT_EQ(ReadTree(second + "/docs"), docs);
    EXPECT_EQ(ReadTree(second + "/.Trash-0"), (Tree{{"files/", ""}, {"info/", ""}}));
}

// Which trash folder a drive's entry goes to, by what its top folder holds. "$uid" stands for the
// user's id. An empty trash folder means the entry can't be trashed and stays.
struct DriveFolderCase
{
    const char* label;
    Tree top;
    // Folders whose mode is set after the tree is made.
    std::vector<std::pair<std::string, mode_t>> modes;
    std::string trashFolder;
    bool needsRoot = false;
};

std::string WithUid(std::string text)
{
    auto at = text.find("$uid");
    return at == std::string::npos ? text : text.replace(at, 4, std::to_string(::getuid()));
}

TEST(FreedesktopTrashTest, DriveTrashFolderIsCheckedBeforeUse)
{
    const std::vector<DriveFolderCase> cases = {
        {"sticky .Trash", {{".Trash/", ""}}, {{".Trash", 01777}}, ".Trash/$uid"},
        {"sticky .Trash with the user's folder",
         {{".Trash/", ""}, {".Trash/$uid/", ""}},
         {{".Trash", 01777}, {".Trash/$uid", 0700}},
         ".Trash/$uid"},
        {"no .Trash", {}, {}, ".Trash-$uid"},
        {".Trash not sticky", {{".Trash/", ""}}, {{".Trash", 0777}}, ".Trash-$uid"},
        {".Trash a link to a sticky folder",
         {{".Trash@", "shared"}, {"shared/", ""}},
         {{"shared", 01777}},
         ".Trash-$uid"},
        {".Trash a file", {{".Trash", "x"}}, {}, ".Trash-$uid"},
        {"the user's folder in .Trash a link",
         {{".Trash/", ""}, {".Trash/$uid@", "../mine"}, {"mine/", ""}},
         {{".Trash", 01777}},
         ".Trash-$uid"},
        {".Trash-$uid a link", {{".Trash-$uid@", "mine"}, {"mine/", ""}}, {}, ""},
        {".Trash-$uid a file", {{".Trash-$uid", "x"}}, {}, ""},
        {".Trash-$uid of another user", {{".Trash-$uid/", ""}}, {{".Trash-$uid", 0700}}, "", true},
    };
    for (const DriveFolderCase& row : cases) {
        SCOPED_TRACE(row.label);
        if (row.needsRoot && !IsRoot()) {
            continue;
        }
        TempFolder root;
        const std::string top = root / "drive";
        Tree before;
        for (const auto& [relative, content] : row.top) {
            before[WithUid(relative)] = content;
        }
        before["sub/"] = "";
        before["sub/entry.txt"] = "entry";
        MakeTree(top, before);
        for (const auto& [folder, mode] : row.modes) {
            ASSERT_EQ(::chmod((top + "/" + WithUid(folder)).c_str(), mode), 0);
        }
        if (row.needsRoot) {
            ASSERT_EQ(::chown((top + "/" + WithUid(".Trash-$uid")).c_str(), 4242, 4242), 0);
        }

        Trash trash(SetupFor(root / "home/Trash", top));
        int parent = OpenFolder(top + "/sub");
        FdCloser closer(parent);
        bool moved = trash.MoveToTrashAt(parent, "entry.txt", top + "/sub/entry.txt");
        if (row.trashFolder.empty()) {
            EXPECT_FALSE(moved);
            EXPECT_NE(errno, 0);
            EXPECT_EQ(ReadTree(top), before);
            continue;
        }
        ASSERT_TRUE(moved) << std::strerror(errno);
        const std::string folder = WithUid(row.trashFolder);
        Tree expected = before;
        expected.erase("sub/entry.txt");
        expected[folder + "/"] = "";
        expected[folder + "/files/"] = "";
        expected[folder + "/info/"] = "";
        expected[folder + "/files/entry.txt"] = "entry";
        expected[folder + "/info/entry.txt.trashinfo"] = InfoFile("sub/entry.txt");
        EXPECT_EQ(ReadTree(top), expected);
        EXPECT_EQ(ModeOf(top + "/" + folder), 0700u);
        EXPECT_FALSE(Exists(root / "home"));
    }
}

// A name taken in the trash, by an info file or by an entry left without one, is never reused
// nor replaced; a name too long to take ".trashinfo" is shortened in the trash only.
TEST(FreedesktopTrashTest, TrashNamesAreUnique)
{
    const std::string longJapanese = [] {
        std::string text;
        for (int i = 0; i < 83; ++i) {
            text += "日";
        }
        return text;
    }();
    struct NamingCase
    {
        const char* label;
        Tree trashBefore;
        std::string name;
        std::string trashName;
    };
    const std::vector<NamingCase> cases = {
        {"free", {}, "x", "x"},
        {"info file taken", {{"info/x.trashinfo", "old"}}, "x", "x.2"},
        {"entry left without info", {{"files/x", "orphan"}}, "x", "x.2"},
        {"several taken",
         {{"info/x.trashinfo", "old"}, {"files/x", "old"}, {"files/x.2", "orphan"}},
         "x",
         "x.3"},
        {"long name", {}, std::string(250, 'a'), std::string(239, 'a')},
        {"long Japanese name", {}, longJapanese, longJapanese.substr(0, 79 * 3)},
    };
    for (const NamingCase& row : cases) {
        SCOPED_TRACE(row.label);
        TempFolder root;
        const std::string work = root / "work";
        const std::string trashFolder = root / "data/Trash";
        MakeTree(work, {{row.name, "new"}});
        MakeTree(trashFolder, Joined(row.trashBefore, {{"files/", ""}, {"info/", ""}}));

        Trash trash(SetupFor(trashFolder));
        int parent = OpenFolder(work);
        FdCloser closer(parent);
        ASSERT_TRUE(trash.MoveToTrashAt(parent, row.name, work + "/" + row.name)) << std::strerror(errno);
        Tree expected = Joined(row.trashBefore, {{"files/", ""}, {"info/", ""}});
        expected["files/" + row.trashName] = "new";
        expected["info/" + row.trashName + ".trashinfo"] = InfoFile(Trash::EncodePath(work + "/" + row.name));
        EXPECT_EQ(ReadTree(trashFolder), expected);
    }
}

// When the entry can't be renamed into the trash, it stays where it was and the info file made
// for it is gone again.
TEST(FreedesktopTrashTest, FailedMoveLeavesNoInfoFile)
{
    struct FailureCase
    {
        const char* label;
        Tree work;
        std::string name;
        int error;
    };
    const std::vector<FailureCase> cases = {
        {"entry gone meanwhile", {{"other.txt", "o"}}, "gone.txt", ENOENT},
        {"folder that holds the trash", {{"data/keep.txt", "k"}}, "data", EINVAL},
    };
    for (const FailureCase& row : cases) {
        SCOPED_TRACE(row.label);
        TempFolder root;
        const std::string work = root / "work";
        MakeTree(work, row.work);
        Trash trash(SetupFor(work + "/data/Trash"));
        int parent = OpenFolder(work);
        FdCloser closer(parent);
        errno = 0;
        EXPECT_FALSE(trash.MoveToTrashAt(parent, row.name, work + "/" + row.name));
        EXPECT_EQ(errno, row.error) << std::strerror(errno);
        EXPECT_EQ(
            ReadTree(work),
            Joined(
                row.work,
                {{"data/", ""}, {"data/Trash/", ""}, {"data/Trash/files/", ""}, {"data/Trash/info/", ""}}));
    }
}

// On a full drive the info file can be made but not written: the entry stays, the empty info file
// is removed again and the failure says why.
TEST(FreedesktopTrashTest, FullDriveLeavesNoInfoFile)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    TempFolder root;
    const std::string drive = root / "drive";
    MakeTree(drive, {});
    TmpfsMount mount(drive, "64k");
    ASSERT_TRUE(mount.Mounted()) << std::strerror(mount.Error());
    MakeTree(drive, {{"sub/entry.txt", "entry"}});
    {
        int fd = ::open((drive + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        FdCloser closer(fd);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) { }
        ASSERT_EQ(errno, ENOSPC);
    }
    const Tree before = ReadTree(drive);

    Trash trash(SetupFor(root / "home/Trash"));
    int parent = OpenFolder(drive + "/sub");
    FdCloser closer(parent);
    errno = 0;
    EXPECT_FALSE(trash.MoveToTrashAt(parent, "entry.txt", drive + "/sub/entry.txt"));
    EXPECT_EQ(errno, ENOSPC) << std::strerror(errno);
    EXPECT_EQ(ReadTree(drive),
              Joined(before, {{".Trash-0/", ""}, {".Trash-0/files/", ""}, {".Trash-0/info/", ""}}));
    EXPECT_FALSE(Exists(root / "home"));
}

// A drive's entry named by a path through a link: the descriptor call can't tell the top folder's
// place from that path and fails rather than record a wrong one; the path call resolves the link
// and records the entry's place on the drive.
TEST(FreedesktopTrashTest, PathThroughALinkNeverRecordsAWrongPlace)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    struct LinkCase
    {
        const char* label;
        bool byPath;
        bool moved;
    };
    const std::vector<LinkCase> cases = {
        {"descriptor call", false, false},
        {"path call", true, true},
    };
    for (const LinkCase& row : cases) {
        SCOPED_TRACE(row.label);
        TempFolder root;
        const std::string drive = root / "drive";
        MakeTree(drive, {});
        TmpfsMount mount(drive, "1m");
        ASSERT_TRUE(mount.Mounted()) << std::strerror(mount.Error());
        MakeTree(root.Path(), {{"drive/docs/entry.txt", "entry"}, {"link@", "drive/docs"}});
        const Tree before = ReadTree(drive);

        Trash trash(SetupFor(root / "home/Trash"));
        const std::string linked = root / "link/entry.txt";
        bool moved = false;
        if (row.byPath) {
            moved = trash.MoveToTrash(linked);
        } else {
            int parent = OpenFolder(drive + "/docs");
            FdCloser closer(parent);
            moved = trash.MoveToTrashAt(parent, "entry.txt", linked);
        }
        EXPECT_EQ(moved, row.moved) << std::strerror(errno);
        if (row.moved) {
            EXPECT_EQ(ReadFile(drive + "/.Trash-0/info/entry.txt.trashinfo"), InfoFile("docs/entry.txt"));
            EXPECT_EQ(ReadFile(drive + "/.Trash-0/files/entry.txt"), "entry");
        } else {
            EXPECT_EQ(errno, EINVAL);
            EXPECT_EQ(ReadTree(drive), before);
        }
    }
}

} // namespace
} // namespace ostrel::test
