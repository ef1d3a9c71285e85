#include "platform/PosixVolumes.h"
#include "FakeVolumes.h"
#include "TestTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ostrel {

// Lets failed expectations print the type by name.
static void PrintTo(DriveType type, std::ostream* out)
{
    static const char* const kNames[] = {"NoRootDir", "Removable", "Fixed", "Remote", "CdRom", "RamDisk"};
    *out << kNames[static_cast<int>(type)];
}

namespace test {
namespace {

// Writes a mount point the way the kernel does in mountinfo.
std::string Escape(const std::string& path)
{
    std::string result;
    for (char c : path) {
        switch (c) {
        case ' ':
            result += "\\040";
            break;
        case '\t':
            result += "\\011";
            break;
        case '\n':
            result += "\\012";
            break;
        case '\\':
            result += "\\134";
            break;
        default:
            result += c;
        }
    }
    return result;
}

// A block-device folder as the kernel lays it out: partitions are folders inside their disk, and
// the class entry of a partition is a link into that folder. Only disks carry "removable".
const Tree kSysBlock = {
    {"sda/dev", "8:0\n"},          {"sda/removable", "0\n"},   {"sda/sda1/dev", "8:1\n"},
    {"sda/sda1/partition", "1\n"}, {"sda1@", "sda/sda1"},      {"sdb/dev", "8:16\n"},
    {"sdb/removable", "1\n"},      {"sdb/sdb1/dev", "8:17\n"}, {"sdb/sdb1/partition", "1\n"},
    {"sdb1@", "sdb/sdb1"},         {"sr0/dev", "11:0\n"},      {"sr0/removable", "1\n"},
    {"loop0/dev", "7:0\n"},        {"loop0/removable", "0\n"}, {"loop1/dev", "7:1\n"},
    {"loop1/removable", "0\n"},    {"nvme0n1/dev", "259:0\n"},
};

// The mount table the tables below are read against. "/stack" holds two mounts, tmpfs on top.
const char* const kMountInfo = R"(21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw
22 21 0:5 / /proc rw,nosuid - proc proc rw
23 21 0:6 / /sys rw - sysfs sysfs rw
24 23 0:7 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw
25 21 0:8 / /dev rw - devtmpfs udev rw
26 25 0:9 / /dev/pts rw - devpts devpts rw
27 21 0:20 / /run rw - tmpfs tmpfs rw
28 27 0:21 / /run/user/1000 rw - tmpfs tmpfs rw
29 21 8:17 / /media/alice/USB\0401 rw,nosuid shared:40 master:2 - vfat /dev/sdb1 rw
30 21 7:0 / /mnt/a rw - ext4 /dev/loop0 rw
31 30 0:30 / /mnt/a/inner rw - nfs4 server:/export rw
32 21 0:31 / /srv/nas rw - cifs //server/share rw
33 21 0:32 / /srv/my\040share rw - smb3 //server/my\040share rw
34 21 11:0 / /media/alice/CD ro - iso9660 /dev/sr0 ro
35 21 0:33 / /scratch rw - tmpfs tmpfs rw
36 21 8:1 /srv /data rw - ext4 /dev/sda1 rw
37 21 8:16 / /backup rw - ext4 /dev/sdb rw
38 21 8:17 / /data2 rw - ext4 /dev/sdb1 rw
39 21 0:34 / /media/bob/PHONE rw - fuse.sshfs bob@phone: rw
40 21 0:35 / /home rw - btrfs /dev/sda3 rw
41 40 0:35 / /home/alice/with\134back rw - btrfs /dev/sda3 rw
42 27 8:33 / /run/media/alice/DISK rw - ext4 /dev/sdc1 rw
43 21 7:1 / /iso ro - iso9660 /dev/loop1 ro
44 21 7:2 / /dvd ro - udf /dev/loop2 ro
45 21 0:36 / /ram rw - ramfs ramfs rw
46 21 8:1 / /stack rw - ext4 /dev/sda1 rw
47 46 0:37 / /stack rw - tmpfs tmpfs rw
48 21 259:0 / /fast rw - ext4 /dev/nvme0n1 rw
49 21 0:38 / /net/share rw - 9p share rw
50 21 0:39 / /var/lib/docker/overlay2/abc/merged rw - overlay overlay rw
51 21 7:3 / /snap/core/1 ro - squashfs /dev/loop3 ro
52 21 0:40 / /proc/sys/fs/binfmt_misc rw - binfmt_misc binfmt_misc rw
a line the kernel would never write
)";

class PosixVolumesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        MakeTree(m_temp / "sys", kSysBlock);
        // Containers bind single files over the image; such a mount point is a file.
        WriteFile(m_temp / "etc/resolv.conf", "nameserver 127.0.0.1\n");
        WriteFile(m_temp / "mountinfo",
                  std::string(kMountInfo) + "54 21 8:1 /etc/resolv.conf " + Escape(m_temp / "etc/resolv.conf")
                      + " rw - ext4 /dev/sda1 rw\n");
    }

    PosixVolumes VolumesOf(const std::string& user) const
    {
        return PosixVolumes(m_temp / "mountinfo", m_temp / "sys", user);
    }

    TempFolder m_temp;
};

