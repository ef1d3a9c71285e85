#pragma once

#include "platform/AppFiles.h"
#include "platform/FileSystem.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrel {

// A copy log that could not be created, opened or written. It ends the pass and the run; the lines
// already written stay in the file.
class CopyLogError : public std::runtime_error
{
public:
    CopyLogError(const std::string& path, int error);
    int Error() const { return m_error; }

private:
    int m_error;
};

// Counters of one pass, printed in its summary block.
struct PassCounters
{
    long total = 0;
    long overwritten = 0;
    long added = 0;
    long deleted = 0;
};

// The plain-text record of a run, "velmor.log" in the folder AppFiles gives. Every line ends with CR LF
// and is handed to the file system as soon as it is written, so the lines survive an early end.
// A CR or LF inside a path is written as "␍" or "␊", so that every entry stays one line.
class CopyLog
{
public:
    static constexpr const char* kFileName = AppFiles::kCopyLogName;

    // The log's file goes through the file-system layer like every other file of a pass.
    explicit CopyLog(FileSystem& fileSystem);
    ~CopyLog();
    CopyLog(const CopyLog&) = delete;
    CopyLog& operator=(const CopyLog&) = delete;

    // Creates or empties the log when fresh, otherwise appends to it. Throws CopyLogError.
    void Open(const std::string& path, bool fresh);

    // Writes one line and its CR LF. Throws CopyLogError.
    void WriteLine(std::string_view line);

    // The line of an acted-on copy-list entry. Without a source time the brackets stay empty.
    void WriteCopyLine(const std::string& source, std::optional<DosTime> time, std::string_view word);

    // The line of a delete-list entry.
    void WriteDeleteLine(const std::string& entry, std::string_view word);

    // The block that closes a pass that was not aborted.
    void WriteSummary(const std::string& from, const std::string& to, const PassCounters& counters);

    void Close();

    // A file time as "yyyy/mm/dd h:nn:ss"; at exactly midnight only the date.
    static std::string FormatFileTime(DosTime time);

private:
    FileSystem& m_fs;
    std::string m_path;
    int m_fd = -1;
};

} // namespace ostrel
