#include "platform/PosixVolumes.h"

#include <QByteArray>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QStorageInfo>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cerrno>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <pwd.h>
#include <set>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

Q_LOGGING_CATEGORY(lcVolumes, "ostrel.volumes")

constexpr std::array<std::string_view, 21> kRemoteTypes = {
    "nfs",         "nfs4",      "cifs",           "smb3",        "smbfs", "sshfs",
    "fuse.sshfs",  "9p",        "davfs",          "fuse.davfs2", "afs",   "ceph",
    "fuse.ceph",   "glusterfs", "fuse.glusterfs", "lustre",      "ncpfs", "coda",
    "fuse.rclone", "fuse.s3fs", "fuse.curlftpfs",
};
constexpr std::array<std::string_view, 2> kCdRomTypes = {"iso9660", "udf"};
constexpr std::array<std::string_view, 2> kRamDiskTypes = {"tmpfs", "ramfs"};

// File systems of the kernel and the system that hold no user data.
constexpr std::array<std::string_view, 22> kPseudoTypes = {
    "proc",        "sysfs",      "cgroup",     "cgroup2", "devpts",    "devtmpfs", "mqueue",   "debugfs",
    "tracefs",     "securityfs", "pstore",     "bpf",     "autofs",    "fusectl",  "configfs", "hugetlbfs",
    "binfmt_misc", "efivarfs",   "rpc_pipefs", "nsfs",    "selinuxfs", "nfsd",
};
// Layered file systems make up container and snap roots; only the root itself is worth offering.
constexpr std::array<std::string_view, 3> kLayeredTypes = {"overlay", "aufs", "fuse-overlayfs"};

template <std::size_t N>
bool IsOneOf(const std::string& value, const std::array<std::string_view, N>& set)
{
    return std::find(set.begin(), set.end(), value) != set.end();
}

// The kernel writes blanks, tabs, new lines and backslashes in mount points as \ooo.
std::string UnescapeMountField(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3'
            && text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7') {
            int value = (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
            result += static_cast<char>(value);
            i += 3;
        } else {
            result += text[i];
        }
    }
    return result;
}

// The path with repeated delimiters, "." and ".." worked out and no trailing delimiter, or nothing
// for a path that is not absolute. ".." is taken lexically, as the kernel does at a mount point.
std::optional<std::string> NormalizePath(const std::string& path)
{
    if (path.empty() || path[0] != '/') {
        return std::nullopt;
    }
    std::vector<std::string> parts;
    std::istringstream stream(path);
    std::string part;
    while (std::getline(stream, part, '/')) {
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty()) {
        return std::string("/");
    }
    std::string result;
    for (const std::string& name : parts) {
        result += '/';
        result += name;
    }
    return result;
}

std::vector<std::string> Components(const std::string& normalized)
{
    std::vector<std::string> parts;
    std::istringstream stream(normalized);
    std::string part;
    while (std::getline(stream, part, '/')) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

// True when path is folder or lies below it; both normalized.
bool IsUnder(const std::string& path, const std::string& folder)
{
    if (folder == "/") {
        return true;
    }
    return path.compare(0, folder.size(), folder) == 0
        && (path.size() == folder.size() || path[folder.size()] == '/');
}

std::optional<std::string> ReadFirstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return std::nullopt;
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

std::string LoginName()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry
    {
    };
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        return {};
    }
    return found->pw_name;
}

} // namespace

PosixVolumes::PosixVolumes()
    : PosixVolumes("/proc/self/mountinfo", "/sys/class/block", LoginName())
{
}

PosixVolumes::PosixVolumes(std::string mountInfoPath, std::string sysBlockPath, std::string userName,
                           std::string mountProgram, int mountTimeoutMs, std::string fstabPath)
    : m_mountInfoPath(std::move(mountInfoPath))
    , m_sysBlockPath(std::move(sysBlockPath))
    , m_userName(std::move(userName))
    , m_mountProgram(std::move(mountProgram))
    , m_mountTimeoutMs(mountTimeoutMs)
    , m_fstabPath(std::move(fstabPath))
{
}

std::string PosixVolumes::UnmountedFstabPoint(const std::string& path)
{
    std::optional<std::string> normalized = NormalizePath(path);
    if (!normalized) {
        return {};
    }
    // fstab: device, mount point, type, options, ...; "#" starts a comment. Mount points are
    // written with \ooo escapes like the kernel's table. Swap and "none" are no folders.
    std::set<std::string> holding;
    std::ifstream file(m_fstabPath);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream stream(line);
        std::string device;
        std::string point;
        if (!(stream >> device >> point) || device[0] == '#') {
            continue;
        }
        std::optional<std::string> mountPoint = NormalizePath(UnescapeMountField(point));
        if (mountPoint && *mountPoint != "/" && IsUnder(*normalized, *mountPoint)) {
            holding.insert(*mountPoint);
        }
    }
    if (holding.empty()) {
        return {};
    }
    std::set<std::string> mounted;
    for (const MountEntry& entry : ReadMounts()) {
        mounted.insert(entry.mountPoint);
    }
    for (const std::string& point : holding) {
        if (mounted.count(point) == 0) {
            return point;
        }
    }
    return {};
}

