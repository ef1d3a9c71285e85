#pragma once

#include <cerrno>
#include <string>
#include <sys/mount.h>

namespace ostrel::test {

// A small tmpfs mounted on a folder, unmounted when the guard goes, whatever the test's outcome.
// Mounting needs root; Mounted() tells whether it worked and Error() why not.
class TmpfsMount
{
public:
    TmpfsMount(std::string folder, const std::string& size)
        : m_folder(std::move(folder))
    {
        std::string options = "size=" + size;
        m_mounted = ::mount("tmpfs", m_folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
        m_error = m_mounted ? 0 : errno;
    }
    ~TmpfsMount()
    {
        if (m_mounted && ::umount2(m_folder.c_str(), 0) != 0) {
            ::umount2(m_folder.c_str(), MNT_DETACH);
        }
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool Mounted() const { return m_mounted; }
    int Error() const { return m_error; }

private:
    std::string m_folder;
    bool m_mounted = false;
    int m_error = 0;
};

} // namespace ostrel::test
