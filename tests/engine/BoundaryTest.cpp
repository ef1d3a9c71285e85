#include "EngineFixture.h"
#include "Programs.h"
#include "TmpfsMount.h"
#include "platform/WalkRules.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

// A pass never writes, deletes or trashes anything outside its from and to folders: not through
// a link, not through a race, not onto a drive mounted inside them.
class BoundaryTest : public EngineTest
{
protected:
    BoundaryTest()
        : outside(temp / "outside")
    {
        const char* old = std::getenv("XDG_DATA_HOME");
        m_oldData = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_DATA_HOME", (temp / "xdg").c_str(), 1);
        MakeTree(outside, {{"config.txt", "precious"}, {"old.txt", "keep"}, {"gone/precious.txt", "p"}});
        outsideBefore = ReadTree(outside);
    }
    ~BoundaryTest() override
    {
        if (m_oldData) {
            ::setenv("XDG_DATA_HOME", m_oldData->c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
    }

    bool Logged(const std::string& line) const { return Log().find(line + "\r\n") != std::string::npos; }

    std::string outside;
    Tree outsideBefore;

private:
    std::optional<std::string> m_oldData;
};

// A link in the target where the source has a folder: the copy into it fails, the link goes as a
// link, and the next run makes the folder.
TEST_F(BoundaryTest, ALinkInTheTargetsPathIsNeverFollowed)
{
    MakeTree(src, {{"sub/config.txt", "from the source"}});
    MakeTree(dst, {{"sub@", outside}});
    host.options[RunOption::Delete] = true;
    for (bool trash : {false, true}) {
        SCOPED_TRACE(trash ? "to the trash" : "deleted outright");
        host.options[RunOption::Trash] = trash;
        RunPass();
        EXPECT_EQ(ReadTree(outside), outsideBefore);
        EXPECT_TRUE(Logged(dst + "/sub  削除")) << Log();
        EXPECT_NE(Log().find("追加コピー【失敗】"), std::string::npos) << Log();
        RunPass();
        EXPECT_EQ(ReadTree(dst), ReadTree(src));
        RemoveTree(dst);
        MakeTree(dst, {{"sub@", outside}});
    }
    EXPECT_EQ(ReadTree(outside), outsideBefore);
}

// The delete walk listed dst/sub's entries; during the copy phase dst/sub is renamed away and a
// link to another folder takes its place. The deletions refuse: nothing outside is deleted or
// trashed.
TEST_F(BoundaryTest, ALinkSwappedInAfterTheListingStopsTheDeletions)
{
    host.options[RunOption::Delete] = true;
    struct Row
    {
        bool trash;
        bool byNames; // the kernel's openat2, or one openat per name as on older kernels
    };
    for (const Row& row : {Row{false, false}, Row{true, false}, Row{false, true}, Row{true, true}}) {
        SCOPED_TRACE(std::string(row.trash ? "to the trash" : "deleted outright")
                     + (row.byNames ? ", by names" : ""));
        PosixFileSystem::ResolveByNames(row.byNames);
        RemoveTree(dst);
        MakeTree(src, {{"sub/new.txt", "n"}});
        MakeTree(dst, {{"sub/old.txt", "o"}, {"sub/gone/precious.txt", "p"}});
        host.options[RunOption::Trash] = row.trash;
        fs.Before(FsCall::Copy, dst + "/sub/new.txt", [this] {
            ASSERT_EQ(::rename((dst + "/sub").c_str(), (dst + "/moved").c_str()), 0);
            ASSERT_EQ(::symlink(outside.c_str(), (dst + "/sub").c_str()), 0);
        });
        RunPass();
        PosixFileSystem::ResolveByNames(false);
        EXPECT_EQ(ReadTree(outside), outsideBefore);
        EXPECT_TRUE(Logged(dst + "/sub/old.txt  削除【失敗】")) << Log();
        EXPECT_TRUE(Logged(dst + "/sub/gone/  フォルダ削除【失敗】")) << Log();
        EXPECT_EQ(ReadTree(temp / "xdg/Trash/files"), Tree{});
    }
}

// A folder that holds the from folder is never listed for deletion, however deep the source lies.
TEST_F(BoundaryTest, AFolderHoldingTheSourceIsNeverDeleted)
{
    const std::string top = temp / "T";
    MakeTree(top, {{"projects/active/a", "a"}, {"projects/other/b", "b"}, {"old.txt", "o"}});
    const Tree before = ReadTree(top);
    host.options[RunOption::Delete] = true;
    src = top + "/projects/active";
    dst = top;
    RunPass();
    Tree after = before;
    after.erase("old.txt");
    after["a"] = "a";
    EXPECT_EQ(ReadTree(top), after);
    EXPECT_EQ(ReadTree(src), (Tree{{"a", "a"}}));
}

// Links are mirrored as links, dangling ones and links to folders too, and a second run finds
// nothing to do; no link's target is ever read or written.
TEST_F(BoundaryTest, LinksAreMirroredAsLinks)
{
    MakeTree(src,
             {{"file", "f"},
              {"folder/inner", "i"},
              {"tofile@", "file"},
              {"tofolder@", "folder"},
              {"dangling@", "missing"},
              {"secret@", outside + "/config.txt"}});
    MakeTree(dst, {{"stray@", outside + "/old.txt"}, {"secret", "stale"}});
    SetTime(dst + "/secret", "2001-01-01 00:00:00");
    host.options[RunOption::Delete] = true;
    RunPass();
    EXPECT_EQ(ReadTree(dst), ReadTree(src));
    EXPECT_EQ(ReadTree(outside), outsideBefore);
    EXPECT_TRUE(Logged(dst + "/stray  削除")) << Log();
    RunPass();
    EXPECT_EQ(Log(), Summary(src, dst, 0, 0, 0, 0));
}

// A FIFO is never opened: its blocked writer stays blocked, and one in the target is never
// deleted, whatever the options say.
TEST_F(BoundaryTest, SpecialFilesAreNeverOpenedCopiedOrDeleted)
{
    MakeTree(src, {{"a", "a"}});
    MakeTree(dst, {});
    ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dst + "/stray-pipe").c_str(), 0644), 0);
    const std::string pipe = src + "/pipe";
    pid_t writer = ::fork();
    if (writer == 0) {
        int fd = ::open(pipe.c_str(), O_WRONLY); // blocks until someone opens it for reading
        ::_exit(fd >= 0 ? 0 : 1);
    }
    ASSERT_GT(writer, 0);
    host.options[RunOption::Delete] = true;
    host.options[RunOption::SystemFile] = true;
    RunPass();
    ::usleep(50 * 1000);
    int status = 0;
    EXPECT_EQ(::waitpid(writer, &status, WNOHANG), 0) << "the FIFO was opened";
    ::kill(writer, SIGKILL);
    ::waitpid(writer, &status, 0);
    EXPECT_EQ(Log().find("pipe"), std::string::npos) << Log();
    EXPECT_EQ(ReadTree(dst), (Tree{{"a", "a"}, {"stray-pipe", ""}}));
}