std::vector<PosixVolumes::MountEntry> PosixVolumes::ReadMounts() const
{
    // Read afresh each time: sticks come and go while the program runs.
    std::vector<MountEntry> mounts;
    std::ifstream file(m_mountInfoPath);
    std::string line;
    while (std::getline(file, line)) {
        // id parent major:minor root mount-point options [optional fields...] - type source options
        std::vector<std::string> fields;
        std::istringstream stream(line);
        std::string field;
        while (stream >> field) {
            fields.push_back(field);
        }
        auto separator =
            std::find(fields.begin() + std::min<std::ptrdiff_t>(6, std::ssize(fields)), fields.end(), "-");
        if (fields.size() < 6 || separator == fields.end() || separator + 1 == fields.end()) {
            continue;
        }
        std::optional<std::string> mountPoint = NormalizePath(UnescapeMountField(fields[4]));
        if (!mountPoint) {
            continue;
        }
        MountEntry entry;
        entry.mountPoint = *mountPoint;
        entry.fsType = UnescapeMountField(*(separator + 1));
        unsigned major = 0;
        unsigned minor = 0;
        char colon = 0;
        std::istringstream device(fields[2]);
        if (device >> major >> colon >> minor && colon == ':') {
            entry.major = major;
            entry.minor = minor;
        }
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

std::optional<PosixVolumes::MountEntry> PosixVolumes::MountAt(const std::string& drive) const
{
    std::optional<MountEntry> found;
    // The table lists mounts in the order they were made, so the last one at a point is on top.
    for (MountEntry& entry : ReadMounts()) {
        if (entry.mountPoint == drive) {
            found = std::move(entry);
        }
    }
    return found;
}

std::optional<std::string> PosixVolumes::AutomountFolder(const std::string& path) const
{
    std::vector<std::string> parts = Components(path);
    const bool hasUser = !m_userName.empty();
    if (hasUser && parts.size() >= 3 && parts[0] == "media" && parts[1] == m_userName) {
        return "/media/" + m_userName + "/" + parts[2];
    }
    if (hasUser && parts.size() >= 4 && parts[0] == "run" && parts[1] == "media" && parts[2] == m_userName) {
        return "/run/media/" + m_userName + "/" + parts[3];
    }
    // The user's own folder under /media holds the user's sticks; it is no stick itself.
    if (parts.size() >= 2 && (parts[0] == "media" || parts[0] == "mnt")
        && !(hasUser && parts[0] == "media" && parts[1] == m_userName)) {
        return "/" + parts[0] + "/" + parts[1];
    }
    return std::nullopt;
}

bool PosixVolumes::IsRemovableDevice(unsigned major, unsigned minor) const
{
    // Major 0 is the kernel's anonymous devices: tmpfs, network and FUSE mounts have no disk.
    if (major == 0) {
        return false;
    }
    const std::string wanted = std::to_string(major) + ":" + std::to_string(minor);
    DIR* dir = ::opendir(m_sysBlockPath.c_str());
    if (!dir) {
        return false;
    }
    std::string deviceFolder;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string folder = m_sysBlockPath + "/" + name;
        if (ReadFirstLine(folder + "/dev") == wanted) {
            deviceFolder = folder;
            break;
        }
    }
    ::closedir(dir);
    if (deviceFolder.empty()) {
        return false;
    }
    std::optional<std::string> removable = ReadFirstLine(deviceFolder + "/removable");
    if (!removable && ReadFirstLine(deviceFolder + "/partition")) {
        // A partition keeps no removable flag; its disk does. The class entry is a link into the
        // disk's folder, so ".." resolves to the disk.
        removable = ReadFirstLine(deviceFolder + "/../removable");
    }
    return removable == "1";
}

std::string PosixVolumes::DrivePart(const std::string& path)
{
    std::optional<std::string> normalized = NormalizePath(path);
    if (!normalized) {
        return {};
    }
    std::string best = "/";
    for (const MountEntry& entry : ReadMounts()) {
        if (entry.mountPoint.size() > best.size() && IsUnder(*normalized, entry.mountPoint)) {
            best = entry.mountPoint;
        }
    }
    // An automount folder is the drive even while nothing is mounted there; only a mount point
    // inside it, and so longer, takes the path away from it.
    std::optional<std::string> automount = AutomountFolder(*normalized);
    if (automount && automount->size() > best.size()) {
        return *automount;
    }
    return best;
}

DriveType PosixVolumes::GetDriveType(const std::string& drive)
{
    std::optional<std::string> normalized = NormalizePath(drive);
    if (!normalized) {
        return DriveType::NoRootDir;
    }
    std::optional<MountEntry> mount = MountAt(*normalized);
    if (!mount) {
        return *normalized == "/" ? DriveType::Fixed : DriveType::NoRootDir;
    }
    if (AutomountFolder(*normalized) == *normalized || IsRemovableDevice(mount->major, mount->minor)) {
        return DriveType::Removable;
    }
    if (IsOneOf(mount->fsType, kRemoteTypes)) {
        return DriveType::Remote;
    }
    if (IsOneOf(mount->fsType, kCdRomTypes)) {
        return DriveType::CdRom;
    }
    if (IsOneOf(mount->fsType, kRamDiskTypes)) {
        return DriveType::RamDisk;
    }
    return DriveType::Fixed;
}

bool PosixVolumes::IsReady(const std::string& drive)
{
    std::optional<std::string> normalized = NormalizePath(drive);
    if (!normalized) {
        return false;
    }
    // The empty folder a stick leaves behind can be listed too, but writing there would fill the
    // disk that holds it: only a mounted drive is ready.
    if (*normalized != "/" && !MountAt(*normalized)) {
        return false;
    }
    DIR* dir = ::opendir(normalized->c_str());
    if (!dir) {
        return false;
    }
    errno = 0;
    const bool listed = ::readdir(dir) != nullptr || errno == 0;
    ::closedir(dir);
    return listed;
}

std::string PosixVolumes::VolumeName(const std::string& path)
{
    std::string drive = DrivePart(path);
    if (drive.empty() || (drive != "/" && !MountAt(drive))) {
        // Asking about a path below an unmounted stick would report the disk under its folder.
        return {};
    }
    // The drive root is asked rather than the path, which may not exist yet.
    return LabelOf(drive);
}

std::string PosixVolumes::LabelOf(const std::string& drive)
{
    QStorageInfo storage(QFile::decodeName(QByteArray::fromStdString(drive)));
    if (!storage.isValid() || !storage.isReady()) {
        return {};
    }
    return storage.name().toStdString();
}

bool PosixVolumes::ConnectNetworkDrive(const std::string& location)
{
    // A location that starts with "-" would be read as an option of the mount program.
    if (location.empty() || location[0] == '-') {
        return false;
    }
    QProcess process;
    process.setProgram(QFile::decodeName(QByteArray::fromStdString(m_mountProgram)));
    process.setArguments({QStringLiteral("mount"), QStringLiteral("--"), QString::fromStdString(location)});
    // No terminal to ask for a password on: a prompt reads end of input and gives up at once
    // instead of waiting for the time-out.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    if (!process.waitForStarted()) {
        qCDebug(lcVolumes) << "could not start" << process.program() << process.errorString();
        return false;
    }
    if (!process.waitForFinished(m_mountTimeoutMs)) {
        qCDebug(lcVolumes) << "mounting" << QString::fromStdString(location) << "timed out";
        process.kill();
        process.waitForFinished();
        return false;
    }
    const bool mounted = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!mounted) {
        qCDebug(lcVolumes) << "mounting" << QString::fromStdString(location)
                           << "failed:" << process.readAll();
    }
    return mounted;
}

std::vector<std::string> PosixVolumes::MountedDrives()
{
    std::set<std::string> drives;
    for (const MountEntry& entry : ReadMounts()) {
        const std::string& point = entry.mountPoint;
        if (point == "/" || IsOneOf(entry.fsType, kPseudoTypes) || IsOneOf(entry.fsType, kLayeredTypes)) {
            continue;
        }
        const bool systemTree = IsUnder(point, "/proc") || IsUnder(point, "/sys") || IsUnder(point, "/dev")
            || IsUnder(point, "/snap") || (IsUnder(point, "/run") && !IsUnder(point, "/run/media"));
        if (systemTree) {
            continue;
        }
        // Containers mount single files (resolv.conf, hostname) over the image; those are no drives.
        // A network mount is not looked at: its server may not answer.
        struct stat info
        {
        };
        if (!IsOneOf(entry.fsType, kRemoteTypes) && ::stat(point.c_str(), &info) == 0
            && !S_ISDIR(info.st_mode)) {
            continue;
        }
        drives.insert(point);
    }
    std::vector<std::string> result{"/"};
    result.insert(result.end(), drives.begin(), drives.end());
    return result;
}

} // namespace ostrel
