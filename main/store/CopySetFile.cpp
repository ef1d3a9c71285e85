#include "CopySetFile.h"

#include "AppFiles.h"
#include "FdGuard.h"
#include "PathText.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr char kTab = '\t';
constexpr char kEndOfFile = '\x1a';
constexpr std::size_t kReadBlock = 256 * 1024;

// The errno of the last failed call; a call that failed without setting it still counts as an
// I/O error rather than as success.
int LastError()
{
    return errno != 0 ? errno : EIO;
}

// Splits one line (line end and CRs already gone) from the left at its first three TABs.
CopySet SplitLine(std::string_view line)
{
    CopySet set;
    std::string_view rest = line;
    if (std::size_t tab = line.find(kTab); tab != std::string_view::npos) {
        set.source = line.substr(0, tab);
        rest = line.substr(tab + 1);
    }
    std::size_t tab = rest.find(kTab);
    if (tab == std::string_view::npos) {
        set.target = rest;
        set.lastRun = " ";
        return set;
    }
    set.target = rest.substr(0, tab);
    std::string_view remainder = rest.substr(tab + 1);
    tab = remainder.find(kTab);
    if (tab == std::string_view::npos) {
        set.lastRun = remainder;
        return set;
    }
    set.lastRun = remainder.substr(0, tab);
    set.volumeName = remainder.substr(tab + 1);
    return set;
}

void AppendCopySets(std::string_view bytes, std::vector<CopySet>& sets)
{
    if (std::size_t end = bytes.find(kEndOfFile); end != std::string_view::npos) {
        bytes = bytes.substr(0, end);
    }
    std::string withoutCr;
    std::size_t position = 0;
    while (position < bytes.size()) {
        std::size_t lineFeed = bytes.find('\n', position);
        bool lastLine = lineFeed == std::string_view::npos;
        std::size_t lineEnd = lastLine ? bytes.size() : lineFeed;
        std::string_view line = bytes.substr(position, lineEnd - position);
        position = lastLine ? bytes.size() : lineFeed + 1;

        // The CR of a CR LF and every lone CR are dropped alike.
        if (line.find('\r') != std::string_view::npos) {
            withoutCr.clear();
            for (char c : line) {
                if (c != '\r') {
                    withoutCr.push_back(c);
                }
            }
            line = withoutCr;
        }
        // Dropped CRs after the last line break are no line of their own.
        if (lastLine && line.empty()) {
            break;
        }
        sets.push_back(SplitLine(line));
    }
}

bool HoldsAny(const std::string& text, std::string_view bytes)
{
    return text.find_first_of(bytes) != std::string::npos;
}

int WriteAll(int fd, const std::string& bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t step = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (step < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        written += static_cast<std::size_t>(step);
    }
    return 0;
}

// Creates a new file for the list beside its target. The name is made here rather than by
// mkstemp so that a new copy-set file gets the usual mode (0666 less the umask), not 0600.
int CreateTemporary(const std::string& folder, std::string& temporary)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, "%ld-%u-%llx", static_cast<long>(::getpid()), counter++,
                      static_cast<unsigned long long>(ticks) & 0xffffffULL);
        temporary = folder + ".ostrel-" + suffix + ".tmp";
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

// Whether a name is one that CreateTemporary makes (".ostrel-<pid>-<n>-<hex>.tmp"); owner gets
// the process id in it.
bool IsSaveTemporary(const std::string& name, pid_t& owner)
{
    constexpr std::string_view prefix = ".ostrel-";
    constexpr std::string_view suffix = ".tmp";
    if (!name.starts_with(prefix) || !name.ends_with(suffix)) {
        return false;
    }
    std::string_view rest = std::string_view(name).substr(prefix.size());
    rest.remove_suffix(suffix.size());
    auto field = [&rest](bool hex) -> std::string_view {
        std::size_t end = 0;
        auto accepted = [hex](char c) {
            return hex ? std::isxdigit(static_cast<unsigned char>(c))
                       : std::isdigit(static_cast<unsigned char>(c));
        };
        while (end < rest.size() && accepted(rest[end])) {
            ++end;
        }
        std::string_view digits = rest.substr(0, end);
        rest.remove_prefix(end);
        return digits;
    };
    std::string_view pid = field(false);
    if (pid.empty() || pid.size() > 9 || !rest.starts_with('-')) {
        return false;
    }
    rest.remove_prefix(1);
    if (field(false).empty() || !rest.starts_with('-')) {
        return false;
    }
    rest.remove_prefix(1);
    if (field(true).empty() || !rest.empty()) {
        return false;
    }
    owner = static_cast<pid_t>(std::stol(std::string(pid)));
    return true;
}

