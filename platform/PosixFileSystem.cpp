#include "platform/PosixFileSystem.h"

#include "platform/AtomicFile.h"
#include "platform/FdGuard.h"
#include "platform/Trash.h"
#include "platform/WalkRules.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <linux/msdos_fs.h>
#include <linux/openat2.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace ostrel {

namespace {

constexpr long kMsdosSuperMagic = 0x4d44;
constexpr long kExfatSuperMagic = 0x2011bab0;
constexpr long kExt4SuperMagic = 0xef53;
constexpr long kF2fsSuperMagic = 0xf2f52010;
constexpr long kTmpfsMagic = 0x01021994;
constexpr long kXfsSuperMagic = 0x58465342;
constexpr long kBtrfsSuperMagic = 0x9123683e;
constexpr long kRamfsMagic = 0x858458f6;
// The folder flag of a folder whose names ignore letter case (ext4, f2fs, tmpfs with casefold).
constexpr int kCasefoldFlag = 0x40000000;
constexpr long kFuseSuperMagic = 0x65735546;
constexpr std::size_t kCopyBlock = 1 << 20;
// The largest file FAT can hold is one byte short of this.
constexpr off_t kFatFileLimit = off_t(4) << 30;

bool IsSpecialFile(mode_t mode)
{
    return S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISCHR(mode) || S_ISBLK(mode);
}

bool OnFatFileSystem(int fd)
{
    struct statfs info
    {
    };
    return ::fstatfs(fd, &info) == 0 && info.f_type == kMsdosSuperMagic;
}

// Whether the FUSE file system of a device is a FAT driver, from its type in the mount table
// ("fuse.fusefat", for instance). Remembered per device: the table is read once for each.
bool IsFuseFat(dev_t device)
{
    static std::mutex mutex;
    static std::unordered_map<dev_t, bool> known;
    std::lock_guard<std::mutex> lock(mutex);
    if (auto it = known.find(device); it != known.end()) {
        return it->second;
    }
    bool fat = false;
    const std::string number = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, numbers;
        fields >> id >> parent >> numbers;
        auto separator = line.find(" - ");
        if (numbers != number || separator == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(separator + 3));
        std::string type;
        rest >> type;
        auto dot = type.rfind('.');
        const std::string driver = dot == std::string::npos ? std::string() : type.substr(dot + 1);
        fat = driver == "fusefat" || driver == "vfat" || driver == "msdos" || driver == "fat";
        break;
    }
    known.emplace(device, fat);
    return fat;
}

// Whether an open folder lies on a FAT file system, the kernel's or one through FUSE: local times
// in two-second steps, and no file of 4 GiB or more.
bool IsFatFolder(int fd)
{
    struct statfs info
    {
    };
    if (::fstatfs(fd, &info) != 0) {
        return false;
    }
    if (info.f_type == kMsdosSuperMagic) {
        return true;
    }
    struct stat self
    {
    };
    return info.f_type == kFuseSuperMagic && ::fstat(fd, &self) == 0 && IsFuseFat(self.st_dev);
}

FileTime FileTimeOf(const struct stat& info, bool local)
{
    return {static_cast<std::int64_t>(info.st_mtim.tv_sec), static_cast<std::uint64_t>(info.st_size), local};
}

// The DOS system bit, which only FAT file systems keep.
bool HasDosSystemBit(int folderFd, const char* name)
{
    int fd = ::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    FdCloser closer(fd);
    __u32 attributes = 0;
    return ::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) == 0 && (attributes & ATTR_SYS) != 0;
}

