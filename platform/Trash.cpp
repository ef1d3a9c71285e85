#include "platform/Trash.h"
#include "platform/FdGuard.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kInfoFileMode = 0600;
constexpr std::string_view kInfoSuffix = ".trashinfo";
// The longest file name most Linux file systems take.
constexpr std::size_t kNameMax = 255;
// Numbered names go from ".2" up to this; ".10000" is the longest suffix they add.
constexpr int kMaxNumber = 10000;
constexpr std::size_t kMaxNumberLength = 6;

// Which mounted file system a folder lies on. Two mounts of one device are told apart by the
// mount id where the kernel gives it, since a rename between them fails as between two devices.
struct MountKey
{
    dev_t device = 0;
    std::uint64_t mountId = 0;
    bool operator==(const MountKey&) const = default;
};

std::optional<MountKey> KeyOf(int dirFd, const char* path, int flags)
{
    struct statx info
    {
    };
    if (::statx(dirFd, path, flags, STATX_MNT_ID, &info) != 0) {
        return std::nullopt;
    }
    MountKey key;
    key.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    key.mountId = (info.stx_mask & STATX_MNT_ID) ? info.stx_mnt_id : 0;
    return key;
}

bool SameFolder(int first, int second)
{
    struct stat a
    {
    };
    struct stat b
    {
    };
    return ::fstat(first, &a) == 0 && ::fstat(second, &b) == 0 && a.st_dev == b.st_dev
        && a.st_ino == b.st_ino;
}

// Whether a path leads to the folder open as fd.
bool NamesFolder(const std::string& path, int fd)
{
    struct stat byPath
    {
    };
    struct stat byFd
    {
    };
    return ::stat(path.c_str(), &byPath) == 0 && ::fstat(fd, &byFd) == 0 && byPath.st_dev == byFd.st_dev
        && byPath.st_ino == byFd.st_ino;
}

// Opens the folder `name` inside dirFd, making it (mode 0700) when missing. It must be a real
// folder, never a link, and with an owner given it must belong to that user. -1 with errno else.
int OpenPrivateFolder(int dirFd, const std::string& name, std::optional<uid_t> owner)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            FdCloser closer(fd);
            struct stat info
            {
            };
            if (::fstat(fd, &info) != 0) {
                return -1;
            }
            if (owner && info.st_uid != *owner) {
                errno = EPERM;
                return -1;
            }
            return closer.Release();
        }
        // A link gives ELOOP or ENOTDIR here, a file ENOTDIR: both fail the folder.
        if (errno != ENOENT) {
            return -1;
        }
        // Another process may make it between the two calls; then it is opened and checked.
        if (::mkdirat(dirFd, name.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) {
            return -1;
        }
    }
    errno = ENOENT;
    return -1;
}

