#include "MirrorEngine.h"

#include "PathText.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace ostrel {

namespace {

constexpr const char* kSearching = "フォルダ検索中....";
constexpr const char* kDeleting = "削除中.....";

constexpr const char* kOverwritten = "上書きコピー";
constexpr const char* kOverwriteFailed = "上書きコピー【失敗】";
constexpr const char* kAdded = "追加コピー";
constexpr const char* kAddFailed = "追加コピー【失敗】";
constexpr const char* kDeleted = "削除";
constexpr const char* kDeleteFailed = "削除【失敗】";
constexpr const char* kFolderDeleted = "フォルダ削除";
constexpr const char* kFolderDeleteFailed = "フォルダ削除【失敗】";

// Shows the wait cursor for as long as it lives, also when an error ends the pass.
class WaitCursor
{
public:
    explicit WaitCursor(EngineHost& host)
        : m_host(host)
    {
        m_host.SetWaitCursor(true);
    }
    ~WaitCursor() { m_host.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    EngineHost& m_host;
};

} // namespace

MirrorEngine::MirrorEngine(FileSystem& fileSystem, EngineHost& host, std::string logFolder)
    : m_fs(fileSystem)
    , m_host(host)
    , m_logFolder(std::move(logFolder))
{
}

void MirrorEngine::ClearLists()
{
    m_copyList.clear();
    m_deleteList.clear();
}

std::string MirrorEngine::LogPath() const
{
    return AppendDelimiter(m_logFolder) + CopyLog::kFileName;
}

void MirrorEngine::BeginWalk(const std::string& from, const std::string& to)
{
    // When one folder of the pass lies inside the other, the walks must pass it over; otherwise
    // every run would nest a further copy, or list the source itself for deletion.
    m_fs.Refresh();
    m_passFolders.clear();
    for (const std::string* folder : {&from, &to}) {
        if (auto id = m_fs.FolderId(*folder)) {
            m_passFolders.push_back(*id);
        }
    }
}

bool MirrorEngine::IsPassFolder(const FileId& id) const
{
    return std::find(m_passFolders.begin(), m_passFolders.end(), id) != m_passFolders.end();
}

bool MirrorEngine::KeepsFailedCopy(const std::string& entry) const
{
    // A file entry matches itself; a folder entry matches every failed source below it.
    auto next = m_failedSources.lower_bound(entry);
    return next != m_failedSources.end() && next->compare(0, entry.size(), entry) == 0;
}

void MirrorEngine::GetCopyFiles(const std::string& from, const std::string& to)
{
    BeginWalk(from, to);
    WalkCopy(from, to);
}

void MirrorEngine::WalkCopy(const std::string& fromFolder, const std::string& toFolder)
{
    if (m_host.IsStatusDue()) {
        m_host.SetStatusText(0, kSearching);
    }
    const std::string from = AppendDelimiter(fromFolder);
    const std::string to = AppendDelimiter(toFolder);
    std::vector<DirEntry> entries;
    m_fs.ListFolder(from, entries); // what could be read before an error is still listed
    m_copyList.BeginFolder(from, to);

    for (const DirEntry& entry : entries) {
        if (m_aborted) {
            break;
        }
        m_host.ProcessEvents();
        const Attributes& attributes = entry.attributes;
        if (attributes.temporary) {
            // What a killed copy left: never the user's file, and never to be copied on.
        } else if (attributes.system && !m_host.IsOptionOn(RunOption::SystemFile)) {
            // passed over, a system folder too
        } else if (attributes.folder) {
            if (!m_host.IsOptionOn(RunOption::SubFolder) && !IsPassFolder(attributes.id)) {
                WalkCopy(from + entry.name, to + entry.name);
                m_copyList.BeginFolder(from, to);
            }
        } else if (!attributes.link || attributes.linkToFile) {
            // A link to a file is copied as that file's content; other links are never followed.
            m_copyList.Add(entry.name, entry.time);
        }
        m_host.ProcessEvents();
    }
}

void MirrorEngine::GetDeleteFiles(const std::string& from, const std::string& to)
{
    BeginWalk(from, to);
    WalkDelete(from, to);
}

void MirrorEngine::WalkDelete(const std::string& fromFolder, const std::string& toFolder)
{
    const std::string from = AppendDelimiter(fromFolder);
    const std::string to = AppendDelimiter(toFolder);
    // A source folder that is missing, or can't be listed to its end, counts as unknown, not as
    // empty: nothing of its target counterpart is listed. An unplugged or renamed source must
    // never empty the target.
    std::vector<DirEntry> sourceEntries;
    if (!m_fs.ListFolder(from, sourceEntries, ListDetail::Names)) {
        return;
    }
    std::sort(sourceEntries.begin(), sourceEntries.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    auto findSource = [&sourceEntries](const std::string& name) -> const Attributes* {
        auto at =
            std::lower_bound(sourceEntries.begin(), sourceEntries.end(), name,
                             [](const DirEntry& entry, const std::string& key) { return entry.name < key; });
        return at != sourceEntries.end() && at->name == name ? &at->attributes : nullptr;
    };
    std::vector<DirEntry> entries;
    m_fs.ListFolder(to, entries, ListDetail::Names);

    for (const DirEntry& entry : entries) {
        if (m_aborted) {
            break;
        }
        m_host.ProcessEvents();
        const Attributes& attributes = entry.attributes;
        // Names the source listing lacks are still looked up, so that a file system that
        // ignores letter case finds its match.
        const Attributes* counterpart = findSource(entry.name);
        const std::string fromPath = counterpart && !counterpart->link ? std::string() : from + entry.name;
        if (attributes.system || attributes.temporary || IsPassFolder(attributes.id)) {
            // never listed for deletion and never entered; a copy's leftover is not the user's to
            // delete or trash, the next copy into its folder removes it
        } else if (attributes.folder) {
            bool sourceFolder = counterpart ? counterpart->folder : m_fs.IsFolder(fromPath);
            if (sourceFolder) {
                if (!m_host.IsOptionOn(RunOption::SubFolder)) {
                    WalkDelete(from + entry.name, to + entry.name);
                }
            } else if ((!counterpart || counterpart->link) && m_fs.FolderId(fromPath)) {
                // A link to a folder in the source still holds that folder's content, so the
                // target's copy of it stays.
            } else {
                std::string folderEntry = to + entry.name + kPathDelimiter;
                if (!KeepsFailedCopy(folderEntry)) {
                    m_deleteList.push_back(folderEntry);
                }
            }
        } else {
            // A source file of that name keeps its target counterpart, even when its time is out of
            // range: the copy of it fails, and deleting the target's copy would lose it there.
            bool sourceFile = counterpart && !counterpart->folder && !counterpart->link;
            if (!sourceFile && ((counterpart && counterpart->folder) || !m_fs.ReadFileTime(fromPath))) {
                std::string fileEntry = to + entry.name;
                if (!KeepsFailedCopy(fileEntry)) {
                    m_deleteList.push_back(fileEntry);
                }
            }
        }
        m_host.ProcessEvents();
    }
}

std::string MirrorEngine::Shorten(const std::string& path)
{
    return ShortenPath(path, kStatusPanelWidth,
                       [this](const std::string& text) { return m_host.StatusTextWidth(text); });
}

void MirrorEngine::ExeCopyFiles(bool firstOfRun, const std::string& from, const std::string& to, bool logOnly)
{
    m_fs.Refresh();
    CopyLog log;
    log.Open(LogPath(), firstOfRun);
    WaitCursor waitCursor(m_host);
    PassCounters counters;

    CopyPhase(log, logOnly, counters);
    if (m_aborted) {
        return;
    }
    DeletePhase(log, logOnly, counters);
    m_host.SetStatusText(0, "");
    m_host.SetStatusText(1, "");
    if (!m_aborted) {
        log.WriteSummary(from, to, counters);
    }
}

void MirrorEngine::CopyPhase(CopyLog& log, bool logOnly, PassCounters& counters)
{
    const std::size_t count = m_copyList.size();
    m_knownFolder.clear();
    m_madeFolders.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string target = m_copyList.Target(i);
        std::string source; // made only when the entry is shown or acted on
        if (m_host.IsStatusDue()) {
            source = m_copyList.Source(i);
            m_host.SetStatusText(0, Shorten(source));
            // Both numbers count from zero: three entries show 0/2, 1/2 and 2/2.
            m_host.SetStatusText(1,
                                 std::to_string(i) + "/" + std::to_string(static_cast<long long>(count) - 1));
        }

        // The source's time as the listing read it. A source that vanished since fails at its
        // copy; one whose time is out of range fails here. Either fails this entry only.
        const std::optional<DosTime> sourceTime = m_copyList.SourceTime(i);
        // A folder this pass made holds only what the pass put there, so nothing needs a look.
        const bool inNewFolder = !m_madeFolders.empty() && m_madeFolders.count(ExtractFolder(target)) != 0;
        const std::optional<DosTime> targetTime = inNewFolder ? std::nullopt : m_fs.ReadFileTime(target);
        const bool targetAbsent = inNewFolder || (!targetTime && errno == ENOENT);
        bool acted = !targetTime || !sourceTime || *sourceTime > *targetTime;
        if (acted && source.empty()) {
            source = m_copyList.Source(i);
        }
        bool succeeded = false;
        const char* word = nullptr;
        if (targetTime) {
            if (!sourceTime) {
                word = kOverwriteFailed;
            } else if (*sourceTime > *targetTime) {
                succeeded = logOnly;
                if (!logOnly) {
                    // A read-only system file would refuse the copy; only the read-only bit is
                    // cleared, so a system file that is writable stays writable.
                    auto attributes = m_fs.GetAttributes(target);
                    if (attributes && attributes->system && attributes->readOnly) {
                        m_fs.SetReadOnly(target, false);
                    }
                    succeeded = m_fs.CopyFile(source, target);
                }
                word = succeeded ? kOverwritten : kOverwriteFailed;
                counters.overwritten += succeeded ? 1 : 0;
            }
        } else if (!sourceTime) {
            word = kAddFailed;
        } else {
            succeeded = logOnly;
            if (!logOnly) {
                std::string folder = ExtractFolder(target);
                if (folder != m_knownFolder) {
                    if (!m_fs.IsFolder(folder)) {
                        MakeFolder(folder);
                        if (m_fs.IsFolder(folder)) {
                            m_madeFolders.insert(folder);
                        }
                    }
                    m_knownFolder = folder;
                }
                succeeded = m_fs.CopyFile(source, target, targetAbsent);
            }
            word = succeeded ? kAdded : kAddFailed;
            counters.added += succeeded ? 1 : 0;
        }
        if (acted) {
            ++counters.total;
            if (!succeeded && !logOnly) {
                m_failedSources.insert(source);
            }
            log.WriteCopyLine(source, sourceTime, word);
        }
        m_host.ProcessEvents();
        if (m_aborted) {
            return;
        }
    }
}

void MirrorEngine::DeletePhase(CopyLog& log, bool logOnly, PassCounters& counters)
{
    for (const std::string& entry : m_deleteList) {
        if (m_host.IsStatusDue()) {
            m_host.SetStatusText(0, kDeleting + Shorten(entry));
        }
        bool folder = ExtractName(entry).empty();
        bool succeeded = logOnly;
        if (!logOnly) {
            if (m_host.IsOptionOn(RunOption::Trash)) {
                succeeded = MoveToTrash(entry);
            } else {
                succeeded = folder ? DeleteFolder(entry) : m_fs.DeleteFile(entry);
            }
        }
        const char* word = nullptr;
        if (folder) {
            word = succeeded ? kFolderDeleted : kFolderDeleteFailed;
        } else {
            word = succeeded ? kDeleted : kDeleteFailed;
            counters.deleted += succeeded ? 1 : 0;
        }
        log.WriteDeleteLine(entry, word);
        m_host.ProcessEvents();
        if (m_aborted) {
            return;
        }
    }
}

void MirrorEngine::MakeFolder(const std::string& path)
{
    if (m_fs.CreateFolder(path)) {
        return;
    }
    // Create every folder on the way down; the root and folders that exist fail harmlessly.
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == kPathDelimiter) {
            m_fs.CreateFolder(path.substr(0, i + 1));
        }
    }
}

bool MirrorEngine::DeleteFolder(const std::string& path)
{
    // Never through a link: only a real folder is emptied.
    if (!m_fs.IsFolder(path)) {
        return false;
    }
    const std::string folder = AppendDelimiter(path);
    std::vector<DirEntry> entries;
    m_fs.ListFolder(folder, entries, ListDetail::Names);
    for (const DirEntry& entry : entries) {
        m_host.ProcessEvents();
        if (entry.attributes.system) {
            continue;
        }
        if (entry.attributes.folder) {
            DeleteFolder(folder + entry.name + kPathDelimiter);
        } else {
            m_fs.DeleteFile(folder + entry.name);
        }
    }
    return m_fs.RemoveFolder(folder);
}

bool MirrorEngine::MoveToTrash(const std::string& path)
{
    return m_fs.MoveToTrash(RemoveDelimiter(path));
}

} // namespace ostrel