// A save cut short by a kill leaves its temporary file beside the list, and nothing else would ever
// remove it. Before a save, those of ended processes go; a living process may be saving now.
void RemoveStaleTemporaries(const std::string& folder)
{
    ErrnoKeeper keep;
    const std::string prefix = folder.empty() ? std::string("./") : folder;
    DIR* dir = ::opendir(prefix.c_str());
    if (!dir) {
        return;
    }
    std::vector<std::string> stale;
    while (struct dirent* entry = ::readdir(dir)) {
        pid_t owner = 0;
        if (IsSaveTemporary(entry->d_name, owner) && ::kill(owner, 0) != 0 && errno == ESRCH) {
            stale.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    for (const std::string& name : stale) {
        struct stat info
        {
        };
        const std::string path = prefix + name;
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            ::unlink(path.c_str());
        }
    }
}

// The file a save replaces: the path itself, or for a symbolic link the file it names, so the link
// survives the rename. Returns 0 or the errno that forbids the save.
int ResolveTarget(const std::string& path, std::string& target, struct stat& info, bool& exists)
{
    target = path;
    exists = false;
    if (::stat(path.c_str(), &info) != 0) {
        // A missing file is created; a dangling link is replaced by the file.
        return errno == ENOENT ? 0 : LastError();
    }
    exists = true;
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(info.st_mode)) {
        // A rename would put a plain file where a device or FIFO was.
        return EINVAL;
    }
    // A read-only list stays as it is, also for root, who could otherwise replace it by the rename.
    if ((info.st_mode & S_IWUSR) == 0) {
        return EACCES;
    }
    if (::access(path.c_str(), W_OK) != 0) {
        return LastError();
    }
    struct stat linkInfo
    {
    };
    if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) {
            return LastError();
        }
        target = real;
        std::free(real);
    }
    return 0;
}

} // namespace

std::vector<CopySet> ParseCopySets(std::string_view bytes)
{
    std::vector<CopySet> sets;
    AppendCopySets(bytes, sets);
    return sets;
}

std::string FormatCopySets(const std::vector<CopySet>& sets)
{
    std::size_t size = 0;
    for (const CopySet& set : sets) {
        size += set.source.size() + set.target.size() + set.lastRun.size() + set.volumeName.size() + 5;
    }
    std::string bytes;
    bytes.reserve(size);
    for (const CopySet& set : sets) {
        bytes += set.source;
        bytes += kTab;
        bytes += set.target;
        bytes += kTab;
        bytes += set.lastRun;
        bytes += kTab;
        bytes += set.volumeName;
        bytes += "\r\n";
    }
    return bytes;
}

bool CanStoreCopySet(const CopySet& set)
{
    using namespace std::string_view_literals;
    constexpr std::string_view lineBreaks = "\n\r\x1a"sv;
    constexpr std::string_view separators = "\t\n\r\x1a"sv;
    return !HoldsAny(set.source, separators) && !HoldsAny(set.target, separators)
        && !HoldsAny(set.lastRun, separators) && !HoldsAny(set.volumeName, lineBreaks);
}

