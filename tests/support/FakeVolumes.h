#pragma once

#include "platform/Volumes.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ostrel::test {

// Drives and volumes as a test describes them. Prefixes match on whole path components, so
// "/mnt/a" holds "/mnt/a/x" but not "/mnt/ab"; the longest matching prefix wins. Every question
// asked is recorded, so a test can tell which drives were checked and how often.
class FakeVolumes : public Volumes
{
public:
    // Path prefix to the drive part of the paths below it. An absolute path that no prefix holds
    // lies on "/"; a relative path has no drive.
    std::map<std::string, std::string> driveParts;
    // Drive part to its type; a drive not listed does not exist (NoRootDir).
    std::map<std::string, DriveType> types;
    // Drive part to readiness; a drive not listed is not ready.
    std::map<std::string, bool> ready;
    // Path prefix or drive part to the volume label; a path no key holds has no label.
    std::map<std::string, std::string> labels;
    // What ConnectNetworkDrive answers, and the locations it was asked to connect. onConnect, when
    // set, runs before the answer is given (to make the drive appear, for example).
    bool connectResult = false;
    std::function<void(const std::string& location)> onConnect;
    std::vector<std::string> connectLocations;
    // What MountedDrives answers.
    std::vector<std::string> mountedDrives{"/"};

    std::vector<std::string> typeQueries;
    std::vector<std::string> readyQueries;
    std::vector<std::string> volumeNameQueries;

    std::string DrivePart(const std::string& path) override
    {
        if (path.empty() || path[0] != '/') {
            return {};
        }
        const std::string* drive = LongestPrefix(driveParts, path);
        return drive ? *drive : std::string("/");
    }

    DriveType GetDriveType(const std::string& drive) override
    {
        typeQueries.push_back(drive);
        auto it = types.find(drive);
        return it == types.end() ? DriveType::NoRootDir : it->second;
    }

    bool IsReady(const std::string& drive) override
    {
        readyQueries.push_back(drive);
        auto it = ready.find(drive);
        return it != ready.end() && it->second;
    }

    std::string VolumeName(const std::string& path) override
    {
        volumeNameQueries.push_back(path);
        const std::string* label = LongestPrefix(labels, path);
        return label ? *label : std::string();
    }

    bool ConnectNetworkDrive(const std::string& location) override
    {
        connectLocations.push_back(location);
        if (onConnect) {
            onConnect(location);
        }
        return connectResult;
    }

    std::vector<std::string> MountedDrives() override { return mountedDrives; }

    // fstab mount points with nothing mounted: a path at or below one lies on it.
    std::vector<std::string> unmountedFstabPoints;
    std::string UnmountedFstabPoint(const std::string& path) override
    {
        for (const std::string& point : unmountedFstabPoints) {
            if (HoldsPath(point, path)) {
                return point;
            }
        }
        return {};
    }

    // True when path is prefix itself or lies below it; a trailing "/" on either is ignored.
    static bool HoldsPath(const std::string& prefix, const std::string& path)
    {
        std::string folder = prefix;
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        if (folder == "/") {
            return !path.empty() && path[0] == '/';
        }
        return path.compare(0, folder.size(), folder) == 0
            && (path.size() == folder.size() || path[folder.size()] == '/');
    }

private:
    static const std::string* LongestPrefix(const std::map<std::string, std::string>& map,
                                            const std::string& path)
    {
        const std::string* found = nullptr;
        std::size_t foundLength = 0;
        for (const auto& [prefix, value] : map) {
            if (HoldsPath(prefix, path) && (!found || prefix.size() > foundLength)) {
                found = &value;
                foundLength = prefix.size();
            }
        }
        return found;
    }
};

} // namespace ostrel::test
