#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ostrel {

// The kind of drive that holds a path.
enum class DriveType {
    NoRootDir, // the drive part is not a current mount point, or the path has no drive
    Removable,
    Fixed,
    Remote,
    CdRom,
    RamDisk,
};

// Drives and volumes of the platform. On Linux the drive part of a path is the mount point of
// the file system that holds it, or the automount folder it lies below (/media/<user>/<name>,
// /run/media/<user>/<name>, /media/<name>, /mnt/<name>) whether or not something is mounted there.
class Volumes
{
public:
    virtual ~Volumes() = default;

    // The drive part of an absolute path, without a trailing "/" except for the root "/". Empty for
    // a path that is not absolute.
    virtual std::string DrivePart(const std::string& path) = 0;

    // The type of a drive given by its drive part.
    virtual DriveType GetDriveType(const std::string& drive) = 0;

    // True when the drive's root can be opened and listed.
    virtual bool IsReady(const std::string& drive) = 0;

    // The label of the file system that holds the path; empty when it has none or is not mounted.
    virtual std::string VolumeName(const std::string& path) = 0;

    // Mounts a network location with the desktop's mount service; true on success.
    virtual bool ConnectNetworkDrive(const std::string& location) = 0;

    // The drive parts of the mounted volumes a user would pick from, the root first.
    virtual std::vector<std::string> MountedDrives() = 0;

    // The mount point of the file-system table (/etc/fstab) that holds the path while nothing is
    // mounted there; empty when there is none. A folder below it is then the bare folder on the
    // disk underneath, which looks like an empty drive.
    virtual std::string UnmountedFstabPoint(const std::string& /*path*/) { return {}; }
};

// The volumes of the platform the program runs on.
std::unique_ptr<Volumes> CreateVolumes();

} // namespace ostrel
