#include "engine/RunLock.h"

#include "platform/AppFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

RunLock::~RunLock()
{
    Unlock();
}

RunLock::Result RunLock::TryLock(const std::string& logPath)
{
    Unlock();
    m_path = logPath;
    AppFiles::MakeFolderFor(logPath); // the user's state folder on a first run; a failure shows below
    // Made here only when missing, so that an existing log is never emptied by a run that can't
    // start; opened for reading, which is all flock needs.
    m_fd = ::open(logPath.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    m_made = m_fd >= 0;
    if (m_fd < 0 && errno == EEXIST) {
        // Only a plain file is locked: opening a FIFO for reading would wait for a writer for ever.
        struct stat info
        {
        };
        if (::stat(logPath.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            m_fd = ::open(logPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
        if (m_fd >= 0 && (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode))) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    if (m_fd < 0) {
        return Result::NoFile;
    }
    int locked = 0;
    do {
        locked = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const bool busy = errno == EWOULDBLOCK;
        m_made = false; // the other run's log now
        ::close(m_fd);
        m_fd = -1;
        return busy ? Result::Busy : Result::NoFile;
    }
    return Result::Locked;
}

void RunLock::Unlock()
{
    if (m_fd < 0) {
        return;
    }
    if (m_made) {
        // Removed only while it is still the empty file this lock made.
        struct stat held
        {
        };
        struct stat named
        {
        };
        if (::fstat(m_fd, &held) == 0 && held.st_size == 0 && ::lstat(m_path.c_str(), &named) == 0
            && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            ::unlink(m_path.c_str());
        }
    }
    ::close(m_fd);
    m_fd = -1;
    m_made = false;
}

} // namespace ostrel
