#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ostrel::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

struct Outcome
{
    int status = -1;
    std::string output; // standard output and standard error together
};

// Runs a program to its end in a working folder with extra environment variables and a text on
// its standard input.
Outcome RunProgram(const std::vector<std::string>& arguments, const std::string& folder,
                   const Environment& environment, const std::string& input = "");

// Makes an empty file system of a kind ("ext4", "xfs", "exfat") in a new image file of size MiB.
bool MakeImage(const std::string& image, const std::string& kind, int megabytes, std::string& output);

// A file-system image mounted through a loop device at a folder; unmounted when the guard goes,
// whatever the test's outcome.
class LoopDrive
{
public:
    LoopDrive(const std::string& image, std::string folder, const std::string& options = "loop")
        : m_folder(std::move(folder))
    {
        Outcome mount = RunProgram({"mount", "-o", options, image, m_folder}, "/", {});
        m_mounted = mount.status == 0;
        m_output = mount.output;
    }
    ~LoopDrive() { Unmount(); }
    LoopDrive(const LoopDrive&) = delete;
    LoopDrive& operator=(const LoopDrive&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Output() const { return m_output; }
    void Unmount()
    {
        if (m_mounted && RunProgram({"umount", m_folder}, "/", {}).status != 0) {
            RunProgram({"umount", "-l", m_folder}, "/", {});
        }
        m_mounted = false;
    }

private:
    std::string m_folder;
    bool m_mounted = false;
    std::string m_output;
};

// An exFAT image mounted through its FUSE driver, as users' sticks are: on a loop block device,
// which the driver needs. Unmounted and detached when the guard goes, whatever the test's outcome.
class FuseExfatDrive
{
public:
    FuseExfatDrive(const std::string& image, std::string folder)
        : m_folder(std::move(folder))
    {
        Outcome loop = RunProgram({"losetup", "-f", "--show", image}, "/", {});
        m_output = loop.output;
        if (loop.status != 0) {
            return;
        }
        m_device = loop.output.substr(0, loop.output.find('\n'));
        Outcome mount = RunProgram({"mount.exfat-fuse", m_device, m_folder}, "/", {});
        m_mounted = mount.status == 0;
        m_output += mount.output;
    }
    ~FuseExfatDrive()
    {
        if (m_mounted && RunProgram({"umount", m_folder}, "/", {}).status != 0) {
            RunProgram({"umount", "-l", m_folder}, "/", {});
        }
        if (!m_device.empty()) {
            RunProgram({"losetup", "-d", m_device}, "/", {});
        }
    }
    FuseExfatDrive(const FuseExfatDrive&) = delete;
    FuseExfatDrive& operator=(const FuseExfatDrive&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Output() const { return m_output; }

private:
    std::string m_folder;
    std::string m_device;
    bool m_mounted = false;
    std::string m_output;
};

} // namespace ostrel::test