// A folder under a mount point of the file-system table with nothing mounted is the bare folder
// on the disk below: to a run, a drive that is not ready.
TEST_F(PosixVolumesTest, KnowsFstabMountPointsWithNothingMounted)
{
    WriteFile(m_temp / "fstab",
              "# <file system> <mount point> <type> <options> <dump> <pass>\n"
              "UUID=1234 / ext4 errors=remount-ro 0 1\n"
              "/dev/sdb1\t/srv/nas\tcifs\tdefaults 0 0\n"
              "//server/share /srv/backup\\040disk cifs noauto 0 0\n"
              "  # /dev/sdz1 /commented ext4 defaults 0 0\n"
              "server:/export /data2/inner/ nfs defaults 0 0\n"
              "/dev/sda2 none swap sw 0 0\n"
              "/dev/sdc1 /mnt/usb ext4 noauto,user 0 0\n"
              "incomplete-line\n");
    const PosixVolumes volumes(m_temp / "mountinfo", m_temp / "sys", "alice", "gio", 1000, m_temp / "fstab");
    const struct
    {
        const char* path;
        const char* point;
    } cases[] = {
        {"/srv/nas/photos", ""}, // mounted
        {"/srv/backup disk", "/srv/backup disk"},
        {"/srv/backup disk/2024/", "/srv/backup disk"},
        {"/srv/backup diskette", ""},
        {"/srv", ""},
        {"/data2/inner/x", "/data2/inner"}, // below a mounted drive, itself not mounted
        {"/data2/other", ""},
        {"/commented/x", ""},
        {"/mnt/usb/a", "/mnt/usb"},
        {"/home/alice", ""}, // on "/", which is always mounted
        {"relative/srv/backup disk", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(PosixVolumes(volumes).UnmountedFstabPoint(c.path), c.point);
    }
    // Without a table nothing is known.
    EXPECT_EQ(PosixVolumes(m_temp / "mountinfo", m_temp / "sys", "alice", "gio", 1000, m_temp / "none")
                  .UnmountedFstabPoint("/mnt/usb/a"),
              "");
}

TEST_F(PosixVolumesTest, DrivePartIsTheLongestMountPointOrTheAutomountFolder)
{
    struct Case
    {
        const char* user;
        const char* path;
        const char* drive;
    };
    const Case cases[] = {
        {"alice", "/", "/"},
        {"alice", "", ""},
        {"alice", "relative/dir", ""},
        {"alice", "./media/alice/USB 1", ""},
        {"alice", "/etc/passwd", "/"},
        {"alice", "/..", "/"},
        // Mounted sticks, written with escaped blanks in the table.
        {"alice", "/media/alice/USB 1/Backup/2024", "/media/alice/USB 1"},
        {"alice", "/media/alice/USB 1", "/media/alice/USB 1"},
        {"alice", "/media/alice/USB 1/", "/media/alice/USB 1"},
        {"alice", "//media//alice/USB 1/./Backup", "/media/alice/USB 1"},
        {"alice", "/run/media/alice/DISK/x", "/run/media/alice/DISK"},
        // Unplugged sticks keep their folder as the drive.
        {"alice", "/media/alice/USB 10/x", "/media/alice/USB 10"},
        {"alice", "/media/alice/GONE/Backup", "/media/alice/GONE"},
        {"alice", "/media/alice/USB 1/../GONE/x", "/media/alice/GONE"},
        {"alice", "/run/media/alice/GONE/x", "/run/media/alice/GONE"},
        {"alice", "/media/STICK/x", "/media/STICK"},
        {"alice", "/mnt/ab/x", "/mnt/ab"},
        // The folders that hold sticks are no sticks themselves.
        {"alice", "/media/alice", "/"},
        {"alice", "/media/alice/", "/"},
        {"alice", "/media", "/"},
        {"alice", "/mnt", "/"},
        // Another user's folders: /media/<name> is the automount folder, /run/media is not.
        {"alice", "/media/bob/STICK/x", "/media/bob"},
        {"alice", "/media/bob/PHONE/DCIM", "/media/bob/PHONE"},
        {"alice", "/run/media/bob/X/y", "/run"},
        {"bob", "/media/bob/STICK/x", "/media/bob/STICK"},
        {"bob", "/media/alice/USB 10/x", "/media/alice"},
        {"bob", "/run/media/alice/GONE/x", "/run"},
        {"", "/media/alice/GONE/x", "/media/alice"},
        // A mount inside an automount folder holds what lies below it.
        {"alice", "/mnt/a/file", "/mnt/a"},
        {"alice", "/mnt/a", "/mnt/a"},
        {"alice", "/mnt/a/inner/x", "/mnt/a/inner"},
        {"alice", "/mnt/a/innerx/y", "/mnt/a"},
        // Mount points match whole components only.
        {"alice", "/srv/nas/x", "/srv/nas"},
        {"alice", "/srv/nas", "/srv/nas"},
        {"alice", "/srv/nasty/x", "/"},
        {"alice", "/srv/my share/docs", "/srv/my share"},
        {"alice", "/srv/my", "/"},
        {"alice", "/home/alice/with\\back/f", "/home/alice/with\\back"},
        {"alice", "/home/alice/docs", "/home"},
        {"alice", "/stack/x", "/stack"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("user '") + c.user + "', path '" + c.path + "'");
        EXPECT_EQ(VolumesOf(c.user).DrivePart(c.path), c.drive);
    }
}

TEST_F(PosixVolumesTest, DriveTypeComesFromTheMountDeviceAndFileSystem)
{
    struct Case
    {
        const char* user;
        const char* drive;
        DriveType type;
    };
    const Case cases[] = {
        {"alice", "/", DriveType::Fixed},
        // Removable by the disk's flag (a partition's disk, or the disk itself), or by the folder.
        {"alice", "/media/alice/USB 1", DriveType::Removable},
        {"alice", "/media/alice/USB 1/", DriveType::Removable},
        {"alice", "/data2", DriveType::Removable},
        {"alice", "/backup", DriveType::Removable},
        {"alice", "/media/alice/CD", DriveType::Removable},
        {"alice", "/mnt/a", DriveType::Removable},
        {"alice", "/run/media/alice/DISK", DriveType::Removable},
        {"bob", "/run/media/alice/DISK", DriveType::Fixed},
        // Not mounted now, or no drive at all.
        {"alice", "/media/alice/USB 2", DriveType::NoRootDir},
        {"alice", "/media/alice/GONE", DriveType::NoRootDir},
        {"alice", "/media/alice", DriveType::NoRootDir},
        {"alice", "/srv", DriveType::NoRootDir},
        {"alice", "/nowhere", DriveType::NoRootDir},
        {"alice", "", DriveType::NoRootDir},
        {"alice", "srv/nas", DriveType::NoRootDir},
        // Fixed disks: a bind mount of the root disk, a disk the sys tree has no flag for, and
        // file systems without a block device.
        {"alice", "/data", DriveType::Fixed},
        {"alice", "/fast", DriveType::Fixed},
        {"alice", "/home", DriveType::Fixed},
        {"alice", "/home/alice/with\\back", DriveType::Fixed},
        {"alice", "/mnt/a/inner", DriveType::Remote},
        {"alice", "/srv/nas", DriveType::Remote},
        {"alice", "/srv/my share", DriveType::Remote},
        {"alice", "/media/bob/PHONE", DriveType::Remote},
        {"alice", "/net/share", DriveType::Remote},
        {"alice", "/iso", DriveType::CdRom},
        {"alice", "/dvd", DriveType::CdRom},
        {"alice", "/scratch", DriveType::RamDisk},
        {"alice", "/ram", DriveType::RamDisk},
        {"alice", "/stack", DriveType::RamDisk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("user '") + c.user + "', drive '" + c.drive + "'");
        EXPECT_EQ(VolumesOf(c.user).GetDriveType(c.drive), c.type);
    }
}

TEST_F(PosixVolumesTest, MountedDrivesAreTheOnesAUserWouldPick)
{
    const std::vector<std::string> expected = {
        "/",
        "/backup",
        "/data",
        "/data2",
        "/dvd",
        "/fast",
        "/home",
        "/home/alice/with\\back",
        "/iso",
        "/media/alice/CD",
        "/media/alice/USB 1",
        "/media/bob/PHONE",
        "/mnt/a",
        "/mnt/a/inner",
        "/net/share",
        "/ram",
        "/run/media/alice/DISK",
        "/scratch",
        "/srv/my share",
        "/srv/nas",
        "/stack",
    };
    EXPECT_EQ(VolumesOf("alice").MountedDrives(), expected);
}

// Without a readable mount table the root is still a drive, and automount folders still count.
TEST_F(PosixVolumesTest, AMissingMountTableLeavesTheRoot)
{
    PosixVolumes volumes(m_temp / "no-mountinfo", m_temp / "no-sys", "alice");
    EXPECT_EQ(volumes.DrivePart("/srv/nas/x"), "/");
    EXPECT_EQ(volumes.DrivePart("/media/alice/USB 1/x"), "/media/alice/USB 1");
    EXPECT_EQ(volumes.GetDriveType("/"), DriveType::Fixed);
    EXPECT_EQ(volumes.GetDriveType("/media/alice/USB 1"), DriveType::NoRootDir);
    EXPECT_TRUE(volumes.IsReady("/"));
    EXPECT_EQ(volumes.MountedDrives(), std::vector<std::string>{"/"});
}

TEST_F(PosixVolumesTest, ReadyWhenMountedAndListable)
{
    MakeTree(
        m_temp / "vol",
        {{"ready/file", "x"}, {"empty/", ""}, {"with blank/", ""}, {"stale/", ""}, {"file", "not a folder"}});
    std::string table;
    for (const char* name : {"ready", "empty", "with blank", "missing", "file"}) {
        table += "60 21 0:50 / " + Escape(m_temp / "vol/" + name) + " rw - tmpfs tmpfs rw\n";
    }
    WriteFile(m_temp / "mountinfo", table);
    PosixVolumes volumes = VolumesOf("alice");

    struct Case
    {
        std::string drive;
        bool ready;
    };
    const Case cases[] = {
        {m_temp / "vol/ready", true},
        {m_temp / "vol/ready/", true},
        {m_temp / "vol/empty", true},
        {m_temp / "vol/with blank", true},
        {m_temp / "vol/missing", false},
        {m_temp / "vol/file", false},
        // The folder a stick leaves behind is listable, but nothing is mounted on it.
        {m_temp / "vol/stale", false},
        {"/", true},
        {"", false},
        {"vol/ready", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("drive '" + c.drive + "'");
        EXPECT_EQ(volumes.IsReady(c.drive), c.ready);
    }
}

TEST_F(PosixVolumesTest, AContainerRootIsTheOnlyLayeredDriveOffered)
{
    WriteFile(m_temp / "mountinfo",
              "1 0 0:50 / / rw - overlay overlay rw,lowerdir=/a\n"
              "2 1 0:51 / /proc rw - proc proc rw\n"
              "3 1 254:0 / /work rw - ext4 /dev/vda rw\n"
              "4 1 0:52 / /work/layer rw - overlay overlay rw\n");
    PosixVolumes volumes = VolumesOf("root");
    EXPECT_EQ(volumes.MountedDrives(), (std::vector<std::string>{"/", "/work"}));
    EXPECT_EQ(volumes.GetDriveType("/"), DriveType::Fixed);
    EXPECT_EQ(volumes.DrivePart("/work/layer/x"), "/work/layer");
}

// Labels every drive with its own root, so a test sees which root was asked, and whether at all.
class LabelledVolumes : public PosixVolumes
{
public:
    using PosixVolumes::PosixVolumes;

protected:
    std::string LabelOf(const std::string& drive) override { return "LABEL " + drive; }
};

TEST_F(PosixVolumesTest, VolumeNameIsAskedOfTheMountedDriveRoot)
{
    struct Case
    {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        // The path may not exist yet; the drive root is what holds the label.
        {"/media/alice/USB 1/Backup/not yet made", "LABEL /media/alice/USB 1"},
        {"/srv/my share", "LABEL /srv/my share"},
        {"/etc", "LABEL /"},
        // An unplugged stick has no label, even where its folder is left on the disk below.
        {"/media/alice/GONE/Backup", ""},
        {"relative", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("path '") + c.path + "'");
        LabelledVolumes volumes(m_temp / "mountinfo", m_temp / "sys", "alice");
        EXPECT_EQ(volumes.VolumeName(c.path), c.name);
    }
}

class PosixVolumesConnectTest : public ::testing::Test
{
protected:
    // A stand-in for the mount program that records its arguments, one a line, then runs body.
    std::string FakeMounter(const std::string& body)
    {
        std::string path = m_temp / "fake-gio";
        WriteFile(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + ArgsFile() + "'\n" + body + "\n");
        EXPECT_EQ(::chmod(path.c_str(), 0755), 0) << std::strerror(errno);
        return path;
    }
    std::string ArgsFile() const { return m_temp / "args"; }
    bool WasRun() const { return ::access(ArgsFile().c_str(), F_OK) == 0; }

    TempFolder m_temp;
};

TEST_F(PosixVolumesConnectTest, SucceedsOnlyWhenTheMountProgramDoes)
{
    struct Case
    {
        const char* name;
        const char* location;
        const char* body; // nullptr: no mount program installed
        int timeoutMs;
        bool connected;
        bool run;
        double maxSeconds;
    };
    const Case cases[] = {
        {"mounted", "smb://server/share with blank", "exit 0", 10000, true, true, 10},
        {"refused", "sftp://host/home", "exit 2", 10000, false, true, 10},
        {"killed", "sftp://host/home", "kill -9 $$", 10000, false, true, 10},
        {"no program", "smb://server/share", nullptr, 10000, false, false, 10},
        {"hangs", "smb://server/share", "exec sleep 30", 300, false, true, 10},
        // A password prompt meets the end of its input at once instead of waiting for the time-out.
        {"asks for a password", "smb://server/share", "if read line; then exit 0; else exit 1; fi", 20000,
         false, true, 5},
        {"nothing to mount", "", "exit 0", 10000, false, false, 10},
        {"looks like an option", "--unmount", "exit 0", 10000, false, false, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(ArgsFile().c_str());
        std::string program = c.body ? FakeMounter(c.body) : m_temp / "no-such-gio";
        PosixVolumes volumes(m_temp / "mountinfo", m_temp / "sys", "alice", program, c.timeoutMs);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(volumes.ConnectNetworkDrive(c.location), c.connected);
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_LT(elapsed.count(), c.maxSeconds);
        EXPECT_EQ(WasRun(), c.run);
        if (c.run) {
            EXPECT_EQ(ReadFile(ArgsFile()), std::string("mount\n--\n") + c.location + "\n");
        }
    }
}

// Mounts a 1 MiB tmpfs on a folder it creates, and takes both away again however the test ends.
class TmpfsMount
{
public:
    explicit TmpfsMount(std::string folder)
        : m_folder(std::move(folder))
    {
        std::string parent = m_folder.substr(0, m_folder.rfind('/'));
        m_createdParent = ::mkdir(parent.c_str(), 0755) == 0;
        m_createdFolder = ::mkdir(m_folder.c_str(), 0755) == 0;
        m_mounted = m_createdFolder && ::mount("tmpfs", m_folder.c_str(), "tmpfs", 0, "size=1m") == 0;
        m_error = m_mounted ? 0 : errno;
    }
    ~TmpfsMount()
    {
        Unmount();
        if (m_createdFolder) {
            ::rmdir(m_folder.c_str());
        }
        if (m_createdParent) {
            ::rmdir(m_folder.substr(0, m_folder.rfind('/')).c_str());
        }
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool Mounted() const { return m_mounted; }
    const char* Error() const { return std::strerror(m_error); }
    void Unmount()
    {
        if (m_mounted && ::umount2(m_folder.c_str(), MNT_DETACH) == 0) {
            m_mounted = false;
        }
    }

private:
    std::string m_folder;
    bool m_createdParent = false;
    bool m_createdFolder = false;
    bool m_mounted = false;
    int m_error = 0;
};

TEST(PosixVolumesRootTest, StickMountedUnderMediaIsRemovableUntilUnmounted)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting needs root";
    }
    // A blank in the name makes the kernel escape it in the mount table.
    const std::string stick = "/media/root/Ostrel stick " + std::to_string(::getpid());
    TmpfsMount mount(stick);
    ASSERT_TRUE(mount.Mounted()) << stick << ": " << mount.Error();
    WriteFile(stick + "/Backup/file", "x");

    PosixVolumes volumes;
    EXPECT_EQ(volumes.DrivePart(stick + "/Backup/file"), stick);
    EXPECT_EQ(volumes.GetDriveType(stick), DriveType::Removable);
    EXPECT_TRUE(volumes.IsReady(stick));
    std::vector<std::string> drives = volumes.MountedDrives();
    EXPECT_NE(std::find(drives.begin(), drives.end(), stick), drives.end());
    EXPECT_EQ(drives.front(), "/");

    mount.Unmount();
    ASSERT_FALSE(mount.Mounted());
    EXPECT_EQ(volumes.DrivePart(stick + "/Backup/file"), stick);
    EXPECT_EQ(volumes.GetDriveType(stick), DriveType::NoRootDir);
    EXPECT_FALSE(volumes.IsReady(stick));
    drives = volumes.MountedDrives();
    EXPECT_EQ(std::find(drives.begin(), drives.end(), stick), drives.end());
}

TEST(PosixVolumesRootTest, RamDiskOutsideTheAutomountFolders)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting needs root";
    }
    TempFolder temp;
    const std::string disk = temp / "ram disk";
    PosixVolumes volumes;
    const std::string before = volumes.DrivePart(disk + "/file");
    {
        TmpfsMount mount(disk);
        ASSERT_TRUE(mount.Mounted()) << disk << ": " << mount.Error();
        EXPECT_EQ(volumes.DrivePart(disk + "/file"), disk);
        EXPECT_EQ(volumes.GetDriveType(disk), DriveType::RamDisk);
        EXPECT_TRUE(volumes.IsReady(disk));
    }
    EXPECT_NE(before, disk);
    EXPECT_EQ(volumes.DrivePart(disk + "/file"), before);
    EXPECT_EQ(volumes.GetDriveType(disk), DriveType::NoRootDir);
}

