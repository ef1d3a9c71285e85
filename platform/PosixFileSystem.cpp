#include "PosixFileSystem.h"

#include "FdGuard.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr long kMsdosSuperMagic = 0x4d44;
constexpr std::size_t kCopyBlock = 1 << 20;

// Temporary files of copies are named ".ostrel-<pid>-<n>", after the process that makes them.
constexpr char kTemporaryPrefix[] = ".ostrel-";

// Whether a name is one that CreateTemporary makes; owner gets the process id in the name.
bool IsTemporaryName(const char* name, pid_t* owner = nullptr)
{
    constexpr std::size_t prefixLength = sizeof kTemporaryPrefix - 1;
    if (std::strncmp(name, kTemporaryPrefix, prefixLength) != 0) {
        return false;
    }
    const char* at = name + prefixLength;
    long long pid = 0;
    const char* digits = at;
    for (; *at >= '0' && *at <= '9' && at - digits < 10; ++at) {
        pid = pid * 10 + (*at - '0');
    }
    if (at == digits || *at != '-') {
        return false;
    }
    digits = ++at;
    while (*at >= '0' && *at <= '9') {
        ++at;
    }
    if (at == digits || *at != '\0') {
        return false;
    }
    if (owner) {
        *owner = static_cast<pid_t>(pid);
    }
    return true;
}

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

Attributes AttributesFrom(int folderFd, const char* name, const struct stat& info, bool fat,
                          std::optional<DosTime>* time = nullptr)
{
    Attributes attributes;
    attributes.folder = S_ISDIR(info.st_mode);
    attributes.link = S_ISLNK(info.st_mode);
    attributes.hidden = name[0] == '.';
    attributes.readOnly = !attributes.link && (info.st_mode & S_IWUSR) == 0;
    attributes.system = IsSpecialFile(info.st_mode);
    attributes.temporary = S_ISREG(info.st_mode) && IsTemporaryName(name);
    if (!attributes.system && fat && !attributes.link) {
        attributes.system = HasDosSystemBit(folderFd, name);
    }
    if (attributes.link) {
        struct stat target
        {
        };
        attributes.linkToFile = ::fstatat(folderFd, name, &target, 0) == 0 && S_ISREG(target.st_mode);
        if (time && attributes.linkToFile) {
            *time = PosixFileSystem::ToDosTime(target.st_mtim);
        }
    } else if (time && !attributes.folder) {
        *time = PosixFileSystem::ToDosTime(info.st_mtim);
    }
    attributes.id = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    return attributes;
}

// What a directory entry's type tells without a look at the entry itself. Folders are still
// looked at, for their identity, and links for what they lead to; an entry of unknown type is
// looked at in full.
std::optional<Attributes> AttributesFromType(int folderFd, const struct dirent& entry, bool fat)
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
        break;
    default:
        return std::nullopt;
    }
    attributes.hidden = entry.d_name[0] == '.';
    attributes.temporary = entry.d_type == DT_REG && IsTemporaryName(entry.d_name);
    if (!attributes.system && !attributes.link && fat) {
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

// Creates a new file with a name of its own in an open folder; the name goes to name.
int CreateTemporary(int folder, mode_t mode, std::string& name)
{
    static std::atomic<unsigned> counter = 0;
    static const std::string prefix = kTemporaryPrefix + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = prefix + std::to_string(++counter);
        int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

} // namespace

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
    return worker;
}