std::string NameOf(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path of an entry of a listed folder, which may be named with or without a trailing delimiter.
std::string EntryPath(const std::string& folder, const char* name)
{
    std::string path = folder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path.append(name);
}

std::string FolderText(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// What a listed folder tells about all of its entries.
struct ListedFolder
{
    dev_t device = 0; // of the folder itself
    bool fat = false; // keeps DOS attributes
    bool local = false; // keeps local times (FAT, also through FUSE)
    bool top = false; // the top folder of a mounted file system
};

// Whether an open folder is the top folder of a mounted file system.
bool IsMountTop(int fd, dev_t device)
{
    struct statx info
    {
    };
    if (::statx(fd, "", AT_EMPTY_PATH, 0, &info) == 0 && (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)) {
        return (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    }
    // Older kernels: the parent lies on another file system, or the folder is its own parent.
    struct stat self
    {
    };
    struct stat parent
    {
    };
    if (::fstat(fd, &self) != 0 || ::fstatat(fd, "..", &parent, 0) != 0) {
        return false;
    }
    return parent.st_dev != device || parent.st_ino == self.st_ino;
}

ListedFolder LookAtFolder(int fd)
{
    ListedFolder folder;
    struct stat info
    {
    };
    if (::fstat(fd, &info) == 0) {
        folder.device = info.st_dev;
    }
    folder.fat = OnFatFileSystem(fd);
    folder.top = IsMountTop(fd, folder.device);
    return folder;
}

Attributes AttributesFrom(int folderFd, const char* name, const struct stat& info, const ListedFolder& listed,
                          std::optional<FileTime>* time = nullptr)
{
    Attributes attributes;
    attributes.folder = S_ISDIR(info.st_mode);
    attributes.link = S_ISLNK(info.st_mode);
    attributes.hidden = name[0] == '.';
    attributes.readOnly = !attributes.link && (info.st_mode & S_IWUSR) == 0;
    attributes.special = IsSpecialFile(info.st_mode);
    attributes.system = attributes.special;
    attributes.temporary = (S_ISREG(info.st_mode) || attributes.link) && IsTemporaryName(name);
    attributes.fileSystemEntry = listed.top && IsFileSystemEntryName(name);
    attributes.mountPoint = attributes.folder && info.st_dev != listed.device;
    if (!attributes.system && listed.fat && !attributes.link) {
        attributes.system = HasDosSystemBit(folderFd, name);
    }
    if (time && !attributes.folder && !attributes.special) {
        *time = FileTimeOf(info, listed.local);
    }
    attributes.id = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    attributes.changed = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return attributes;
}

// What a directory entry's type tells without a look at the entry itself. Folders are still
// looked at, for their identity and file system, and links for their kind of temporary name; an
// entry of unknown type is looked at in full.
std::optional<Attributes> AttributesFromType(int folderFd, const struct dirent& entry,
                                             const ListedFolder& listed)
{
    Attributes attributes;
    switch (entry.d_type) {
    case DT_REG:
        break;
    case DT_FIFO:
    case DT_SOCK:
    case DT_CHR:
    case DT_BLK:
        attributes.system = true;
        attributes.special = true;
        break;
    default:
        return std::nullopt;
    }
    attributes.hidden = entry.d_name[0] == '.';
    attributes.temporary = entry.d_type == DT_REG && IsTemporaryName(entry.d_name);
    attributes.fileSystemEntry = listed.top && IsFileSystemEntryName(entry.d_name);
    if (!attributes.system && listed.fat) {
        attributes.system = HasDosSystemBit(folderFd, entry.d_name);
    }
    return attributes;
}

// The process's file-creation mask, read once: asking for it means setting it.
mode_t ProcessUmask()
{
    static const mode_t mask = [] {
        mode_t current = ::umask(022);
        ::umask(current);
        return current;
    }();
    return mask;
}

std::atomic<bool> g_byNames = false;

// Opens a folder below an open folder, one name at a time, never through a link and never by a
// name that leads out of it; with sameMount, never onto another file system either.
int OpenBeneath(int base, const std::string& relative, int flags, bool sameMount)
{
    if (!g_byNames) {
        struct open_how how
        {
        };
        how.flags = static_cast<std::uint64_t>(flags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        how.resolve =
            RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | (sameMount ? RESOLVE_NO_XDEV : 0);
        long fd = ::syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how);
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != ENAMETOOLONG)) {
            return static_cast<int>(fd);
        }
        // A path longer than the system takes in one call is still reached one name at a time.
        if (errno != ENAMETOOLONG) {
            g_byNames = true; // no openat2 here (or a sandbox refuses it)
        }
    }
    struct stat baseInfo
    {
    };
    if (sameMount && ::fstat(base, &baseInfo) != 0) {
        return -1;
    }
    int fd = ::fcntl(base, F_DUPFD_CLOEXEC, 0);
    std::size_t at = 0;
    while (fd >= 0 && at < relative.size()) {
        std::size_t end = relative.find('/', at);
        if (end == std::string::npos) {
            end = relative.size();
        }
        const std::string name = relative.substr(at, end - at);
        at = end + 1;
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            ::close(fd);
            errno = EXDEV;
            return -1;
        }
        const bool last = at >= relative.size();
        int next = ::openat(fd, name.c_str(), (last ? flags : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ErrnoKeeper keep;
        ::close(fd);
        fd = next;
        struct stat info
        {
        };
        if (fd >= 0 && sameMount && (::fstat(fd, &info) != 0 || info.st_dev != baseInfo.st_dev)) {
            ::close(fd);
            errno = EXDEV;
            fd = -1;
        }
    }
    if (fd >= 0 && (flags & O_PATH) == 0 && relative.find_first_not_of("/.") == std::string::npos) {
        // The folder itself, asked for with more than a path handle.
        int reopened = ::openat(fd, ".", flags | O_DIRECTORY | O_CLOEXEC);
        ErrnoKeeper keep;
        ::close(fd);
        fd = reopened;
    }
    return fd;
}

std::string WithoutDelimiter(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    return trimmed;
}

FileId IdOf(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

constexpr char kAclAccess[] = "system.posix_acl_access";

// The permissions of the owning group in an ACL (its group entry limited by its mask), as mode
// bits; empty when the value is not an ACL that has one.
std::optional<mode_t> AclGroupBits(const std::string& acl)
{
    // Linux keeps an ACL as a 4-byte version followed by 8-byte entries: tag, permissions, id.
    constexpr std::uint16_t kGroupObject = 0x04;
    constexpr std::uint16_t kMask = 0x10;
    std::optional<unsigned> group;
    unsigned mask = 7;
    for (std::size_t at = 4; at + 8 <= acl.size(); at += 8) {
        auto byte = [&acl](std::size_t i) {
            return static_cast<unsigned>(static_cast<unsigned char>(acl[i]));
        };
        const unsigned tag = byte(at) | (byte(at + 1) << 8);
        const unsigned permissions = (byte(at + 2) | (byte(at + 3) << 8)) & 7;
        if (tag == kGroupObject) {
            group = permissions;
        } else if (tag == kMask) {
            mask = permissions;
        }
    }
    if (!group) {
        return std::nullopt;
    }
    return static_cast<mode_t>((*group & mask) << 3);
}

// Copies a file's user extended attributes and its access ACL, where both sides keep them. When
// the ACL can't be copied, the copy's group bits are narrowed to what the ACL grants the group:
// the mode shows the ACL's mask there, which may be wider.
void CopyExtendedAttributes(int sourceFd, int targetFd, mode_t mode)
{
    std::vector<char> names(256);
    ssize_t length = 0;
    for (;;) {
        length = ::flistxattr(sourceFd, names.data(), names.size());
        if (length >= 0 || errno != ERANGE) {
            break;
        }
        names.resize(names.size() * 4);
    }
    if (length <= 0) {
        return; // none, or a file system that keeps none
    }
    std::string value;
    for (ssize_t at = 0; at < length;) {
        const std::string name(names.data() + at);
        at += static_cast<ssize_t>(name.size()) + 1;
        if (name.rfind("user.", 0) != 0 && name != kAclAccess) {
            continue;
        }
        ssize_t size = ::fgetxattr(sourceFd, name.c_str(), nullptr, 0);
        if (size < 0) {
            continue;
        }
        value.resize(static_cast<std::size_t>(size));
        size = ::fgetxattr(sourceFd, name.c_str(), value.data(), value.size());
        if (size < 0) {
            continue;
        }
        value.resize(static_cast<std::size_t>(size));
        if (::fsetxattr(targetFd, name.c_str(), value.data(), value.size(), 0) != 0 && name == kAclAccess) {
            if (auto group = AclGroupBits(value)) {
                ::fchmod(targetFd, (mode & ~static_cast<mode_t>(S_IRWXG)) | (*group & mode & S_IRWXG));
            }
        }
    }
}

} // namespace

namespace {

// Hands the reason of a call that set errno when it failed to a caller that asked for it.
void GiveReason(bool succeeded, std::error_code* reason)
{
    if (reason) {
        *reason = FsResult::FromErrno(succeeded).Error();
    }
}

} // namespace

std::optional<FileTime> PosixFileSystem::ReadFileTime(const std::string& path, std::error_code* reason)
{
    errno = 0;
    std::optional<FileTime> time = ReadTime(path);
    GiveReason(static_cast<bool>(time), reason);
    return time;
}

FsResult PosixFileSystem::CopyFile(const std::string& source, const std::string& target, bool targetAbsent,
                                   const CopyProgress& progress)
{
    errno = 0;
    return FsResult::FromErrno(Copy(source, target, targetAbsent, progress));
}

FsResult PosixFileSystem::DeleteFile(const std::string& path, std::optional<FileId> folder)
{
    errno = 0;
    return FsResult::FromErrno(Delete(path, folder));
}

FsResult PosixFileSystem::DeleteFolder(const std::string& path, std::optional<FileId> folder,
                                       const std::function<void()>& perEntry)
{
    errno = 0;
    return FsResult::FromErrno(DeleteTree(path, folder, perEntry));
}

FsResult PosixFileSystem::RenameEntry(const std::string& path, const std::string& newName)
{
    errno = 0;
    return FsResult::FromErrno(Rename(path, newName));
}

FsResult PosixFileSystem::MoveToTrash(const std::string& path, std::optional<FileId> folder)
{
    errno = 0;
    return FsResult::FromErrno(TrashEntry(path, folder));
}

void PosixFileSystem::ResolveByNames(bool byNames)
{
    g_byNames = byNames;
}

PosixFileSystem::PassFolders::~PassFolders()
{
    for (PassFolder& folder : folders) {
        if (folder.fd >= 0) {
            ::close(folder.fd);
        }
    }
}

int PosixFileSystem::InjectedError(FsCall, const std::string&)
{
    return 0;
}

std::unique_ptr<FileSystem> PosixFileSystem::ForWorker()
{
    // Each instance keeps folder handles of its own; the kernel does the rest.
    if (!m_parallel) {
        return nullptr;
    }
    auto worker = std::make_unique<PosixFileSystem>(true);
    worker->m_swept = m_swept; // a folder is looked through for leftovers once, by either thread
    worker->m_pass = m_pass;
    worker->m_leftovers = m_leftovers;
    return worker;
}

PosixFileSystem::~PosixFileSystem()
{
    ForgetFolders();
}

void PosixFileSystem::BeginPass(const std::vector<std::string>& folders)
{
    ForgetFolders();
    auto pass = std::make_shared<PassFolders>();
    for (const std::string& path : folders) {
        PassFolder folder;
        folder.path = WithoutDelimiter(path);
        // The folders themselves are the user's choice, links on their way included.
        folder.fd = ::open(folder.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        struct stat info
        {
        };
        if (folder.fd >= 0 && ::fstat(folder.fd, &info) == 0) {
            folder.id = IdOf(info);
        }
        pass->folders.push_back(std::move(folder));
    }
    m_pass = std::move(pass);
}

bool PosixFileSystem::PassFoldersInPlace()
{
    std::lock_guard<std::mutex> lock(m_pass->mutex);
    for (const PassFolder& folder : m_pass->folders) {
        struct stat info
        {
        };
        // A drive unmounted beneath the pass leaves its bare mount point at the path.
        if (folder.fd >= 0 && (::stat(folder.path.c_str(), &info) != 0 || !(IdOf(info) == folder.id))) {
            return false;
        }
    }
    return true;
}

int PosixFileSystem::OpenFolder(const std::string& path, int flags, bool sameMount)
{
    const std::string folder = WithoutDelimiter(path);
    std::lock_guard<std::mutex> lock(m_pass->mutex);
    PassFolder* base = nullptr;
    for (PassFolder& candidate : m_pass->folders) {
        const std::string& root = candidate.path;
        const bool below = folder.compare(0, root.size(), root) == 0
            && (folder.size() == root.size() || root == "/" || folder[root.size()] == '/');
        if (below && (!base || root.size() > base->path.size())) {
            base = &candidate;
        }
    }
    if (!base) {
        return ::open(folder.c_str(), flags | O_DIRECTORY | O_CLOEXEC);
    }
    if (base->fd < 0) {
        // Made since the pass began (the first copy into a new target).
        base->fd = ::open(base->path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        struct stat info
        {
        };
        if (base->fd < 0 || ::fstat(base->fd, &info) != 0) {
            return -1;
        }
        base->id = IdOf(info);
    }
    std::string relative = folder.substr(base->path.size());
    while (!relative.empty() && relative.front() == '/') {
        relative.erase(0, 1);
    }
    if (relative.empty()) {
        // The pass's folder itself: one deleted since the pass began is gone, not empty.
        struct stat info
        {
        };
        if (::fstat(base->fd, &info) != 0 || info.st_nlink == 0) {
            errno = ENOENT;
            return -1;
        }
        relative = ".";
    }
    return OpenBeneath(base->fd, relative, flags, sameMount);
}

int PosixFileSystem::OpenFolderToDelete(const std::string& path, std::optional<FileId> expected,
                                        std::string& name)
{
    const std::string entry = WithoutDelimiter(path);
    auto slash = entry.rfind('/');
    if (slash == std::string::npos || slash + 1 >= entry.size()) {
        errno = EINVAL;
        return -1;
    }
    name = entry.substr(slash + 1);
    int fd = OpenFolder(slash == 0 ? std::string("/") : entry.substr(0, slash), O_PATH, true);
    struct stat info
    {
    };
    if (fd >= 0 && expected && (::fstat(fd, &info) != 0 || !(IdOf(info) == *expected))) {
        ::close(fd);
        errno = ESTALE; // not the folder that was listed: a link or another folder took its place
        return -1;
    }
    return fd;
}

int PosixFileSystem::OpenEntryToRemove(const std::string& path, std::optional<FileId> expected,
                                       std::string& name, struct stat& info)
{
    int folder = OpenFolderToDelete(path, expected, name);
    if (folder == -1) {
        return -1;
    }
    const bool found = ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found || IsSpecialFile(info.st_mode)) {
        // A FIFO, socket or device is never the mirror's to remove.
        const int error = found ? EPERM : errno;
        ::close(folder);
        errno = error;
        return -1;
    }
    return folder;
}

int PosixFileSystem::FolderOf(const std::string& path, std::string& name)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        name = path;
        return AT_FDCWD;
    }
    name = path.substr(slash + 1);
    std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    for (const KeptFolder& kept : m_kept) {
        if (kept.fd >= 0 && kept.path == folder) {
            return kept.fd;
        }
    }
    int fd = OpenFolder(folder, O_PATH);
    if (fd < 0) {
        return -1;
    }
    KeptFolder& slot = m_kept[m_nextKept];
    m_nextKept = (m_nextKept + 1) % 2;
    if (slot.fd >= 0) {
        ::close(slot.fd);
    }
    slot = {folder, fd};
    return fd;
}

void PosixFileSystem::ForgetFolders()
{
    for (KeptFolder& kept : m_kept) {
        if (kept.fd >= 0) {
            ErrnoKeeper keep;
            ::close(kept.fd);
        }
        kept = {};
    }
}

FsResult PosixFileSystem::ListFolder(const std::string& folder, std::vector<DirEntry>& entries,
                                     ListDetail detail)
{
    if (int error = InjectedError(FsCall::List, folder)) {
        return FsResult(std::error_code(error, std::generic_category()));
    }
    errno = 0;
    int folderFd = OpenFolder(folder, O_RDONLY);
    if (folderFd < 0) {
        return FsResult::FromErrno(false);
    }
    DIR* dir = ::fdopendir(folderFd);
    if (!dir) {
        ErrnoKeeper keep;
        ::close(folderFd);
        return FsResult::FromErrno(false);
    }
    int fd = ::dirfd(dir);
    ListedFolder listed = LookAtFolder(fd);
    if (detail == ListDetail::Full) {
        listed.local = OnFat(fd, listed.device);
    }
    bool complete = true;
    int failure = 0; // why the folder could not be read to its end
    bool leftovers = false; // a temporary file of a copy, perhaps a killed one
    for (;;) {
        errno = 0;
        struct dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0) {
                complete = false;
                failure = errno;
            }
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        if (detail == ListDetail::Names) {
            if (auto attributes = AttributesFromType(fd, *entry, listed)) {
                leftovers = leftovers || attributes->temporary;
                entries.push_back({name, *attributes, std::nullopt});
                continue;
            }
        }
        struct stat info
        {
        };
        int error = InjectedError(FsCall::ReadTime, EntryPath(folder, name));
        if (error != 0 || ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (error != 0) {
                errno = error;
            }
            if (errno == ENOENT) {
                continue; // vanished since the folder was read
            }
            // The entry is there but can't be looked at, so the listing is not complete. A file is
            // still listed, without a time, so that its copy fails where the log shows it.
            complete = false;
            failure = errno;
            if (detail == ListDetail::Full && entry->d_type == DT_REG) {
                DirEntry unread{name, {}, std::nullopt};
                unread.attributes.hidden = name[0] == '.';
                entries.push_back(unread);
            }
            continue;
        }
        std::optional<FileTime> time;
        Attributes attributes =
            AttributesFrom(fd, name, info, listed, detail == ListDetail::Full ? &time : nullptr);
        leftovers = leftovers || attributes.temporary;
        entries.push_back({name, attributes, time});
    }
    ::closedir(dir);
    {
        std::lock_guard<std::mutex> lock(m_leftovers->mutex);
        const std::string listedFolder = WithoutDelimiter(folder) + "/";
        if (leftovers) {
            m_leftovers->folders.insert(listedFolder);
            m_leftovers->clean.erase(listedFolder);
        } else if (complete) {
            m_leftovers->clean.insert(listedFolder);
        }
    }
    if (complete) {
        return {};
    }
    return FsResult(std::error_code(failure != 0 ? failure : EIO, std::generic_category()));
}

