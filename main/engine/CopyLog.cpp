#include "engine/CopyLog.h"

#include "platform/AppFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ostrel {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
const std::string kAsterisks(65, '*');
// Shown in place of a CR or LF byte of a name: the symbols for carriage return and line feed.
constexpr std::string_view kCrSymbol = "␍";
constexpr std::string_view kLfSymbol = "␊";

// A path as it goes into a line of the log. Linux lets a name hold CR and LF, which would end the
// line early, leave a line without its word, and split the entry in the result window and the
// log viewer; they are written as visible symbols instead.
std::string LogText(std::string_view path)
{
    if (path.find_first_of("\r\n") == std::string_view::npos) {
        return std::string(path);
    }
    std::string text;
    text.reserve(path.size() + 8);
    for (char c : path) {
        if (c == '\r') {
            text.append(kCrSymbol);
        } else if (c == '\n') {
            text.append(kLfSymbol);
        } else {
            text.push_back(c);
        }
    }
    return text;
}

} // namespace

CopyLogError::CopyLogError(const std::string& path, int error)
    : std::runtime_error(path + ": " + std::strerror(error))
    , m_error(error)
{
}

CopyLog::CopyLog(FileSystem& fileSystem)
    : m_fs(fileSystem)
{
}

CopyLog::~CopyLog()
{
    Close();
}

void CopyLog::Open(const std::string& path, bool fresh)
{
    Close();
    m_path = path;
    std::error_code reason;
    m_fd = m_fs.OpenLog(path, fresh, &reason);
    if (m_fd < 0) {
        int error = reason ? reason.value() : EIO;
        // Where the log's own folder could not be made, that is the reason, not the missing name.
        if (error == ENOENT) {
            if (int folderError = AppFiles::MakeFolderFor(path)) {
                error = folderError;
            }
        }
        throw CopyLogError(path, error);
    }
}

void CopyLog::WriteLine(std::string_view line)
{
    std::string bytes;
    bytes.reserve(line.size() + kLineEnd.size());
    bytes.append(line).append(kLineEnd);
    // One write per line, straight to the file system: nothing waits in a buffer of ours.
    if (m_fd < 0) {
        throw CopyLogError(m_path, EBADF);
    }
    if (const FsResult written = m_fs.WriteLog(m_fd, m_path, bytes); !written) {
        throw CopyLogError(m_path, written.Error().value());
    }
}

void CopyLog::WriteCopyLine(const std::string& source, std::optional<DosTime> time, std::string_view word)
{
    std::string line = LogText(source) + " (" + (time ? FormatFileTime(*time) : std::string()) + ")  ";
    line.append(word);
    WriteLine(line);
}

void CopyLog::WriteDeleteLine(const std::string& entry, std::string_view word)
{
    std::string line = LogText(entry) + "  ";
    line.append(word);
    WriteLine(line);
}

void CopyLog::WriteSummary(const std::string& from, const std::string& to, const PassCounters& counters)
{
    WriteLine("");
    WriteLine(kAsterisks);
    WriteLine(LogText(from) + " --> " + LogText(to));
    // The labels line up in a fixed-pitch font: a full-width character takes two columns.
    WriteLine("コピーファイル総数  ： " + std::to_string(counters.total));
    WriteLine("上書きファイル数    ： " + std::to_string(counters.overwritten));
    WriteLine("追加　ファイル数    ： " + std::to_string(counters.added));
    WriteLine("削除　ファイル数    ： " + std::to_string(counters.deleted));
    WriteLine(kAsterisks);
    WriteLine("");
    WriteLine("");
}

void CopyLog::Close()
{
    if (m_fd >= 0) {
        int fd = m_fd;
        m_fd = -1;
        m_fs.CloseLog(fd);
    }
}

std::string CopyLog::FormatFileTime(DosTime time)
{
    unsigned date = time >> 16;
    unsigned clock = time & 0xFFFFu;
    unsigned year = 1980 + (date >> 9);
    unsigned month = (date >> 5) & 0x0Fu;
    unsigned day = date & 0x1Fu;
    unsigned hour = clock >> 11;
    unsigned minute = (clock >> 5) & 0x3Fu;
    unsigned second = (clock & 0x1Fu) * 2;
    char text[40];
    int length = std::snprintf(text, sizeof text, "%04u/%02u/%02u", year, month, day);
    if (clock != 0) {
        std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), " %u:%02u:%02u", hour,
                      minute, second);
    }
    return text;
}

} // namespace ostrel
