#include "platform/AtomicFile.h"

#include "platform/FdGuard.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ostrel {

namespace {

constexpr char kTemporaryPrefix[] = ".ostrel-";

// The errno of the last failed call; a call that failed without setting it still counts as an
// I/O error rather than as success.
int LastError()
{
    return errno != 0 ? errno : EIO;
}

// Refusals of the folder, not of the file: the file itself may still be written where it is.
bool FolderRefuses(int error)
{
    return error == EACCES || error == EPERM || error == EROFS;
}

// Writes the file where it is: its identity, links, mode and owner all stay. A failure part way
// leaves the file holding what was written before it.
int WriteInPlace(const std::string& path, std::string_view bytes)
{
    // Should a FIFO have taken the file's place since it was looked at, the open fails instead of
    // waiting for a reader.
    struct stat info
    {
    };
    int fd = OpenWithoutWaiting(path, O_WRONLY | O_NOFOLLOW, info);
    if (fd < 0) {
        return LastError();
    }
    FdCloser closer(fd);
    if (!S_ISREG(info.st_mode)) {
        return EINVAL;
    }
    if (::ftruncate(fd, 0) != 0) {
        return LastError();
    }
    if (int error = WriteAll(fd, bytes)) {
        return error;
    }
    if (!SyncWritten(fd, Durability::Alone)) {
        return LastError();
    }
    return ::close(closer.Release()) == 0 ? 0 : LastError();
}

// The file a save writes: the path itself, or with followLink for a symbolic link the file it
// names. exists tells whether there is a file to replace, and info holds it then. Returns 0 or the
// errno that forbids the save.
int ResolveTarget(const std::string& path, const SaveOptions& options, std::string& target, struct stat& info,
                  bool& exists)
{
    target = path;
    exists = false;
    struct stat entry
    {
    };
    if (::lstat(path.c_str(), &entry) != 0) {
        return errno == ENOENT ? 0 : LastError();
    }
    info = entry;
    if (S_ISLNK(entry.st_mode)) {
        if (!options.followLink) {
            return 0; // the link itself gives way to the file
        }
        if (::stat(path.c_str(), &info) != 0) {
            // A dangling link is replaced by the file.
            return errno == ENOENT ? 0 : LastError();
        }
        if (S_ISREG(info.st_mode)) {
            char* real = ::realpath(path.c_str(), nullptr);
            if (!real) {
                return LastError();
            }
            target = real;
            std::free(real);
        }
    }
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(info.st_mode)) {
        // A rename would put a plain file where a device or FIFO was.
        return EINVAL;
    }
    // A file made read-only stays as it is, also for root, who could otherwise replace it.
    if ((info.st_mode & S_IWUSR) == 0) {
        return EACCES;
    }
    if (::access(target.c_str(), W_OK) != 0) {
        return LastError();
    }
    exists = true;
    return 0;
}

} // namespace

int OpenWithoutWaiting(const std::string& path, int flags, struct stat& info)
{
    int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && ::fstat(fd, &info) != 0) {
        ErrnoKeeper keep;
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SyncWritten(int fd, Durability durability)
{
    if (durability == Durability::Alone) {
        return ::fsync(fd) == 0;
    }
    return ::sync_file_range(fd, 0, 0,
                             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER)
        == 0;
}

int WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

int WriteAllAt(int fd, std::string_view bytes, off_t offset)
{
    while (!bytes.empty()) {
        ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += written;
    }
    return 0;
}

std::string TemporaryName()
{
    static std::atomic<unsigned> counter = 0;
    static const std::string prefix = kTemporaryPrefix + std::to_string(::getpid()) + "-";
    return prefix + std::to_string(++counter);
}

bool IsTemporaryName(const char* name, pid_t* owner)
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

int CreateTemporary(int folderFd, mode_t mode, std::string& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = TemporaryName();
        int fd = ::openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

void RemoveLeftoverTemporaries(int folderFd)
{
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
        if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
            && (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))) {
            ::unlinkat(folderFd, name.c_str(), 0);
        }
    }
}

int SaveFile(const std::string& path, std::string_view bytes, const SaveOptions& options)
{
    if (path.empty() || path.back() == '/') {
        return ENOENT;
    }
    std::string target;
    struct stat info
    {
    };
    bool exists = false;
    if (int error = ResolveTarget(path, options, target, info, exists)) {
        return error;
    }
    // A rename would leave the file's other names holding the old content.
    if (exists && info.st_nlink > 1) {
        return WriteInPlace(target, bytes);
    }

    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    int folderFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        return LastError();
    }
    FdCloser folderCloser(folderFd);
    RemoveLeftoverTemporaries(folderFd);

    // An existing file's bits are given once the temporary file is ours alone.
    std::string temporary;
    int fd = CreateTemporary(folderFd, exists ? 0600 : options.newMode, temporary);
    if (fd < 0) {
        const int error = LastError();
        return exists && FolderRefuses(error) ? WriteInPlace(target, bytes) : error;
    }
    FdCloser closer(fd);
    if (exists) {
        // Root saving a user's file hands it back to the user; others can't and needn't. File
        // systems without POSIX modes (vfat, some shares) refuse both; the content matters more.
        if ((info.st_uid != ::geteuid() || info.st_gid != ::getegid())
            && ::fchown(fd, info.st_uid, info.st_gid) != 0) {
            // not ours to give: the file is kept with our owner
        }
        ::fchmod(fd, info.st_mode & 07777);
    }
    int error = WriteAll(fd, bytes);
    if (error == 0 && !SyncWritten(fd, Durability::Alone)) {
        error = LastError();
    }
    if (error == 0 && ::close(closer.Release()) != 0) {
        error = LastError();
    }
    if (error == 0 && ::renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) != 0) {
        error = LastError();
    }
    if (error != 0) {
        ::unlinkat(folderFd, temporary.c_str(), 0);
        return error;
    }
    // Makes the rename itself durable; the file is in place either way.
    if (int folderData = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); folderData >= 0) {
        ::fsync(folderData);
        ::close(folderData);
    }
    return 0;
}

} // namespace ostrel