bool PosixFileSystem::CanListFolder(const std::string& folder)
{
    if (int error = InjectedError(FsCall::List, folder)) {
        errno = error;
        return false;
    }
    int fd = OpenFolder(folder, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

std::optional<FileTime> PosixFileSystem::ReadTime(const std::string& path)
{
    if (int error = InjectedError(FsCall::ReadTime, path)) {
        errno = error;
        return std::nullopt;
    }
    std::string name;
    int folder = FolderOf(path, name);
    struct stat info
    {
    };
    if (folder == -1 || name.empty() || ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (folder != -1 && name.empty()) {
            errno = EISDIR;
        }
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return std::nullopt;
    }
    if (IsSpecialFile(info.st_mode)) {
        errno = EINVAL; // never a file of the mirror, and never to be replaced
        return std::nullopt;
    }
    return FileTimeOf(info, OnFat(folder, info.st_dev));
}

bool PosixFileSystem::OnFat(int folderFd, dev_t device)
{
    // Asked for every file whose time is read: the answer is kept per drive.
    if (auto known = m_fatDevices.find(device); known != m_fatDevices.end()) {
        return known->second;
    }
    const bool fat = IsFatFolder(folderFd);
    m_fatDevices.emplace(device, fat);
    return fat;
}

bool PosixFileSystem::CopyData(int sourceFd, int targetFd, const std::string& target,
                               const struct stat& sourceInfo, const CopyProgress& progress)
{
    // The copy takes the size the source had when it was opened; a file that grows meanwhile gets
    // a newer time than the one the copy carries, so the next run copies it again.
    const off_t size = sourceInfo.st_size;
    const auto total = static_cast<std::uint64_t>(size);
    bool first = true;
    auto wroteFirst = [&] {
        if (!first) {
            return true;
        }
        first = false;
        if (int error = InjectedError(FsCall::CopyWrite, target)) {
            errno = error;
            return false;
        }
        return true;
    };
    // Within a file system that shares extents (btrfs, xfs) the copy shares the source's: no data
    // moves, and holes stay holes. Only a source on such a file system is tried, and where sharing
    // fails once for want of support, that drive is not tried again.
    static std::mutex cloneMutex;
    static std::unordered_map<dev_t, bool> canClone;
    bool tryClone = false;
    if (size > 0) {
        std::lock_guard<std::mutex> lock(cloneMutex);
        auto known = canClone.find(sourceInfo.st_dev);
        if (known == canClone.end()) {
            struct statfs info
            {
            };
            const bool sharing = ::fstatfs(sourceFd, &info) == 0
                && (info.f_type == kBtrfsSuperMagic || info.f_type == kXfsSuperMagic);
            known = canClone.emplace(sourceInfo.st_dev, sharing).first;
        }
        tryClone = known->second;
    }
    struct stat targetInfo
    {
    };
    if (tryClone && ::fstat(targetFd, &targetInfo) == 0 && targetInfo.st_dev == sourceInfo.st_dev) {
        if (::ioctl(targetFd, FICLONE, sourceFd) == 0) {
            return wroteFirst();
        }
        if (errno == EOPNOTSUPP || errno == EINVAL || errno == ENOTTY) {
            std::lock_guard<std::mutex> lock(cloneMutex);
            canClone[sourceInfo.st_dev] = false;
        }
    }

    // Fewer blocks than the size needs: the file has holes, and only its data is copied.
    const bool sparse = sourceInfo.st_blocks * 512 < size;
    bool kernelCopy = true;
    std::vector<char> buffer;
    off_t at = 0;
    off_t extentEnd = sparse ? 0 : size;
    while (at < size) {
        if (at >= extentEnd) {
            off_t data = ::lseek(sourceFd, at, SEEK_DATA);
            if (data < 0) {
                if (errno != ENXIO) {
                    return false;
                }
                break; // a hole up to the end
            }
            off_t hole = ::lseek(sourceFd, data, SEEK_HOLE);
            if (hole < 0) {
                return false;
            }
            at = std::min(data, size);
            extentEnd = std::min(hole, size);
            continue;
        }
        // Large files go in steps, so that the caller can show progress and stop between them.
        const auto rest = static_cast<std::size_t>(
            std::min<off_t>(extentEnd - at, progress ? static_cast<off_t>(kCopyStep) : extentEnd - at));
        ssize_t done = -1;
        if (kernelCopy) {
            loff_t in = at;
            loff_t out = at;
            done = ::copy_file_range(sourceFd, &in, targetFd, &out, rest, 0);
            if (done < 0 && first
                && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                // Not offered between these two file systems: copy through our own buffer.
                kernelCopy = false;
                continue;
            }
        } else {
            if (buffer.empty()) {
                buffer.resize(kCopyBlock);
            }
            done = ::pread(sourceFd, buffer.data(), std::min(rest, buffer.size()), at);
            if (done > 0) {
                if (int error = WriteAllAt(targetFd, {buffer.data(), static_cast<std::size_t>(done)}, at)) {
                    errno = error;
                    return false;
                }
            }
        }
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (done == 0) {
            break; // the source shrank since it was opened
        }
        const off_t stepStart = at;
        at += done;
        if (!wroteFirst()) {
            return false;
        }
        if (progress && size > static_cast<off_t>(kCopyStep) && at < size) {
            // The step goes out to the drive while the next is copied, and the one before must be
            // there first: the final sync then has little left, and an abort is heard between
            // steps on a slow stick too, not only once the whole file has been written out.
            ::sync_file_range(targetFd, stepStart, done, SYNC_FILE_RANGE_WRITE);
            if (stepStart > 0) {
                const off_t previous = std::max<off_t>(0, stepStart - static_cast<off_t>(kCopyStep));
                ::sync_file_range(targetFd, previous, stepStart - previous,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE
                                      | SYNC_FILE_RANGE_WAIT_AFTER);
            }
            if (!progress(static_cast<std::uint64_t>(at), total)) {
                errno = ECANCELED;
                return false;
            }
        }
    }
    // A hole at the end has no data to write, only the size.
    return !sparse || ::ftruncate(targetFd, size) == 0;
}

bool PosixFileSystem::Copy(const std::string& source, const std::string& target, bool targetAbsent,
                           const CopyProgress& progress)
{
    if (int error = InjectedError(FsCall::Copy, target)) {
        errno = error;
        return false;
    }
    std::string sourceName;
    int sourceFolder = FolderOf(source, sourceName);
    struct stat listed
    {
    };
    if (sourceFolder == -1 || sourceName.empty()
        || ::fstatat(sourceFolder, sourceName.c_str(), &listed, AT_SYMLINK_NOFOLLOW) != 0) {
        errno = sourceFolder != -1 && sourceName.empty() ? EISDIR : errno;
        return false;
    }
    if (S_ISLNK(listed.st_mode)) {
        return CopyLink(sourceFolder, sourceName, listed, target);
    }
    if (!S_ISREG(listed.st_mode)) {
        // A folder or a special file; a FIFO or a device is never opened.
        errno = S_ISDIR(listed.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    // Never through a link, and without waiting: what is opened must still be the regular file
    // just looked at before a byte is read.
    int sourceFd = ::openat(sourceFolder, sourceName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (sourceFd < 0) {
        return false;
    }
    FdCloser sourceCloser(sourceFd);
    struct stat sourceInfo
    {
    };
    if (::fstat(sourceFd, &sourceInfo) != 0) {
        return false;
    }
    if (!S_ISREG(sourceInfo.st_mode) || !(IdOf(sourceInfo) == IdOf(listed))) {
        errno = ESTALE;
        return false;
    }
    std::string targetName;
    int targetFolder = FolderOf(target, targetName);
    if (targetFolder == -1 || targetName.empty()) {
        errno = targetFolder == -1 ? errno : EISDIR;
        return false;
    }
    struct stat targetInfo
    {
    };
    if (!targetAbsent && ::fstatat(targetFolder, targetName.c_str(), &targetInfo, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(targetInfo.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if (IsSpecialFile(targetInfo.st_mode)) {
            errno = EINVAL;
            return false;
        }
        // A target the user made read-only is kept; one read-only because its source is, is not.
        if (!S_ISLNK(targetInfo.st_mode) && (targetInfo.st_mode & S_IWUSR) == 0
            && (sourceInfo.st_mode & S_IWUSR) != 0) {
            errno = EACCES;
            return false;
        }
    }
    struct stat targetFolderInfo
    {
    };
    if (sourceInfo.st_size >= kFatFileLimit && ::fstat(targetFolder, &targetFolderInfo) == 0
        && OnFat(targetFolder, targetFolderInfo.st_dev)) {
        errno = EFBIG; // refused now, not after 4 GiB were written
        return false;
    }

    // The data goes into a temporary file beside the target and replaces it only when complete, so
    // an interrupted copy never leaves a truncated target that looks up to date. A new target is
    // written into a file without a name, where the file system offers one, and given its name
    // when complete: nothing is left behind even when the process is killed, and the folder is
    // locked only for that last step, not while the file is made.
    SweepFolderOnce(targetFolder, FolderText(target));
    mode_t mode = sourceInfo.st_mode & 07777;
    std::string temporary;
    int targetFd =
        targetAbsent ? ::openat(targetFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode & 0777) : -1;
    const bool unnamed = targetFd >= 0;
    if (!unnamed) {
        targetFd = CreateTemporary(targetFolder, mode & 0777, temporary);
    }
    if (targetFd < 0) {
        return false;
    }
    FdCloser targetCloser(targetFd);
    const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    auto injected = [this, &target](FsCall call) {
        int error = InjectedError(call, target);
        if (error != 0) {
            errno = error;
        }
        return error != 0;
    };
    // Root keeps the source's owner and group; anyone else owns the copy. The setuid and setgid
    // bits stay only where owner and group are the source's, or the copy would hand its new
    // owner's privilege to whoever made the source.
    static const uid_t user = ::geteuid(); // the program never changes who it runs as
    static const gid_t group = ::getegid();
    bool owned = true;
    if (user == 0 && (sourceInfo.st_uid != user || sourceInfo.st_gid != group)) {
        owned = ::fchown(targetFd, sourceInfo.st_uid, sourceInfo.st_gid) == 0;
    }
    if (mode & (S_ISUID | S_ISGID)) {
        struct stat made
        {
        };
        if (!owned || ::fstat(targetFd, &made) != 0 || made.st_uid != sourceInfo.st_uid
            || made.st_gid != sourceInfo.st_gid) {
            mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
        }
    }
    bool copied = CopyData(sourceFd, targetFd, target, sourceInfo, progress)
        && ((mode & ~ProcessUmask()) == (mode & 0777) || ::fchmod(targetFd, mode) == 0);
    if (copied) {
        CopyExtendedAttributes(sourceFd, targetFd, mode);
    }
    // The data is on the drive before the copy takes the target's name: after a power cut the
    // target is its old or its new content, never an empty or torn file with the new time. The
    // data alone is written and waited for, without a flush of the file system's journal for each
    // file: the journal records the new blocks before the rename that comes later, and the pass
    // syncs the whole drive before its summary.
    copied = copied && ::futimens(targetFd, times) == 0 && SyncWritten(targetFd, Durability::InPass);
    if (unnamed) {
        // A target that appeared since it was found missing is not replaced unseen: the copy
        // fails, and the next run compares the two.
        copied = copied && !injected(FsCall::CopyRename) && LinkUnnamed(targetFd, targetFolder, targetName)
            && ::close(targetCloser.Release()) == 0;
        return copied;
    }
    copied = copied && ::close(targetCloser.Release()) == 0 && !injected(FsCall::CopyRename)
        && ::renameat(targetFolder, temporary.c_str(), targetFolder, targetName.c_str()) == 0;
    if (!copied) {
        ErrnoKeeper keep;
        ::unlinkat(targetFolder, temporary.c_str(), 0);
    }
    return copied;
}

bool PosixFileSystem::CopyLink(int sourceFolder, const std::string& sourceName, const struct stat& sourceInfo,
                               const std::string& target)
{
    // The link's own text, never what it points to.
    std::string text(static_cast<std::size_t>(sourceInfo.st_size > 0 ? sourceInfo.st_size : 64) + 1, '\0');
    ssize_t length = -1;
    for (;;) {
        length = ::readlinkat(sourceFolder, sourceName.c_str(), text.data(), text.size());
        if (length < 0) {
            return false;
        }
        if (static_cast<std::size_t>(length) < text.size()) {
            break;
        }
        text.resize(text.size() * 2); // it grew since it was looked at
    }
    text.resize(static_cast<std::size_t>(length));
    std::string targetName;
    int targetFolder = FolderOf(target, targetName);
    if (targetFolder == -1 || targetName.empty()) {
        errno = targetFolder == -1 ? errno : EISDIR;
        return false;
    }
    struct stat targetInfo
    {
    };
    if (::fstatat(targetFolder, targetName.c_str(), &targetInfo, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(targetInfo.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if (IsSpecialFile(targetInfo.st_mode)) {
            errno = EINVAL;
            return false;
        }
        if (!S_ISLNK(targetInfo.st_mode) && (targetInfo.st_mode & S_IWUSR) == 0) {
            errno = EACCES;
            return false;
        }
    }
    SweepFolderOnce(targetFolder, FolderText(target));
    std::string temporary;
    bool made = false;
    for (int attempt = 0; attempt < 100 && !made; ++attempt) {
        temporary = TemporaryName();
        made = ::symlinkat(text.c_str(), targetFolder, temporary.c_str()) == 0;
        if (!made && errno != EEXIST) {
            return false;
        }
    }
    if (!made) {
        return false;
    }
    const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    if (::geteuid() == 0) {
        ::fchownat(targetFolder, temporary.c_str(), sourceInfo.st_uid, sourceInfo.st_gid,
                   AT_SYMLINK_NOFOLLOW);
    }
    bool copied = ::utimensat(targetFolder, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0
        && InjectedError(FsCall::CopyRename, target) == 0
        && ::renameat(targetFolder, temporary.c_str(), targetFolder, targetName.c_str()) == 0;
    if (!copied) {
        ErrnoKeeper keep;
        ::unlinkat(targetFolder, temporary.c_str(), 0);
    }
    return copied;
}

bool PosixFileSystem::LinkUnnamed(int fd, int folder, const std::string& name)
{
    // Linking a descriptor by itself needs a capability that root has; anyone may link it through
    // its entry in /proc.
    if (::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) {
        return true;
    }
    if (errno != EPERM && errno != ENOENT) {
        return false;
    }
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, proc.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void PosixFileSystem::SweepFolderOnce(int folderFd, const std::string& folder)
{
    {
        std::lock_guard<std::mutex> lock(m_swept->mutex);
        if (!m_swept->folders.insert(folder).second) {
            return;
        }
    }
    ostrel::RemoveLeftoverTemporaries(folderFd);
}

void PosixFileSystem::RemoveLeftovers(const std::string& folder, bool below)
{
    const std::string top = WithoutDelimiter(folder) + "/";
    std::vector<std::string> folders;
    {
        std::lock_guard<std::mutex> lock(m_leftovers->mutex);
        if (!below) {
            // A folder listed moments ago without a temporary file needs no second look.
            if (m_leftovers->clean.count(top) == 0) {
                folders.push_back(top);
            }
        } else {
            if (m_leftovers->clean.count(top) == 0) {
                folders.push_back(top);
            }
            // What the listings saw below the folder, which may be many levels down; what they
            // found clean there is forgotten, so that a later pass looks again.
            for (auto it = m_leftovers->folders.lower_bound(top);
                 it != m_leftovers->folders.end() && it->compare(0, top.size(), top) == 0;) {
                if (*it != top) {
                    folders.push_back(*it);
                }
                it = m_leftovers->folders.erase(it);
            }
            for (auto it = m_leftovers->clean.lower_bound(top);
                 it != m_leftovers->clean.end() && it->compare(0, top.size(), top) == 0;) {
                it = m_leftovers->clean.erase(it);
            }
        }
    }
    for (const std::string& path : folders) {
        {
            std::lock_guard<std::mutex> lock(m_swept->mutex);
            if (m_swept->folders.count(path) != 0) {
                continue;
            }
        }
        int fd = OpenFolder(path, O_PATH);
        if (fd >= 0) {
            SweepFolderOnce(fd, path);
            ::close(fd);
        }
    }
}

bool PosixFileSystem::Delete(const std::string& path, std::optional<FileId> folderId)
{
    if (int error = InjectedError(FsCall::Delete, path)) {
        errno = error;
        return false;
    }
    if (!path.empty() && path.back() == '/') {
        errno = EISDIR;
        return false;
    }
    std::string name;
    struct stat info
    {
    };
    int folder = OpenEntryToRemove(path, folderId, name, info);
    if (folder == -1) {
        return false;
    }
    FdCloser closer(folder);
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    // A read-only file goes like any other: the folder's permissions decide, as everywhere on POSIX.
    return ::unlinkat(folder, name.c_str(), 0) == 0;
}

bool PosixFileSystem::DeleteTree(const std::string& path, std::optional<FileId> folderId,
                                 const std::function<void()>& perEntry)
{
    std::string name;
    int parent = OpenFolderToDelete(path, folderId, name);
    if (parent == -1) {
        return false;
    }
    FdCloser parentCloser(parent);
    struct stat parentInfo
    {
    };
    int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false; // gone, not a folder, or a link: never emptied through a link
    }
    FdCloser closer(fd);
    struct stat info
    {
    };
    if (::fstat(parent, &parentInfo) != 0 || ::fstat(fd, &info) != 0) {
        return false;
    }
    if (info.st_dev != parentInfo.st_dev) {
        errno = EXDEV; // something is mounted there: not the target's to delete
        return false;
    }
    const std::string folder = WithoutDelimiter(path) + "/";
    EmptyFolder(fd, folder, info.st_dev, perEntry);
    if (int error = InjectedError(FsCall::RemoveFolder, folder)) {
        errno = error;
        return false;
    }
    ForgetFolders();
    return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

bool PosixFileSystem::EmptyFolder(int folderFd, const std::string& folder, dev_t device,
                                  const std::function<void()>& perEntry)
{
    if (int error = InjectedError(FsCall::List, folder)) {
        errno = error;
        return false;
    }
    int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) {
            ::close(listFd);
        }
        return false;
    }
    const ListedFolder listed = LookAtFolder(folderFd);
    std::vector<std::pair<std::string, Attributes>> entries;
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        struct stat info
        {
        };
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0
            || ::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        entries.emplace_back(name, AttributesFrom(folderFd, name, info, listed));
    }
    ::closedir(dir);
    for (const auto& [name, attributes] : entries) {
        perEntry();
        if (PassesOver(Walk::DeleteFolder, attributes)
            || (attributes.folder && attributes.id.device != device)) {
            continue;
        }
        const std::string entryPath = folder + name;
        if (attributes.folder) {
            int child = ::openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0) {
                continue;
            }
            EmptyFolder(child, entryPath + "/", device, perEntry);
            ::close(child);
            if (InjectedError(FsCall::RemoveFolder, entryPath + "/") == 0) {
                ::unlinkat(folderFd, name.c_str(), AT_REMOVEDIR);
            }
        } else if (InjectedError(FsCall::Delete, entryPath) == 0) {
            ::unlinkat(folderFd, name.c_str(), 0);
        }
    }
    return true;
}

bool PosixFileSystem::MakeFolder(const std::string& path)
{
    if (int error = InjectedError(FsCall::CreateFolder, path)) {
        errno = error;
        return false;
    }
    std::string name;
    int parent = FolderOf(WithoutDelimiter(path), name);
    if (parent == -1) {
        return false;
    }
    if (name.empty()) {
        errno = EEXIST; // the root
        return false;
    }
    if (::mkdirat(parent, name.c_str(), 0777) != 0) {
        return false;
    }
    // A folder just made holds no leftovers of earlier copies.
    std::lock_guard<std::mutex> lock(m_swept->mutex);
    m_swept->folders.insert(path.empty() || path.back() == '/' ? path : path + "/");
    return true;
}

bool PosixFileSystem::Rename(const std::string& path, const std::string& newName)
{
    if (int error = InjectedError(FsCall::Rename, path)) {
        errno = error;
        return false;
    }
    if (newName.empty() || newName == "." || newName == ".." || newName.find('/') != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    std::string name;
    int folder = OpenFolderToDelete(path, std::nullopt, name);
    if (folder == -1) {
        return false;
    }
    FdCloser closer(folder);
    if (name == newName) {
        return true;
    }
    ForgetFolders();
    // The kernel takes a rename onto a name that leads to the same entry (the same name in other
    // case, where case is folded) as done without changing anything; a step through a name of
    // its own makes it a real rename.
    const std::string temporary = TemporaryName();
    if (::renameat(folder, name.c_str(), folder, temporary.c_str()) != 0) {
        return false;
    }
    bool renamed = ::renameat2(folder, temporary.c_str(), folder, newName.c_str(), RENAME_NOREPLACE) == 0;
    if (!renamed && (errno == EINVAL || errno == ENOSYS)) {
        // A file system that can't refuse to replace by itself (FUSE drivers of old).
        struct stat info
        {
        };
        if (::fstatat(folder, newName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = EEXIST;
        } else {
            renamed = ::renameat(folder, temporary.c_str(), folder, newName.c_str()) == 0;
        }
    }
    if (!renamed) {
        ErrnoKeeper keep;
        ::renameat(folder, temporary.c_str(), folder, name.c_str());
    }
    return renamed;
}

bool PosixFileSystem::FoldsCase(const std::string& folder, bool mayProbe)
{
    std::string at = WithoutDelimiter(folder);
    int fd = OpenFolder(at, O_RDONLY);
    // A folder not made yet will take after the folder it is made in.
    while (fd < 0 && errno == ENOENT && at.size() > 1 && at.rfind('/') != std::string::npos) {
        const std::size_t slash = at.rfind('/');
        at = slash == 0 ? std::string("/") : at.substr(0, slash);
        fd = OpenFolder(at, O_RDONLY);
    }
    if (fd < 0) {
        return false;
    }
    FdCloser closer(fd);
    struct statfs fsInfo
    {
    };
    if (::fstatfs(fd, &fsInfo) != 0) {
        return false;
    }
    switch (fsInfo.f_type) {
    case kMsdosSuperMagic:
    case kExfatSuperMagic:
        return true;
    case kExt4SuperMagic:
    case kF2fsSuperMagic:
    case kTmpfsMagic: {
        // Case folding is a flag of each folder there.
        int flags = 0;
        return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & kCasefoldFlag) != 0;
    }
    case kXfsSuperMagic:
    case kBtrfsSuperMagic:
    case kRamfsMagic:
        return false;
    default:
        break;
    }
    // FUSE drivers (exFAT, FAT, NTFS) and the rest: look up a name of the folder in other case.
    struct stat self
    {
    };
    if (::fstat(fd, &self) != 0) {
        return false;
    }
    if (auto known = m_folding.find(self.st_dev); known != m_folding.end()) {
        return known->second;
    }
    auto swapCase = [](std::string name) {
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            } else if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        return name;
    };
    std::unordered_set<std::string> names;
    std::string sample;
    if (int listFd = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); listFd >= 0) {
        if (DIR* dir = ::fdopendir(listFd)) {
            while (struct dirent* entry = ::readdir(dir)) {
                names.insert(entry->d_name);
                if (sample.empty() && swapCase(entry->d_name) != entry->d_name) {
                    sample = entry->d_name;
                }
            }
            ::closedir(dir);
        } else {
            ::close(listFd);
        }
    }
    std::string probe;
    if (sample.empty()) {
        if (!mayProbe) {
            return false;
        }
        int made = CreateTemporary(fd, 0600, probe);
        if (made < 0) {
            return false;
        }
        ::close(made);
        sample = probe;
    }
    const std::string swapped = swapCase(sample);
    struct stat info
    {
    };
    const bool folds =
        names.count(swapped) == 0 && ::fstatat(fd, swapped.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!probe.empty()) {
        ::unlinkat(fd, probe.c_str(), 0);
    }
    m_folding[self.st_dev] = folds;
    return folds;
}

bool PosixFileSystem::RemoveEmptyFolder(const std::string& path)
{
    if (int error = InjectedError(FsCall::RemoveFolder, path)) {
        errno = error;
        return false;
    }
    ForgetFolders();
    std::string name;
    int parent = OpenFolderToDelete(path, std::nullopt, name);
    if (parent == -1) {
        return false;
    }
    FdCloser closer(parent);
    return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

std::optional<Attributes> PosixFileSystem::LookAt(const std::string& path)
{
    if (int error = InjectedError(FsCall::GetAttributes, path)) {
        errno = error;
        return std::nullopt;
    }
    // A folder may be named with a trailing delimiter; the entry is looked up by its name in its
    // parent, so the delimiter goes (which also keeps a link from being followed).
    std::string entry = WithoutDelimiter(path);
    int folderFd = OpenFolder(FolderText(entry), O_PATH);
    if (folderFd < 0) {
        return std::nullopt;
    }
    FdCloser closer(folderFd);
    std::string name = NameOf(entry);
    // The root has no name in a parent; it is looked up as itself, and is not hidden.
    const bool root = entry == "/";
    const char* lookup = root ? "." : name.c_str();
    struct stat info
    {
    };
    if (::fstatat(folderFd, lookup, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    if (entry.size() < path.size() && !S_ISDIR(info.st_mode) && !S_ISLNK(info.st_mode)) {
        errno = ENOTDIR; // a delimiter after a file's name names nothing
        return std::nullopt;
    }
    ListedFolder listed = LookAtFolder(folderFd);
    listed.device = info.st_dev; // an entry looked at by itself is no mount point
    Attributes attributes = AttributesFrom(folderFd, lookup, info, listed);
    if (root) {
        attributes.hidden = false;
        attributes.fileSystemEntry = false;
    }
    return attributes;
}

bool PosixFileSystem::ChangeReadOnly(const std::string& path, bool readOnly)
{
    if (int error = InjectedError(FsCall::SetAttributes, path)) {
        errno = error;
        return false;
    }
    std::string name;
    int folder = FolderOf(path, name);
    struct stat info
    {
    };
    if (folder == -1 || name.empty() || ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = EPERM; // chmod would change what a link points to; nothing else is set here
        return false;
    }
    mode_t mode = info.st_mode & 07777;
    mode = readOnly ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    int fd = ::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    FdCloser closer(fd);
    // A handle without read or write rights can still be named through /proc.
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return ::chmod(proc.c_str(), mode) == 0;
}

bool PosixFileSystem::IsFolder(const std::string& path)
{
    if (int error = InjectedError(FsCall::IsFolder, path)) {
        errno = error;
        return false;
    }
    // A trailing delimiter would make a lookup follow a link; the entry itself is asked about.
    const std::string entry = WithoutDelimiter(path);
    if (entry == "/") {
        return true;
    }
    std::string name;
    int folder = FolderOf(entry, name);
    struct stat info
    {
    };
    return folder != -1 && ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISDIR(info.st_mode);
}

std::optional<FileId> PosixFileSystem::FolderId(const std::string& path)
{
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    return IdOf(info);
}

std::vector<FileId> PosixFileSystem::FolderLineage(const std::string& path)
{
    std::vector<FileId> lineage;
    int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    while (fd >= 0) {
        struct stat info
        {
        };
        if (::fstat(fd, &info) != 0 || (!lineage.empty() && lineage.back() == IdOf(info))) {
            break; // the root is its own parent
        }
        lineage.push_back(IdOf(info));
        int parent = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = parent;
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return lineage;
}

bool PosixFileSystem::TrashEntry(const std::string& path, std::optional<FileId> folderId)
{
    if (int error = InjectedError(FsCall::Trash, path)) {
        errno = error;
        return false;
    }
    std::string name;
    struct stat info
    {
    };
    int folder = OpenEntryToRemove(path, folderId, name, info);
    if (folder == -1) {
        return false;
    }
    FdCloser closer(folder);
    ForgetFolders();
    const std::string entry = WithoutDelimiter(path);
    TrashSetup setup = TrashSetup::FromEnvironment();
    setup.beforeMove = [this, &entry] { return InjectedError(FsCall::TrashMove, entry); };
    return Trash(setup).MoveToTrashAt(folder, name, entry);
}

bool PosixFileSystem::SyncFileSystem(const std::string& folder)
{
    int fd = OpenFolder(folder, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    FdCloser closer(fd);
    return ::syncfs(fd) == 0;
}

int PosixFileSystem::OpenLogFile(const std::string& path, bool fresh)
{
    if (int error = InjectedError(FsCall::LogOpen, path)) {
        errno = error;
        return -1;
    }
    // Only a plain file is a log. A FIFO would hold the run for ever waiting for a reader, and a
    // device would take the lines somewhere else; both are looked at before anything is opened,
    // and the open itself can't block, in case the name changed in between.
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (fresh ? O_TRUNC : O_APPEND);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        return -1;
    }
    int error = 0;
    int mode = 0;
    if (::fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        error = EINVAL;
    } else if ((mode = ::fcntl(fd, F_GETFL)) < 0 || ::fcntl(fd, F_SETFL, mode & ~O_NONBLOCK) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

FsResult PosixFileSystem::CreateFolder(const std::string& path)
{
    errno = 0;
    return FsResult::FromErrno(MakeFolder(path));
}

FsResult PosixFileSystem::RemoveFolder(const std::string& path)
{
    errno = 0;
    return FsResult::FromErrno(RemoveEmptyFolder(path));
}

std::optional<Attributes> PosixFileSystem::GetAttributes(const std::string& path, std::error_code* reason)
{
    errno = 0;
    std::optional<Attributes> attributes = LookAt(path);
    GiveReason(static_cast<bool>(attributes), reason);
    return attributes;
}

FsResult PosixFileSystem::SetReadOnly(const std::string& path, bool readOnly)
{
    errno = 0;
    return FsResult::FromErrno(ChangeReadOnly(path, readOnly));
}

int PosixFileSystem::OpenLog(const std::string& path, bool fresh, std::error_code* reason)
{
    errno = 0;
    int log = OpenLogFile(path, fresh);
    GiveReason(log >= 0, reason);
    return log;
}

FsResult PosixFileSystem::WriteLog(int log, const std::string& path, std::string_view bytes)
{
    int error = InjectedError(FsCall::LogWrite, path);
    if (error == 0) {
        error = WriteAll(log, bytes);
    }
    return error == 0 ? FsResult() : FsResult(std::error_code(error, std::generic_category()));
}

void PosixFileSystem::CloseLog(int log)
{
    ErrnoKeeper keep;
    ::fsync(log);
    ::close(log);
}

} // namespace ostrel
