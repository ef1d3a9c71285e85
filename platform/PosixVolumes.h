#pragma once

#include "platform/Volumes.h"

#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// Drives and volumes of Linux, read from /proc/self/mountinfo and /sys/class/block.
class PosixVolumes : public Volumes
{
public:
    // How long a network mount may take before it counts as failed.
    static constexpr int kMountTimeoutMs = 60 * 1000;

    // The volumes of this system, seen by the user the program runs as.
    PosixVolumes();
    // The volumes as a mount table, a block-device folder and a login name describe them, mounting
    // network locations with mountProgram ("gio" or a stand-in that takes the same arguments).
    // fstabPath is the file-system table whose mount points UnmountedFstabPoint knows.
    PosixVolumes(std::string mountInfoPath, std::string sysBlockPath, std::string userName,
                 std::string mountProgram = "gio", int mountTimeoutMs = kMountTimeoutMs,
                 std::string fstabPath = "/etc/fstab");

    std::string DrivePart(const std::string& path) override;
    DriveType GetDriveType(const std::string& drive) override;
    bool IsReady(const std::string& drive) override;
    std::string VolumeName(const std::string& path) override;
    bool ConnectNetworkDrive(const std::string& location) override;
    std::vector<std::string> MountedDrives() override;
    std::string UnmountedFstabPoint(const std::string& path) override;

protected:
    // The label of the file system mounted at a drive root; empty when it has none.
    virtual std::string LabelOf(const std::string& drive);

private:
    struct MountEntry
    {
        std::string mountPoint;
        std::string fsType;
        unsigned major = 0;
        unsigned minor = 0;
    };

    std::vector<MountEntry> ReadMounts() const;
    // The mount entry at a drive part; the topmost one when several are stacked there.
    std::optional<MountEntry> MountAt(const std::string& drive) const;
    std::optional<std::string> AutomountFolder(const std::string& path) const;
    bool IsRemovableDevice(unsigned major, unsigned minor) const;

    std::string m_mountInfoPath;
    std::string m_sysBlockPath;
    std::string m_userName;
    std::string m_mountProgram;
    int m_mountTimeoutMs;
    std::string m_fstabPath;
};

} // namespace ostrel