int ReadCopySets(const ReadBytes& read, std::vector<CopySet>& sets)
{
    std::string bytes;
    for (;;) {
        std::size_t filled = bytes.size();
        bytes.resize(filled + kReadBlock);
        errno = 0;
        std::ptrdiff_t done = read(bytes.data() + filled, kReadBlock);
        if (done < 0) {
            if (errno == EINTR) {
                bytes.resize(filled);
                continue;
            }
            int error = LastError();
            // A line cut short by the failure could be a path missing its end; only whole lines
            // are kept.
            std::string_view received = std::string_view(bytes).substr(0, filled);
            std::size_t lineFeed = received.rfind('\n');
            AppendCopySets(received.substr(0, lineFeed == std::string_view::npos ? 0 : lineFeed + 1), sets);
            return error;
        }
        bytes.resize(filled + static_cast<std::size_t>(done));
        if (done == 0 || bytes.find(kEndOfFile, filled) != std::string::npos) {
            break; // what follows a 0x1A is not part of the list, so it is not read
        }
    }
    AppendCopySets(bytes, sets);
    return 0;
}

int ReadCopySetFile(const std::string& path, std::vector<CopySet>& sets)
{
    // Opened without blocking, so that a FIFO named as the list can't hang the start-up.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return LastError();
    }
    FdCloser closer(fd);
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        return LastError();
    }
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return LastError();
    }
    return ReadCopySets([fd](char* buffer, std::size_t size) { return ::read(fd, buffer, size); }, sets);
}

int WriteCopySetFile(const std::string& path, const std::vector<CopySet>& sets)
{
    if (path.empty()) {
        return ENOENT;
    }
    for (const CopySet& set : sets) {
        if (!CanStoreCopySet(set)) {
            return EINVAL;
        }
    }
    if (int error = AppFiles::MakeFolderFor(path)) {
        return error; // the user's data folder, missing and impossible to make
    }
    std::string target;
    struct stat info
    {
    };
    bool exists = false;
    if (int error = ResolveTarget(path, target, info, exists)) {
        return error;
    }

    // The list goes into a new file that replaces the old one only when complete, so a full disk
    // or a crash never leaves half a list.
    RemoveStaleTemporaries(ExtractFolder(target));
    std::string temporary;
    int fd = CreateTemporary(ExtractFolder(target), temporary);
    if (fd < 0) {
        return LastError();
    }
    FdCloser closer(fd);
    if (exists) {
        struct stat created
        {
        };
        if (::fstat(fd, &created) == 0 && (created.st_mode & 07777) != (info.st_mode & 07777)) {
            // File systems without POSIX modes (vfat, some shares) refuse; the list matters more.
            ::fchmod(fd, info.st_mode & 07777);
        }
        if (created.st_uid != info.st_uid || created.st_gid != info.st_gid) {
            // Root saving a user's list hands it back to the user; others can't and needn't.
            if (::fchown(fd, info.st_uid, info.st_gid) != 0) {
                // not the owner's to give: the list is kept with ours
            }
        }
    }
    int error = WriteAll(fd, FormatCopySets(sets));
    if (error == 0 && ::fsync(fd) != 0) {
        error = LastError();
    }
    if (error == 0 && ::close(closer.Release()) != 0) {
        error = LastError();
    }
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = LastError();
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    // Makes the rename itself durable; the file is in place either way.
    std::string folder = ExtractFolder(target);
    int folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return 0;
}

std::string IoErrorText(int error)
{
    switch (error) {
    case ENOENT:
        return "ファイルが見つかりません";
    case EINVAL:
    case ENAMETOOLONG:
        return "不正なファイル名です";
    case EMFILE:
    case ENFILE:
        return "オープンしたファイルが多すぎます";
    case EACCES:
    case EPERM:
    case EROFS:
        return "ファイルへのアクセスが拒否されました";
    case kReadPastEnd:
        return "ファイルの末尾以降を読み込みました";
    case ENOSPC:
        return "ディスクがいっぱいです";
    default:
        return "I/O エラー (" + std::to_string(error) + ")";
    }
}

} // namespace ostrel