// The fake stands in for the volumes in the run driver's tests; its prefix rules must hold too.
TEST(FakeVolumesTest, PrefixesMatchWholeComponentsAndTheLongestWins)
{
    FakeVolumes volumes;
    volumes.driveParts = {
        {"/mnt/a", "/mnt/a"}, {"/mnt/a/in", "/mnt/a/in"}, {"/media/u/USB/", "/media/u/USB"}};
    volumes.labels = {{"/mnt/a", "DATA"}, {"/mnt/a/in", "INNER"}};
    struct Case
    {
        const char* path;
        const char* drive;
        const char* label;
    };
    const Case cases[] = {
        {"/mnt/a/x", "/mnt/a", "DATA"},
        {"/mnt/a", "/mnt/a", "DATA"},
        {"/mnt/ab/x", "/", ""},
        {"/mnt/a/in/x", "/mnt/a/in", "INNER"},
        {"/mnt/a/inx", "/mnt/a", "DATA"},
        {"/media/u/USB", "/media/u/USB", ""},
        {"/media/u/USB/x", "/media/u/USB", ""},
        {"relative", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(volumes.DrivePart(c.path), c.drive);
        EXPECT_EQ(volumes.VolumeName(c.path), c.label);
    }
    EXPECT_EQ(volumes.GetDriveType("/mnt/a"), DriveType::NoRootDir);
    EXPECT_FALSE(volumes.IsReady("/mnt/a"));
}

} // namespace
} // namespace test
} // namespace ostrel
