#include "FileReplace.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brennick {

namespace {

int LastError()
{
    return errno != 0 ? errno : EIO;
}

int WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastError();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

mode_t CurrentUmask()
{
    // umask() can only be read by setting it; the companion has a single thread.
    mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

} // namespace

std::string FolderOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int ReplaceFile(const std::string& path, std::string_view bytes, unsigned newMode)
{
    if (path.empty() || path.back() == '/') {
        return ENOENT;
    }
    mode_t mode = static_cast<mode_t>(newMode) & ~CurrentUmask() & 07777;
    struct stat info
    {
    };
    if (::lstat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return EISDIR;
        }
        if (S_ISREG(info.st_mode)) {
            // Refused like the platform's own write calls refuse it; root would be let through.
            if ((info.st_mode & S_IWUSR) == 0) {
                return EACCES;
            }
            mode = info.st_mode & 07777;
        }
    } else if (errno != ENOENT) {
        return LastError();
    }

    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // Hidden, so a listing taken while the file is written never shows it.
    std::string temporary = folder + "." + name + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return LastError();
    }
    // File systems without POSIX modes refuse the mode; the content matters more.
    ::fchmod(fd, mode);
    int error = WriteAll(fd, bytes);
    if (error == 0 && ::fsync(fd) != 0) {
        error = LastError();
    }
    if (::close(fd) != 0 && error == 0) {
        error = LastError();
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = LastError();
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
    }
    return error;
}

int ReadWholeFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    // Opened without blocking and read only when it is a plain file: a FIFO would wait for a
    // writer forever, and a device such as /dev/zero would never end.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return LastError();
    }
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        int error = LastError();
        ::close(fd);
        return error;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    char buffer[65536];
    int error = 0;
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = LastError();
            break;
        }
        if (got == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return error;
}

} // namespace brennick