PosixFileSystem::~PosixFileSystem()
{
    ForgetFolders();
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
    int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
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

bool PosixFileSystem::ListFolder(const std::string& folder, std::vector<DirEntry>& entries, ListDetail detail)
{
    if (int error = InjectedError(FsCall::List, folder)) {
        errno = error;
        return false;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return false;
    }
    int fd = ::dirfd(dir);
    bool fat = OnFatFileSystem(fd);
    bool complete = true;
    for (;;) {
        errno = 0;
        struct dirent* entry = ::readdir(dir);
        if (!entry) {
            complete = errno == 0;
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        if (detail == ListDetail::Names) {
            if (auto attributes = AttributesFromType(fd, *entry, fat)) {
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
            if (detail == ListDetail::Full && entry->d_type == DT_REG) {
                DirEntry unread{name, {}, std::nullopt};
                unread.attributes.hidden = name[0] == '.';
                entries.push_back(unread);
            }
            continue;
        }
        std::optional<DosTime> time;
        Attributes attributes =
            AttributesFrom(fd, name, info, fat, detail == ListDetail::Full ? &time : nullptr);
        entries.push_back({name, attributes, time});
    }
    ErrnoKeeper keep;
    ::closedir(dir);
    return complete;
}

bool PosixFileSystem::CanListFolder(const std::string& folder)
{
    if (int error = InjectedError(FsCall::List, folder)) {
        errno = error;
        return false;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return false;
    }
    ::closedir(dir);
    return true;
}

std::optional<DosTime> PosixFileSystem::ToDosTime(const struct timespec& time)
{
    struct tm local
    {
    };
    if (!::localtime_r(&time.tv_sec, &local)) {
        return std::nullopt;
    }
    int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) {
        return std::nullopt;
    }
    auto date = static_cast<DosTime>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    // A leap second (tm_sec 60) stays within the 5-bit field as step 30.
    auto clock = static_cast<DosTime>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    return (date << 16) | clock;
}

std::optional<DosTime> PosixFileSystem::ReadFileTime(const std::string& path)
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
    if (folder == -1 || name.empty() || ::fstatat(folder, name.c_str(), &info, 0) != 0) {
        if (folder != -1 && name.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            errno = EISDIR;
        }
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return std::nullopt;
    }
    auto time = ToDosTime(info.st_mtim);
    if (!time) {
        errno = ERANGE;
    }
    return time;
}

bool PosixFileSystem::CopyData(int sourceFd, int targetFd, const std::string& target, off_t size)
{
    bool kernelCopy = true;
    bool first = true;
    std::vector<char> buffer;
    // The copy takes the size the source had when it was opened; a file that grows meanwhile gets
    // a newer time than the one the copy carries, so the next run copies it again.
    off_t copied = 0;
    while (copied < size) {
        ssize_t done = -1;
        const auto rest = static_cast<std::size_t>(size - copied);
        if (kernelCopy) {
            // All of the rest in one call: the kernel copies it in its own steps.
            done = ::copy_file_range(sourceFd, nullptr, targetFd, nullptr, rest, 0);
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
            done = ::read(sourceFd, buffer.data(), std::min(rest, buffer.size()));
            if (done > 0) {
                ssize_t written = 0;
                while (written < done) {
                    ssize_t step =
                        ::write(targetFd, buffer.data() + written, static_cast<std::size_t>(done - written));
                    if (step < 0) {
                        if (errno == EINTR) {
                            continue;
                        }
                        return false;
                    }
                    written += step;
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
            return true; // the source shrank since it was opened
        }
        copied += done;
        if (first) {
            first = false;
            if (int error = InjectedError(FsCall::CopyWrite, target)) {
                errno = error;
                return false;
            }
        }
    }
    return true;
}

bool PosixFileSystem::CopyFile(const std::string& source, const std::string& target, bool targetAbsent)
{
    if (int error = InjectedError(FsCall::Copy, target)) {
        errno = error;
        return false;
    }
    // Non-blocking, so that a FIFO among the sources can't stall the run; it is refused below.
    std::string sourceName;
    int sourceFolder = FolderOf(source, sourceName);
    int sourceFd = sourceFolder == -1 || sourceName.empty()
        ? ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
        : ::openat(sourceFolder, sourceName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
    if (!S_ISREG(sourceInfo.st_mode)) {
        errno = S_ISDIR(sourceInfo.st_mode) ? EISDIR : EINVAL;
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
        if (!S_ISLNK(targetInfo.st_mode) && (targetInfo.st_mode & S_IWUSR) == 0) {
            errno = EACCES;
            return false;
        }
    }

    // The data goes into a temporary file beside the target and replaces it only when complete, so
    // an interrupted copy never leaves a truncated target that looks up to date. A new target is
    // written into a file without a name, where the file system offers one, and given its name
    // when complete: nothing is left behind even when the process is killed, and the folder is
    // locked only for that last step, not while the file is made.
    RemoveStaleTemporaries(targetFolder, FolderText(target));
    const mode_t mode = sourceInfo.st_mode & 07777;
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
    bool copied = CopyData(sourceFd, targetFd, target, sourceInfo.st_size)
        && ((mode & ~ProcessUmask()) == mode || ::fchmod(targetFd, mode) == 0)
        && ::futimens(targetFd, times) == 0;
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

void PosixFileSystem::RemoveStaleTemporaries(int folderFd, const std::string& folder)
{
    {
        std::lock_guard<std::mutex> lock(m_swept->mutex);
        if (!m_swept->folders.insert(folder).second) {
            return;
        }
    }
    ErrnoKeeper keep;
    int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    std::vector<std::string> stale;
    while (struct dirent* entry = ::readdir(dir)) {
        // A living process may be making its copy right now, this one too: it copies with more
        // than one thread. A file of an ended process is what a killed copy left.
        pid_t owner = 0;
        if (IsTemporaryName(entry->d_name, &owner) && ::kill(owner, 0) != 0 && errno == ESRCH) {
            stale.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : stale) {
        struct stat info
        {
        };
        if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
            ::unlinkat(folderFd, name.c_str(), 0);
        }
    }
}

bool PosixFileSystem::DeleteFile(const std::string& path)
{
    if (int error = InjectedError(FsCall::Delete, path)) {
        errno = error;
        return false;
    }
    std::string name;
    int folder = FolderOf(path, name);
    if (folder == -1) {
        return false;
    }
    if (name.empty()) {
        errno = EISDIR;
        return false;
    }
    struct stat info
    {
    };
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    // Root may delete anything; the program still keeps its hands off read-only files.
    if (!S_ISLNK(info.st_mode) && (info.st_mode & S_IWUSR) == 0) {
        errno = EACCES;
        return false;
    }
    return ::unlinkat(folder, name.c_str(), 0) == 0;
}

bool PosixFileSystem::CreateFolder(const std::string& path)
{
    if (int error = InjectedError(FsCall::CreateFolder, path)) {
        errno = error;
        return false;
    }
    if (::mkdir(path.c_str(), 0777) != 0) {
        return false;
    }
    // A folder just made holds no leftovers of earlier copies.
    std::lock_guard<std::mutex> lock(m_swept->mutex);
    m_swept->folders.insert(path.empty() || path.back() == '/' ? path : path + "/");
    return true;
}

bool PosixFileSystem::RemoveFolder(const std::string& path)
{
    if (int error = InjectedError(FsCall::RemoveFolder, path)) {
        errno = error;
        return false;
    }
    ForgetFolders();
    return ::rmdir(path.c_str()) == 0;
}

std::optional<Attributes> PosixFileSystem::GetAttributes(const std::string& path)
{
    if (int error = InjectedError(FsCall::GetAttributes, path)) {
        errno = error;
        return std::nullopt;
    }
    // A folder may be named with a trailing delimiter; the entry is looked up by its name in its
    // parent, so the delimiter goes (which also keeps a link from being followed).
    std::string entry = path;
    while (entry.size() > 1 && entry.back() == '/') {
        entry.pop_back();
    }
    std::string folder = FolderText(entry);
    int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    Attributes attributes = AttributesFrom(folderFd, lookup, info, OnFatFileSystem(folderFd));
    if (root) {
        attributes.hidden = false;
    }
    return attributes;
}

bool PosixFileSystem::SetReadOnly(const std::string& path, bool readOnly)
{
    if (int error = InjectedError(FsCall::SetAttributes, path)) {
        errno = error;
        return false;
    }
    struct stat info
    {
    };
    if (::lstat(path.c_str(), &info) != 0) {
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        errno = EPERM; // chmod would change what the link points to
        return false;
    }
    mode_t mode = info.st_mode & 07777;
    mode = readOnly ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return ::chmod(path.c_str(), mode) == 0;
}

bool PosixFileSystem::IsFolder(const std::string& path)
{
    if (int error = InjectedError(FsCall::IsFolder, path)) {
        errno = error;
        return false;
    }
    // A trailing delimiter would make lstat follow a link; the entry itself is asked about.
    std::string entry = path;
    while (entry.size() > 1 && entry.back() == '/') {
        entry.pop_back();
    }
    struct stat info
    {
    };
    return ::lstat(entry.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<FileId> PosixFileSystem::FolderId(const std::string& path)
{
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

bool PosixFileSystem::MoveToTrash(const std::string& path)
{
    if (int error = InjectedError(FsCall::Trash, path)) {
        errno = error;
        return false;
    }
    // Qt creates "files" and "info" beside the entry when the home trash's parent folder is missing;
    // making the home trash first keeps the entry's folder clean.
    QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    for (const char* part : {"/files", "/info"}) {
        QDir().mkpath(trash + part);
    }
    QFile::setPermissions(trash, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ForgetFolders();
    return QFile::moveToTrash(QFile::decodeName(QByteArray::fromStdString(path)));
}

int PosixFileSystem::OpenLog(const std::string& path, bool fresh)
{
    if (int error = InjectedError(FsCall::LogOpen, path)) {
        errno = error;
        return -1;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (fresh ? O_TRUNC : O_APPEND);
    return ::open(path.c_str(), flags, 0666);
}

bool PosixFileSystem::WriteLog(int log, const std::string& path, std::string_view bytes)
{
    if (int error = InjectedError(FsCall::LogWrite, path)) {
        errno = error;
        return false;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t step = ::write(log, bytes.data() + written, bytes.size() - written);
        if (step < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<std::size_t>(step);
    }
    return true;
}

void PosixFileSystem::CloseLog(int log)
{
    ErrnoKeeper keep;
    ::close(log);
}

} // namespace ostrel