// Root keeps the source's owner with its setuid bit; anyone else gets a copy of their own,
// without it. Under a narrow umask the bits are still the source's.
TEST_F(BoundaryTest, NoPrivilegeIsCarriedOver)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "changing owners needs root";
    }
    MakeTree(src, {{"tool", "#!/bin/sh\n"}, {"group-tool", "#!/bin/sh\n"}});
    ASSERT_EQ(::chown((src + "/tool").c_str(), 1234, 1234), 0);
    ASSERT_EQ(::chmod((src + "/tool").c_str(), 04755), 0);
    ASSERT_EQ(::chmod((src + "/group-tool").c_str(), 02755), 0);
    ::chmod(temp.Path().c_str(), 0777);
    MakeTree(dst, {});
    ::chmod(dst.c_str(), 0777);
    mode_t oldMask = ::umask(027);
    RunPass();
    ::umask(oldMask);
    struct stat info
    {
    };
    ASSERT_EQ(::stat((dst + "/tool").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 1234u);
    EXPECT_EQ(info.st_gid, 1234u);
    EXPECT_EQ(info.st_mode & 07777, 04755u);
    ASSERT_EQ(::stat((dst + "/group-tool").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 02755u);

    // An ordinary user copying the same program owns the copy, which loses the setuid bit.
    const std::string userCopy = temp / "user";
    MakeTree(userCopy, {});
    ::chmod(userCopy.c_str(), 0777);
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(2);
        }
        PosixFileSystem user;
        ::_exit(user.CopyFile(src + "/tool", userCopy + "/tool", true) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_EQ(::stat((userCopy + "/tool").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
}

// User extended attributes and the access ACL go with the copy, so that its group keeps exactly
// what the ACL grants.
TEST_F(BoundaryTest, ExtendedAttributesAndTheAclAreCopied)
{
    MakeTree(src, {{"shared.txt", "s"}});
    MakeTree(dst, {});
    const std::string file = src + "/shared.txt";
    if (RunProgram({"setfacl", "-m", "g::r--,m::rw-,u:1234:rw-", file}, "/", {}).status != 0) {
        GTEST_SKIP() << "no ACLs here (setfacl from the acl package, and a file system that keeps them)";
    }
    ASSERT_EQ(::setxattr(file.c_str(), "user.note", "kept", 4, 0), 0);
    RunPass();
    Outcome source = RunProgram({"getfacl", "-c", "-E", "shared.txt"}, src, {});
    Outcome copy = RunProgram({"getfacl", "-c", "-E", "shared.txt"}, dst, {});
    EXPECT_EQ(copy.output, source.output);
    EXPECT_NE(copy.output.find("group::r--"), std::string::npos) << copy.output;
    char value[16] = {};
    EXPECT_EQ(::getxattr((dst + "/shared.txt").c_str(), "user.note", value, sizeof value), 4);
    EXPECT_EQ(std::string(value), "kept");
}

// A drive mounted inside the target is neither entered nor deleted; a folder to delete that holds
// one stays with a failure line, and what lies on that drive stays whole.
TEST_F(BoundaryTest, AMountInsideTheTargetIsNeverEnteredOrDeleted)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting needs root";
    }
    MakeTree(src, {{"keep", "k"}});
    MakeTree(dst, {{"keep", "k"}, {"card/", ""}, {"old/mnt/", ""}, {"old/file", "f"}});
    TmpfsMount card(dst + "/card", "1m");
    TmpfsMount inner(dst + "/old/mnt", "1m");
    ASSERT_TRUE(card.Mounted() && inner.Mounted());
    WriteFile(dst + "/card/photo.jpg", "photo");
    WriteFile(dst + "/old/mnt/data", "data");
    host.options[RunOption::Delete] = true;
    RunPass();
    EXPECT_EQ(ReadFile(dst + "/card/photo.jpg"), "photo");
    EXPECT_EQ(ReadFile(dst + "/old/mnt/data"), "data");
    EXPECT_EQ(Log(), dst + "/old/  フォルダ削除【失敗】\r\n" + Summary(src, dst, 0, 0, 0, 0));
}

// A target unmounted lazily in the middle of a pass: what is left of the pass fails, and nothing
// lands in the bare mount point.
TEST_F(BoundaryTest, ATargetUnmountedMidPassStopsThePass)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting needs root";
    }
    fs.SortListings(true);
    MakeTree(src, {{"a", "a"}, {"b", "b"}, {"c", "c"}});
    MakeTree(dst, {});
    TmpfsMount drive(dst, "1m");
    ASSERT_TRUE(drive.Mounted());
    fs.Before(FsCall::ReadTime, dst + "/b", [this] {
        ::umount2(dst.c_str(), MNT_DETACH);
        ::usleep(20 * 1000); // the pass looks at its folders every few milliseconds
    });
    RunPass();
    EXPECT_EQ(ReadTree(dst), Tree{});
    const std::string log = Log();
    for (const char* name : {"b", "c"}) {
        const std::size_t line = log.find(src + "/" + name + " (");
        ASSERT_NE(line, std::string::npos) << log;
        const std::string word = ")  追加コピー【失敗】\r\n";
        EXPECT_EQ(log.compare(log.find(')', line), word.size(), word), 0) << log;
    }
}

