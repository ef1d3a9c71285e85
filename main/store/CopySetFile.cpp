#include "store/CopySetFile.h"

#include "platform/AppFiles.h"
#include "platform/AtomicFile.h"
#include "platform/FdGuard.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr char kTab = '\t';
constexpr char kEndOfFile = '\x1a';
constexpr std::size_t kReadBlock = 256 * 1024;

// The errno of the last failed call; a call that failed without setting it still counts as an
// I/O error rather than as success.
int LastError()
{
    return errno != 0 ? errno : EIO;
}

// Splits one line (line end and CRs already gone) from the left at its first three TABs.
CopySet SplitLine(std::string_view line)
{
    CopySet set;
    std::string_view rest = line;
    if (std::size_t tab = line.find(kTab); tab != std::string_view::npos) {
        set.source = line.substr(0, tab);
        rest = line.substr(tab + 1);
    }
    std::size_t tab = rest.find(kTab);
    if (tab == std::string_view::npos) {
        set.target = rest;
        set.lastRun = " ";
        return set;
    }
    set.target = rest.substr(0, tab);
    std::string_view remainder = rest.substr(tab + 1);
    tab = remainder.find(kTab);
    if (tab == std::string_view::npos) {
        set.lastRun = remainder;
        return set;
    }
    set.lastRun = remainder.substr(0, tab);
    set.volumeName = remainder.substr(tab + 1);
    return set;
}

void AppendCopySets(std::string_view bytes, std::vector<CopySet>& sets)
{
    if (std::size_t end = bytes.find(kEndOfFile); end != std::string_view::npos) {
        bytes = bytes.substr(0, end);
    }
    std::string withoutCr;
    std::size_t position = 0;
    while (position < bytes.size()) {
        std::size_t lineFeed = bytes.find('\n', position);
        bool lastLine = lineFeed == std::string_view::npos;
        std::size_t lineEnd = lastLine ? bytes.size() : lineFeed;
        std::string_view line = bytes.substr(position, lineEnd - position);
        position = lastLine ? bytes.size() : lineFeed + 1;

        // The CR of a CR LF and every lone CR are dropped alike.
        if (line.find('\r') != std::string_view::npos) {
            withoutCr.clear();
            for (char c : line) {
                if (c != '\r') {
                    withoutCr.push_back(c);
                }
            }
            line = withoutCr;
        }
        // Dropped CRs after the last line break are no line of their own.
        if (lastLine && line.empty()) {
            break;
        }
        sets.push_back(SplitLine(line));
    }
}

bool HoldsAny(const std::string& text, std::string_view bytes)
{
    return text.find_first_of(bytes) != std::string::npos;
}

} // namespace

std::vector<CopySet> ParseCopySets(std::string_view bytes)
{
    std::vector<CopySet> sets;
    AppendCopySets(bytes, sets);
    return sets;
}

std::string FormatCopySets(const std::vector<CopySet>& sets)
{
    std::size_t size = 0;
    for (const CopySet& set : sets) {
        size += set.source.size() + set.target.size() + set.lastRun.size() + set.volumeName.size() + 5;
    }
    std::string bytes;
    bytes.reserve(size);
    for (const CopySet& set : sets) {
        bytes += set.source;
        bytes += kTab;
        bytes += set.target;
        bytes += kTab;
        bytes += set.lastRun;
        bytes += kTab;
        bytes += set.volumeName;
        bytes += "\r\n";
    }
    return bytes;
}

bool CanStoreCopySet(const CopySet& set)
{
    using namespace std::string_view_literals;
    constexpr std::string_view lineBreaks = "\n\r\x1a"sv;
    constexpr std::string_view separators = "\t\n\r\x1a"sv;
    return !HoldsAny(set.source, separators) && !HoldsAny(set.target, separators)
        && !HoldsAny(set.lastRun, separators) && !HoldsAny(set.volumeName, lineBreaks);
}

int ReadCopySets(const ReadBytes& read, std::vector<CopySet>& sets)
{
    std::string bytes;
    for (;;) {
        std::size_t filled = bytes.size();
        bytes.resize(filled + kReadBlock);
        errno = 0;
        std::ptrdiff_t done = read(bytes.data() + filled, kReadBlock);
        if (done < 0) {
            if (errno == EINTR) {
                bytes.resize(filled);
                continue;
            }
            int error = LastError();
            // A line cut short by the failure could be a path missing its end; only whole lines
            // are kept.
            std::string_view received = std::string_view(bytes).substr(0, filled);
            std::size_t lineFeed = received.rfind('\n');
            AppendCopySets(received.substr(0, lineFeed == std::string_view::npos ? 0 : lineFeed + 1), sets);
            return error;
        }
        bytes.resize(filled + static_cast<std::size_t>(done));
        if (done == 0 || bytes.find(kEndOfFile, filled) != std::string::npos) {
            break; // what follows a 0x1A is not part of the list, so it is not read
        }
    }
    AppendCopySets(bytes, sets);
    return 0;
}

int ReadCopySetFile(const std::string& path, std::vector<CopySet>& sets)
{
    // Opened without blocking, so that a FIFO named as the list can't hang the start-up.
    struct stat info
    {
    };
    int fd = OpenWithoutWaiting(path, O_RDONLY, info);
    if (fd < 0) {
        return LastError();
    }
    FdCloser closer(fd);
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return LastError();
    }
    return ReadCopySets([fd](char* buffer, std::size_t size) { return ::read(fd, buffer, size); }, sets);
}

int WriteCopySetFile(const std::string& path, const std::vector<CopySet>& sets)
{
    if (path.empty()) {
        return ENOENT;
    }
    for (const CopySet& set : sets) {
        if (!CanStoreCopySet(set)) {
            return EINVAL;
        }
    }
    if (int error = AppFiles::MakeFolderFor(path)) {
        return error; // the user's data folder, missing and impossible to make
    }
    // A full disk or a crash never leaves half a list.
    return SaveFile(path, FormatCopySets(sets));
}

} // namespace ostrel