// Makes a folder with its missing parents, each new one with mode 0700.
bool MakeFolders(const std::string& path)
{
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (::mkdir(part.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

// The mount of the nearest existing folder on the way to path, following links: where the home
// trash is or will be made.
std::optional<MountKey> KeyOfNearest(std::string path)
{
    for (;;) {
        if (auto key = KeyOf(AT_FDCWD, path.c_str(), 0)) {
            return key;
        }
        if (errno != ENOENT || path.empty() || path == "/") {
            return std::nullopt;
        }
        auto slash = path.rfind('/');
        path = slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
    }
}

// Climbs ".." from the folder parentFd while the mount stays the same, and opens the top folder
// reached. levels counts the climbs. -1 with errno on failure.
int OpenTopFolder(int parentFd, const MountKey& key, int& levels)
{
    levels = 0;
    int fd = ::openat(parentFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    for (;;) {
        FdCloser closer(fd);
        int up = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (up < 0) {
            return -1;
        }
        FdCloser upCloser(up);
        auto upKey = KeyOf(up, "", AT_EMPTY_PATH);
        if (!upKey) {
            return -1;
        }
        // The root's ".." is the root itself.
        if (!(*upKey == key) || SameFolder(fd, up)) {
            return closer.Release();
        }
        fd = upCloser.Release();
        ++levels;
    }
}

// The folder that holds a path's last component: "/a/b" for "/a/b/c", "" for "/c".
std::string FolderPart(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Opens the trash folder of the drive whose top folder is topFd: $topdir/.Trash/$uid when
// $topdir/.Trash is a real folder with the sticky bit, otherwise $topdir/.Trash-$uid.
int OpenDriveTrash(int topFd, uid_t uid)
{
    std::string uidText = std::to_string(uid);
    int shared = ::openat(topFd, ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (shared >= 0) {
        FdCloser closer(shared);
        struct stat info
        {
        };
        if (::fstat(shared, &info) == 0 && (info.st_mode & S_ISVTX)) {
            int own = OpenPrivateFolder(shared, uidText, uid);
            if (own >= 0) {
                return own;
            }
        }
    }
    return OpenPrivateFolder(topFd, ".Trash-" + uidText, uid);
}

// The entry's name in the trash before a number is added: short enough that the numbered name
// plus ".trashinfo" still fits a file name, cut where no UTF-8 sequence is split.
std::string TrashStem(const std::string& name)
{
    constexpr std::size_t kMaxStem = kNameMax - kInfoSuffix.size() - kMaxNumberLength;
    if (name.size() <= kMaxStem) {
        return name;
    }
    std::size_t cut = kMaxStem;
    for (int back = 0; back < 3 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80; ++back) {
        --cut;
    }
    return name.substr(0, cut);
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Renames without ever replacing an entry already in the trash. File systems that can't refuse
// to replace in the rename itself are asked first.
bool RenameNoReplace(int fromFd, const std::string& from, int toFd, const std::string& to)
{
    if (::renameat2(fromFd, from.c_str(), toFd, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    struct stat info
    {
    };
    if (::fstatat(toFd, to.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(fromFd, from.c_str(), toFd, to.c_str()) == 0;
}

std::string DeletionDate(std::time_t now)
{
    struct tm local
    {
    };
    char text[32] = {};
    if (!::localtime_r(&now, &local) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) {
        return {};
    }
    return text;
}

} // namespace

TrashSetup TrashSetup::FromEnvironment()
{
    TrashSetup setup;
    setup.uid = ::getuid();
    setup.now = [] { return std::time(nullptr); };
    // A relative $XDG_DATA_HOME is invalid and must be ignored.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') {
        setup.homeTrash = std::string(dataHome) + "/Trash";
        return setup;
    }
    std::string home;
    if (const char* homeVariable = std::getenv("HOME"); homeVariable && homeVariable[0] == '/') {
        home = homeVariable;
    } else {
        struct passwd entry
        {
        };
        struct passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(setup.uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found
            && found->pw_dir && found->pw_dir[0] == '/') {
            home = found->pw_dir;
        }
    }
    if (!home.empty()) {
        setup.homeTrash = home + "/.local/share/Trash";
    }
    return setup;
}

Trash::Trash(TrashSetup setup)
    : m_setup(std::move(setup))
{
}

std::string Trash::EncodePath(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(path.size());
    for (char c : path) {
        auto byte = static_cast<unsigned char>(c);
        bool keep = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')
            || (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~'
            || byte == '/';
        if (keep) {
            result += c;
        } else {
            result += '%';
            result += kHex[byte >> 4];
            result += kHex[byte & 0x0F];
        }
    }
    return result;
}

bool Trash::MoveToTrashAt(int parentFd, const std::string& name, const std::string& absolutePath) const
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos
        || absolutePath.empty() || absolutePath[0] != '/' || absolutePath.size() <= name.size()
        || absolutePath.compare(absolutePath.size() - name.size(), name.size(), name) != 0
        || absolutePath[absolutePath.size() - name.size() - 1] != '/') {
        errno = EINVAL;
        return false;
    }

    // The trash folder and the path its info file records.
    int trashFd = -1;
    std::string recordedPath;
    if (!m_setup.topFolder.empty()) {
        std::string top = m_setup.topFolder;
        while (top.size() > 1 && top.back() == '/') {
            top.pop_back();
        }
        std::string prefix = top == "/" ? top : top + "/";
        if (absolutePath.compare(0, prefix.size(), prefix) != 0) {
            errno = EINVAL;
            return false;
        }
        int topFd = ::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (topFd < 0) {
            return false;
        }
        FdCloser topCloser(topFd);
        trashFd = OpenDriveTrash(topFd, m_setup.uid);
        recordedPath = absolutePath.substr(prefix.size());
    } else {
        auto entryKey = KeyOf(parentFd, "", AT_EMPTY_PATH);
        if (!entryKey) {
            return false;
        }
        std::optional<MountKey> homeKey;
        if (!m_setup.homeTrash.empty()) {
            homeKey = KeyOfNearest(m_setup.homeTrash);
        }
        if (homeKey && *homeKey == *entryKey) {
            if (!MakeFolders(m_setup.homeTrash)) {
                return false;
            }
            trashFd = ::open(m_setup.homeTrash.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            recordedPath = absolutePath;
        } else {
            int levels = 0;
            int topFd = OpenTopFolder(parentFd, *entryKey, levels);
            if (topFd < 0) {
                return false;
            }
            FdCloser topCloser(topFd);
            std::string top = FolderPart(absolutePath);
            for (int level = 0; level < levels; ++level) {
                if (top.empty()) {
                    // The path names fewer folders than the climb passed: it is not this entry's.
                    errno = EINVAL;
                    return false;
                }
                top = FolderPart(top);
            }
            // A path through a link counts its folders differently from the climb; recorded, it
            // would restore the entry to another place. Such a path fails the entry instead.
            if (!NamesFolder(top.empty() ? "/" : top, topFd)) {
                errno = EINVAL;
                return false;
            }
            trashFd = OpenDriveTrash(topFd, m_setup.uid);
            recordedPath = absolutePath.substr(top.size() + 1);
        }
    }
    if (trashFd < 0) {
        return false;
    }
    FdCloser trashCloser(trashFd);
    int filesFd = OpenPrivateFolder(trashFd, "files", std::nullopt);
    if (filesFd < 0) {
        return false;
    }
    FdCloser filesCloser(filesFd);
    int infoFd = OpenPrivateFolder(trashFd, "info", std::nullopt);
    if (infoFd < 0) {
        return false;
    }
    FdCloser infoCloser(infoFd);

    std::string date = DeletionDate(m_setup.now ? m_setup.now() : std::time(nullptr));
    if (date.empty()) {
        errno = EOVERFLOW;
        return false;
    }
    const std::string content =
        "[Trash Info]\nPath=" + EncodePath(recordedPath) + "\nDeletionDate=" + date + "\n";

    // The info file comes first and its exclusive creation claims the name: a crash leaves at
    // worst an info file without its entry, never an entry in the trash that nothing describes.
    const std::string stem = TrashStem(name);
    for (int number = 1; number <= kMaxNumber; ++number) {
        std::string trashName = number == 1 ? stem : stem + "." + std::to_string(number);
        std::string infoName = trashName + std::string(kInfoSuffix);
        int fd = ::openat(infoFd, infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          kInfoFileMode);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        bool written = WriteAll(fd, content);
        int error = written ? 0 : errno;
        if (::close(fd) != 0 && written) {
            written = false;
            error = errno;
        }
        const int injected = written && m_setup.beforeMove ? m_setup.beforeMove() : 0;
        if (written && injected == 0 && RenameNoReplace(parentFd, name, filesFd, trashName)) {
            return true;
        }
        if (written) {
            error = injected != 0 ? injected : errno;
        }
        ::unlinkat(infoFd, infoName.c_str(), 0);
        errno = error;
        // An entry left in files/ without its info file holds the name: take the next number.
        if (!written || error != EEXIST) {
            return false;
        }
    }
    errno = EEXIST;
    return false;
}

bool Trash::MoveToTrash(const std::string& path) const
{
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') {
        name.pop_back();
    }
    auto slash = name.rfind('/');
    if (slash == std::string::npos) {
        errno = EINVAL;
        return false;
    }
    std::string folder = slash == 0 ? std::string("/") : name.substr(0, slash);
    name.erase(0, slash + 1);
    char* real = ::realpath(folder.c_str(), nullptr);
    if (!real) {
        return false;
    }
    std::string realFolder = real;
    std::free(real);
    int parentFd = ::open(realFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) {
        return false;
    }
    FdCloser closer(parentFd);
    return MoveToTrashAt(parentFd, name, (realFolder == "/" ? "" : realFolder) + "/" + name);
}

} // namespace ostrel