// The file system's own entries at the top of a drive are never copied, listed for deletion or
// trashed; the same names deeper in a tree are ordinary folders.
TEST_F(BoundaryTest, TheFileSystemsOwnEntriesAtItsTopAreLeftAlone)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a loop device needs root";
    }
    const std::string image = temp / "drive.img";
    std::string output;
    ASSERT_TRUE(MakeImage(image, "ext4", 16, output)) << output;
    MakeTree(dst, {});
    LoopDrive drive(image, dst);
    if (!drive.Mounted()) {
        GTEST_SKIP() << "no loop devices here: " << drive.Output();
    }
    MakeTree(dst,
             {{".Trash-0/files/old.txt", "trashed before"},
              {".Trash-0/info/old.txt.trashinfo", "[Trash Info]\n"},
              {".Trash-1000/files/x", "x"},
              {"$RECYCLE.BIN/y", "y"},
              {"System Volume Information/z", "z"},
              {"stale.txt", "s"}});
    MakeTree(src, {{"keep", "k"}, {"deeper/lost+found/a", "a"}, {"deeper/.Trash-0/b", "b"}});
    Tree own = ReadTree(dst);
    own.erase("stale.txt");
    host.options[RunOption::Delete] = true;
    for (bool trash : {true, false}) {
        SCOPED_TRACE(trash ? "to the trash" : "deleted outright");
        host.options[RunOption::Trash] = trash;
        RunPass();
        Tree expected = own;
        for (const auto& [path, content] : ReadTree(src)) {
            expected[path] = content;
        }
        Tree after = ReadTree(dst);
        if (trash) {
            // The one stale file went into the drive's trash.
            EXPECT_EQ(after.count(".Trash-0/files/stale.txt"), 1u);
            after.erase(".Trash-0/files/stale.txt");
            after.erase(".Trash-0/info/stale.txt.trashinfo");
        }
        EXPECT_EQ(after, expected);
        for (const char* name : {"/.Trash", "/lost+found", "/$RECYCLE.BIN", "/System Volume Information"}) {
            EXPECT_EQ(Log().find(dst + name), std::string::npos) << Log();
        }
        own = ReadTree(dst);
        for (const auto& [path, content] : ReadTree(src)) {
            own.erase(path);
        }
        WriteFile(dst + "/stale.txt", "s");
    }

    // Mirrored from the drive's top, its own entries stay behind.
    const std::string copy = temp / "copy";
    src = dst;
    dst = copy;
    RunPass();
    EXPECT_EQ(ReadTree(copy).count("lost+found/"), 0u);
    EXPECT_EQ(ReadTree(copy).count(".Trash-0/"), 0u);
    EXPECT_EQ(ReadFile(copy + "/deeper/lost+found/a"), "a");
}

