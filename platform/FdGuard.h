#pragma once

#include <cerrno>
#include <unistd.h>

namespace ostrel {

// Keeps errno across clean-up calls, so the caller sees the error that made the operation fail.
class ErrnoKeeper
{
public:
    ErrnoKeeper()
        : m_errno(errno)
    {
    }
    ~ErrnoKeeper() { errno = m_errno; }
    ErrnoKeeper(const ErrnoKeeper&) = delete;
    ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

private:
    int m_errno;
};

// Closes a file descriptor when it goes out of scope, keeping errno as it was.
class FdCloser
{
public:
    explicit FdCloser(int fd)
        : m_fd(fd)
    {
    }
    ~FdCloser()
    {
        if (m_fd >= 0) {
            ErrnoKeeper keep;
            ::close(m_fd);
        }
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    // Hands the descriptor over; it is no longer closed here.
    int Release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

} // namespace ostrel
