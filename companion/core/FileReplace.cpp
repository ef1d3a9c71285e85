#include "companion/core/FileReplace.h"

#include "platform/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brennick {

namespace {

int LastError()
{
    return errno != 0 ? errno : EIO;
}

} // namespace

std::string FolderOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int ReplaceFile(const std::string& path, std::string_view bytes, unsigned newMode)
{
    ostrel::SaveOptions options;
    options.followLink = false;
    options.newMode = static_cast<mode_t>(newMode);
    return ostrel::SaveFile(path, bytes, options);
}

int ReadWholeFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    // Opened without blocking and read only when it is a plain file: a FIFO would wait for a
    // writer forever, and a device such as /dev/zero would never end.
    struct stat info
    {
    };
    int fd = ostrel::OpenWithoutWaiting(path, O_RDONLY, info);
    if (fd < 0) {
        return LastError();
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