// The one rule of what a walk passes over, asked by all three walks.
TEST(WalkRulesTest, EachRuleHoldsInEveryWalk)
{
    struct Row
    {
        const char* what;
        Attributes attributes;
        bool systemFiles;
        bool copy, remove, emptying; // passed over by the copy walk, the delete walk, a deleted folder
    };
    auto with = [](auto set) {
        Attributes attributes;
        set(attributes);
        return attributes;
    };
    const Row rows[] = {
        {"plain file", {}, false, false, false, false},
        {"file system's own entry", with([](Attributes& a) { a.fileSystemEntry = true; }), true, true, true,
         true},
        {"special file", with([](Attributes& a) { a.special = a.system = true; }), true, true, true, true},
        {"system entry", with([](Attributes& a) { a.system = true; }), false, true, true, true},
        {"system entry, system files on", with([](Attributes& a) { a.system = true; }), true, false, true,
         true},
        {"temporary file", with([](Attributes& a) { a.temporary = true; }), false, true, true, false},
        {"hidden read-only link", with([](Attributes& a) { a.hidden = a.readOnly = a.link = true; }), false,
         false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(PassesOver(Walk::Copy, row.attributes, row.systemFiles), row.copy);
        EXPECT_EQ(PassesOver(Walk::Delete, row.attributes, row.systemFiles), row.remove);
        EXPECT_EQ(PassesOver(Walk::DeleteFolder, row.attributes, row.systemFiles), row.emptying);
    }
    for (const char* name : {"lost+found", ".Trash", ".Trash-0", ".Trash-1000", ".Trashes", "$RECYCLE.BIN",
                             "System Volume Information", ".Spotlight-V100", ".fseventsd"}) {
        EXPECT_TRUE(IsFileSystemEntryName(name)) << name;
    }
    for (const char* name : {"lost+found2", ".Trash-", ".Trash-1x", ".trash", "Trash", ".Trash-0/"}) {
        EXPECT_FALSE(IsFileSystemEntryName(name)) << name;
    }
}

} // namespace
} // namespace ostrel::test
