#include "engine/MirrorEngine.h"

#include "engine/EntryCopier.h"
#include "engine/StatusTexts.h"
#include "platform/PathText.h"
#include "platform/WalkRules.h"

#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

namespace ostrel {

// Why entries failed, for developers (QT_LOGGING_RULES="ostrel.engine.debug=true"); the copy log
// stays as it is.
Q_LOGGING_CATEGORY(lcEngine, "ostrel.engine", QtInfoMsg)

namespace {

// A path and why something failed there, for developers (QT_LOGGING_RULES=ostrel.engine.debug=true).
void LogReason(const std::string& path, const char* what, const std::error_code& reason)
{
    qCDebug(lcEngine).noquote() << QString::fromStdString(path) << what
                                << QString::fromStdString(reason.message());
}

// The copy log's words: a file format, read by people and by Brennick's log window. Never
// translated; the status-bar texts are in StatusTexts.h.
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

// How much earlier than a listing a change may be stamped and still have come after it: file
// systems keep coarse times (two seconds on FAT), and the kernel stamps with a clock that lags.
constexpr std::int64_t kChangeMargin = 2'000'000'000;

std::int64_t NowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

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
    m_deleteFolders.clear();
    m_emptyFolders.clear();
    m_twins.clear();
    m_fileRenames.clear();
    m_folderRenames.clear();
    // What the pass before found and did goes to the pass that follows it in the copy set.
    if (!m_current.from.empty()) {
        m_current.listings = std::move(m_sourceListings);
        m_earlier = std::move(m_current);
        m_current = PassMemory();
    }
    m_sourceListings.clear();
}

void MirrorEngine::BeginCopySet()
{
    m_failedSources.clear();
    m_sourceListings.clear();
    m_current = PassMemory();
    m_earlier = PassMemory();
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
    m_fs.BeginPass({from, to});
    m_passWatch.Reset();
    m_passFolders.clear();
    m_passLineage.clear();
    for (const std::string* folder : {&from, &to}) {
        if (auto id = m_fs.FolderId(*folder)) {
            m_passFolders.push_back(*id);
        }
        std::vector<FileId> lineage = m_fs.FolderLineage(*folder);
        m_passLineage.insert(m_passLineage.end(), lineage.begin(), lineage.end());
    }
}

bool MirrorEngine::ContainsPassFolder(const FileId& id) const
{
    return std::find(m_passLineage.begin(), m_passLineage.end(), id) != m_passLineage.end();
}

bool MirrorEngine::IsPassFolder(const FileId& id) const
{
    return std::find(m_passFolders.begin(), m_passFolders.end(), id) != m_passFolders.end();
}

bool MirrorEngine::KeepsFailedCopy(const std::string& entry) const
{
    if (m_failedSources.empty()) {
        return false;
    }
    // A file entry matches itself; a folder entry matches every failed source below it.
    auto next = m_failedSources.lower_bound(entry);
    if (next != m_failedSources.end() && next->compare(0, entry.size(), entry) == 0) {
        return true;
    }
    // An entry below a source folder that could not be listed matches that folder.
    for (std::size_t slash = entry.find(kPathDelimiter);
         slash != std::string::npos && slash + 1 < entry.size();
         slash = entry.find(kPathDelimiter, slash + 1)) {
        if (m_failedSources.count(entry.substr(0, slash + 1)) != 0) {
            return true;
        }
    }
    return false;
}

void MirrorEngine::GetCopyFiles(const std::string& from, const std::string& to)
{
    m_sourceListings.clear();
    m_current.from = AppendDelimiter(from);
    BeginWalk(from, to);
    WalkCopy(from, to);
}

bool MirrorEngine::WalkCopy(const std::string& fromFolder, const std::string& toFolder, bool twin)
{
    if (m_host.IsStatusDue()) {
        m_host.SetStatusText(0, StatusTexts::Shown(StatusTexts::kSearching));
    }
    const std::string from = AppendDelimiter(fromFolder);
    const std::string to = AppendDelimiter(toFolder);
    std::vector<DirEntry> entries;
    // Names and kinds only: each file's time is read when its entry is carried out. What could
    // be read before an error is still listed. The rest was not copied, so its absence from the
    // target must not turn into a deletion in a later pass of the copy set.
    const std::int64_t listedAt = NowNanoseconds();
    const FsResult listed = m_fs.ListFolder(from, entries, ListDetail::Names);
    const bool complete = static_cast<bool>(listed);
    if (!complete) {
        m_failedSources.insert(from);
        LogReason(from, "not listed:", listed.Error());
        m_unlisted.push_back({from, listed.Error()});
    }
    m_copyList.BeginFolder(from, to);
    // Node-based: the listing stays where it is while the walks below add theirs.
    SourceListing& listing =
        m_sourceListings.insert_or_assign(from, SourceListing(complete, entries, listedAt)).first->second;
    // After a log-only pass, what it would have copied here would be as new as its source now,
    // and what it would have deleted or renamed would be gone: the preview lists what the run would.
    const bool preview = m_earlier.logOnly;

    bool holdsFiles = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const DirEntry& entry = entries[i];
        if (m_aborted) {
            break;
        }
        m_host.ProcessEvents();
        const Attributes& attributes = entry.attributes;
        const bool systemFiles = attributes.system && m_host.IsOptionOn(RunOption::SystemFile);
        if (PassesOver(Walk::Copy, attributes, systemFiles)) {
            // passed over, a folder with all it holds
        } else if (preview
                   && IsGoneInPreview(attributes.folder ? from + entry.name + kPathDelimiter
                                                        : from + entry.name)) {
            // gone, or the same as its counterpart, after the pass before
        } else if (attributes.folder) {
            if (!m_host.IsOptionOn(RunOption::SubFolder) && !IsPassFolder(attributes.id)) {
                listing.MarkListed(i);
                // Whatever a folder's twin holds lands in the folder itself where case is folded.
                holdsFiles =
                    WalkCopy(from + entry.name, to + entry.name, twin || listing.IsTwin(i)) || holdsFiles;
                m_copyList.BeginFolder(from, to);
            }
        } else {
            // Files, and links as links, whatever they point to.
            listing.MarkListed(i);
            if (twin || listing.IsTwin(i)) {
                m_twins.insert(m_copyList.size());
            }
            m_copyList.Add(entry.name);
            holdsFiles = true;
        }
        m_host.ProcessEvents();
    }
    // A folder that holds files gets made by their copies; one without is made after the copies,
    // so that its absence never looks like a deletion to the next pass.
    if (!holdsFiles && complete && !m_aborted) {
        m_emptyFolders.push_back(to);
    }
    return holdsFiles;
}

bool MirrorEngine::IsGoneInPreview(const std::string& path) const
{
    return m_earlier.gone.count(path) != 0 || m_earlier.copiedTo.count(path) != 0;
}

const SourceListing& MirrorEngine::SourceListingOf(const std::string& from)
{
    // The copy walk of this pass listed most source folders moments ago; a folder it passed over
    // (a system folder, say) is listed now.
    if (auto kept = m_sourceListings.find(from); kept != m_sourceListings.end()) {
        return kept->second;
    }
    std::vector<DirEntry> entries;
    const bool complete = static_cast<bool>(m_fs.ListFolder(from, entries, ListDetail::Names));
    return m_sourceListings.emplace(from, SourceListing(complete, entries)).first->second;
}

void MirrorEngine::GetDeleteFiles(const std::string& from, const std::string& to)
{
    BeginWalk(from, to);
    m_deleteMirroredOnly = !m_earlier.from.empty() && m_earlier.from == AppendDelimiter(to);
    WalkDelete(from, to, m_fs.FolderId(to));
}

void MirrorEngine::WalkDelete(const std::string& fromFolder, const std::string& toFolder,
                              std::optional<FileId> toId)
{
    const std::string from = AppendDelimiter(fromFolder);
    const std::string to = AppendDelimiter(toFolder);
    // A source folder that is missing, or can't be listed to its end, counts as unknown, not as
    // empty: nothing of its target counterpart is listed. An unplugged or renamed source must
    // never empty the target.
    const SourceListing& source = SourceListingOf(from);
    if (!source.IsComplete()) {
        return;
    }
    // Deleting from the folder the pass before copied from: only what that pass's copy walk listed
    // here can go; a folder it did not enter (or list in full) keeps everything.
    const SourceListing* mirrored = nullptr;
    if (m_deleteMirroredOnly) {
        auto found = m_earlier.listings.find(to);
        if (found == m_earlier.listings.end() || !found->second.IsComplete()) {
            return;
        }
        mirrored = &found->second;
    }
    // What could be read of the to folder is weighed; what could not be read stays.
    std::vector<DirEntry> entries;
    static_cast<void>(m_fs.ListFolder(to, entries, ListDetail::Names));
    std::optional<bool> foldsCase; // asked when a name of the to folder is first missed

    for (const DirEntry& entry : entries) {
        if (m_aborted) {
            break;
        }
        m_host.ProcessEvents();
        const Attributes& attributes = entry.attributes;
        // Names the source listing lacks are still looked up, so that a file system that
        // ignores letter case finds its match.
        const SourceKind* counterpart = source.Find(entry.name);
        const bool counterpartLink = counterpart && *counterpart == SourceKind::Link;
        const bool counterpartFolder = counterpart && *counterpart == SourceKind::Folder;
        const std::string fromPath = counterpart ? std::string() : from + entry.name;
        const std::string toPath = to + entry.name;
        if (PassesOver(Walk::Delete, attributes) || attributes.mountPoint
            || (attributes.folder && ContainsPassFolder(attributes.id))) {
            // never listed for deletion and never entered: the file system's own entries, special
            // files, a copy's leftover (the next copy into its folder removes it), a drive mounted
            // inside the target, and a folder that holds the other folder of the pass
        } else if (!counterpart && CaseOnlyRename(from, to, entry, source, foldsCase)) {
            // the same entry in the to folder's eyes: renamed, never deleted
        } else if (attributes.folder) {
            bool sourceFolder = counterpart ? counterpartFolder : m_fs.IsFolder(fromPath);
            if (sourceFolder) {
                if (!m_host.IsOptionOn(RunOption::SubFolder)) {
                    WalkDelete(from + entry.name, toPath, attributes.id);
                }
            } else if (!mirrored || MayDeleteFromSource(toPath, entry, *mirrored)) {
                // Nothing of that name in the source, a file, or a link, which the next copy
                // mirrors as a link once the folder is gone.
                ListForDeletion(toPath + kPathDelimiter, toId);
            }
        } else {
            // A source file or link of that name keeps its target counterpart, even when its time
            // is out of range: the copy of it fails, and deleting the target's copy would lose it.
            bool sourceFile = counterpart && (*counterpart == SourceKind::File || counterpartLink);
            if (!sourceFile && (counterpartFolder || !m_fs.ReadFileTime(fromPath))
                && (!mirrored || MayDeleteFromSource(toPath, entry, *mirrored))) {
                ListForDeletion(toPath, toId);
            }
        }
        m_host.ProcessEvents();
    }
}

bool MirrorEngine::CaseOnlyRename(const std::string& from, const std::string& to, const DirEntry& entry,
                                  const SourceListing& source, std::optional<bool>& foldsCase)
{
    if (!foldsCase) {
        // A log-only run makes nothing, not even a probe.
        foldsCase = m_fs.FoldsCase(to, !m_host.IsOptionOn(RunOption::LogOnly));
    }
    if (!*foldsCase) {
        return false;
    }
    std::optional<std::string> name = source.FindFolded(entry.name);
    if (!name || *source.Find(*name) != KindOf(entry.attributes)) {
        return false; // a file where the source has a folder, say: it goes as it would anyway
    }
    if (m_deleteMirroredOnly) {
        return true; // the folder copied from is never renamed after its copy: kept as it is
    }
    // The source renamed it in letter case only; deleting it here would delete the source's entry
    // too, as the same one. The copy phase gives it the new name.
    const std::string toPath = to + entry.name;
    if (entry.attributes.folder) {
        m_folderRenames.emplace_back(toPath, *name);
        if (!m_host.IsOptionOn(RunOption::SubFolder)) {
            // Listed under the name it has now, deleted under the name it has by then.
            const std::size_t first = m_deleteList.size();
            WalkDelete(from + *name, toPath, entry.attributes.id);
            for (std::size_t i = first; i < m_deleteList.size(); ++i) {
                m_deleteList[i].replace(to.size(), entry.name.size(), *name);
            }
        }
    } else {
        m_fileRenames.emplace(to + *name, entry.name);
    }
    return true;
}

bool MirrorEngine::MayDeleteFromSource(const std::string& path, const DirEntry& entry,
                                       const SourceListing& listed)
{
    const Attributes& attributes = entry.attributes;
    const SourceKind* kind = listed.FindListed(entry.name);
    if (!kind || *kind != KindOf(attributes)) {
        return false; // never copied by the pass before, or another entry has the name now
    }
    // After a log-only pass, what it would have copied or made would be in the to tree by now.
    if (m_earlier.logOnly && (attributes.folder || m_earlier.copiedFrom.count(path) != 0)) {
        return false;
    }
    // Made, saved or moved in since the pass before listed its folder: not what it mirrored.
    std::optional<Attributes> now = m_fs.GetAttributes(path);
    if (!now || now->changed == 0 || now->changed >= listed.ListedAt() - kChangeMargin) {
        return false;
    }
    if (!attributes.folder) {
        return true;
    }
    // A folder goes with all it holds, so all it holds must be what the pass before mirrored.
    const std::string folder = path + kPathDelimiter;
    auto below = m_earlier.listings.find(folder);
    std::vector<DirEntry> entries;
    if (below == m_earlier.listings.end() || !below->second.IsComplete()
        || !m_fs.ListFolder(folder, entries, ListDetail::Names)) {
        return false;
    }
    for (const DirEntry& child : entries) {
        if (!PassesOver(Walk::DeleteFolder, child.attributes)
            && !MayDeleteFromSource(folder + child.name, child, below->second)) {
            return false;
        }
    }
    return true;
}

void MirrorEngine::ListForDeletion(const std::string& entry, std::optional<FileId> toId)
{
    if (!KeepsFailedCopy(entry)) {
        m_deleteList.push_back(entry);
        m_deleteFolders.push_back(toId);
    }
}

std::string MirrorEngine::Shorten(const std::string& path)
{
    // Entries come folder by folder; the mount table is read again only when the folder changes.
    const std::string folder = ExtractFolder(path);
    if (m_drivePartOf && (m_shortenedFolder.empty() || folder != m_shortenedFolder)) {
        m_shortenedFolder = folder;
        m_shortenedDrive = m_drivePartOf(path);
    }
    return ShortenPathOnDrive(
        path, m_host.StatusPanelWidth(),
        [this](const std::string& text) { return m_host.StatusTextWidth(text); },
        m_drivePartOf ? m_shortenedDrive : std::string());
}

void MirrorEngine::ExeCopyFiles(bool firstOfRun, const std::string& from, const std::string& to, bool logOnly)
{
    m_fs.Refresh();
    m_fs.BeginPass({from, to});
    m_passWatch.Reset();
    m_current.logOnly = logOnly;
    if (!m_host.IsOptionOn(RunOption::Link)) {
        // No reverse pass will ask what this one listed; should one come all the same, it finds no
        // listing and deletes nothing.
        m_sourceListings.clear();
    }
    CopyLog log(m_fs);
    log.Open(LogPath(), firstOfRun);
    WaitCursor waitCursor(m_host);
    PassCounters counters;

    bool changed = RenameCaseOnly(logOnly);
    CopyPhase(log, logOnly, counters);
    if (m_aborted) {
        return;
    }
    changed = (!logOnly && MakeEmptyFolders()) || changed;
    DeletePhase(log, logOnly, counters);
    if (!m_aborted && !logOnly) {
        SweepLeftovers(to);
    }
    if (!m_aborted && !logOnly && (counters.total > 0 || !m_deleteList.empty() || changed)) {
        // Done means on the drive: the pass's summary comes only once what it wrote is there.
        m_host.SetStatusText(0, StatusTexts::Shown(StatusTexts::kSyncing));
        m_fs.SyncFileSystem(to);
    }
    m_host.SetStatusText(0, "");
    m_host.SetStatusText(1, "");
    if (!m_aborted) {
        log.WriteSummary(from, to, counters);
    }
}

bool MirrorEngine::RenameCaseOnly(bool logOnly)
{
    // Folders first, before anything is copied into them; a file is renamed at its entry of the
    // copy list, where its line is written.
    bool changed = false;
    for (const auto& [path, name] : m_folderRenames) {
        if (logOnly) {
            m_current.gone.insert(path + kPathDelimiter);
        } else if (!m_passWatch.Gone(m_fs)) {
            changed = m_fs.RenameEntry(path, name) || changed;
        }
    }
    if (logOnly) {
        for (const auto& [target, name] : m_fileRenames) {
            m_current.gone.insert(ExtractFolder(target) + name);
        }
    }
    return changed;
}

bool MirrorEngine::MakeEmptyFolders()
{
    bool made = false;
    for (const std::string& folder : m_emptyFolders) {
        if (m_passWatch.Gone(m_fs)) {
            break;
        }
        if (!m_fs.IsFolder(folder)) {
            if (const FsResult result = MakeFolderOn(m_fs, folder); !result) {
                LogReason(folder, "not made:", result.Error());
            }
            made = true;
        }
    }
    return made;
}

void MirrorEngine::ShowCopyStatus(std::size_t index, std::optional<std::uint64_t> percent)
{
    if (m_host.IsStatusDue()) {
        if (!percent) {
            m_host.SetStatusText(0, Shorten(m_copyList.Source(index)));
        }
        // Both numbers count from zero: three entries show 0/2, 1/2 and 2/2.
        std::string text =
            std::to_string(index) + "/" + std::to_string(static_cast<long long>(m_copyList.size()) - 1);
        if (percent) {
            text += " (" + std::to_string(*percent) + "%)"; // the share of a large file done
        }
        m_host.SetStatusText(1, text);
    }
}

void MirrorEngine::LogCopy(CopyLog& log, std::size_t index, const CopyOutcome& outcome, bool logOnly,
                           PassCounters& counters)
{
    if (!outcome.acted || outcome.aborted) {
        return; // an aborted copy ends the pass where it stood: no line
    }
    const char* word = nullptr;
    if (outcome.added) {
        word = outcome.succeeded ? kAdded : kAddFailed;
        counters.added += outcome.succeeded ? 1 : 0;
    } else {
        word = outcome.succeeded ? kOverwritten : kOverwriteFailed;
        counters.overwritten += outcome.succeeded ? 1 : 0;
    }
    ++counters.total;
    const std::string source = m_copyList.Source(index);
    if (!outcome.succeeded) {
        KeepFailure(source, outcome.reason);
    }
    // A log-only run remembers its failures too, so that the next pass lists what the run would.
    if (!outcome.succeeded) {
        m_failedSources.insert(source);
    } else if (logOnly) {
        m_current.copiedFrom.insert(source);
        m_current.copiedTo.insert(m_copyList.Target(index));
    }
    log.WriteCopyLine(
        source, outcome.sourceTime ? std::optional<DosTime>(ToDosTime(*outcome.sourceTime)) : std::nullopt,
        word);
}

namespace {

// The copy phase on two threads, when the file system lets a second one work alongside. Most of a
// copy is waiting for the file system, so a helper thread copies entries while the window's
// thread copies others and keeps the log and the window.
//
// - Hand-out: both threads take entries in list order, a few at a time, at most kWindow ahead of
//   the first entry not yet logged. Nothing is handed out while stop is set, while the window's
//   thread handles events, or after an abort.
// - Helper's loop: takes entries, carries them out through its own file system and copier, hands
//   each outcome in. It touches nothing of the engine or the window, only the pipeline's hand-out
//   state (under m_mutex) and what its copier shares with the window's thread.
// - Logging in list order: only the window's thread writes the log, each line as soon as every
//   entry before it is done, so the log reads as if one thread had carried out the list.
// - Drain before events: events are handled only when nothing is under way and every entry taken
//   is logged, so an abort stops the pass exactly where one thread would have stopped: nothing is
//   carried out after the press. While the helper is in the middle of a large copy, the window's
//   thread handles events as it waits, so that the window stays painted and an abort ends that
//   copy.
//
// End conditions. The helper ends when the hand-out gives it nothing and the list is all handed
// out or stop is set. The window's thread ends when every entry is logged, or once stop is set
// (an abort, an error of the helper) and every entry handed out is logged.
//
// Shutdown order: the window's thread sets stop under the lock and wakes the helper; the helper
// hands in what it holds (after an abort each entry is quick) and returns; the window's thread
// joins it, also when writing the log throws, and only then does the pipeline's state go. An
// exception of the helper is handed over and thrown again on the window's thread.
class CopyPipeline
{
public:
    // What only the window's thread does.
    struct WindowSide
    {
        std::function<CopyOutcome(std::size_t index)> carryOut; // the status shown, then the copy
        std::function<void(std::size_t index, const CopyOutcome& outcome)> log;
        std::function<bool()> eventsDue;
        std::function<void()> processEvents;
    };

    CopyPipeline(CopyPhaseShared& shared, FileSystem& helperFs, WindowSide window)
        : m_count(shared.copyList.size())
        , m_aborted(shared.aborted)
        , m_helperCopier(shared, helperFs,
                         [this](std::size_t, std::uint64_t, std::uint64_t) { m_helperStepping = true; })
        , m_window(std::move(window))
    {
    }

    void Run()
    {
        std::thread helper([this] { HelperLoop(); });
        // Whatever ends the window's loop, also an error of the log, the helper stops and is
        // waited for before anything it uses goes.
        struct Joiner
        {
            CopyPipeline& pipeline;
            std::thread& thread;
            ~Joiner()
            {
                {
                    std::lock_guard<std::mutex> lock(pipeline.m_mutex);
                    pipeline.m_stop = true;
                }
                pipeline.m_changed.notify_all();
                thread.join();
            }
        } joiner{*this, helper};
        WindowLoop();
    }

private:
    static constexpr std::size_t kWindow = 32;
    static constexpr std::size_t kBatch = 4;

    // Takes the next entries for one thread: [first, end), empty when there is nothing to take.
    // Called with m_mutex held.
    void HandOut(std::size_t& first, std::size_t& end)
    {
        first = m_next;
        end = m_stop || m_paused || m_aborted ? m_next
                                              : std::min({m_count, m_logged + kWindow, m_next + kBatch});
        m_next = end;
    }

    // Stores an entry's outcome for the window's thread to log.
    void HandIn(std::size_t index, const CopyOutcome& outcome)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outcomes[index % kWindow] = outcome;
    }

    void HelperLoop()
    {
        try {
            std::unique_lock<std::mutex> lock(m_mutex);
            for (;;) {
                std::size_t first = 0;
                std::size_t end = 0;
                m_changed.wait(lock, [&] {
                    HandOut(first, end);
                    return first < end || m_stop || m_next >= m_count;
                });
                if (first == end) {
                    return;
                }
                lock.unlock();
                for (std::size_t i = first; i < end; ++i) {
                    CopyOutcome outcome;
                    if (m_aborted) {
                        outcome.done = outcome.aborted = true; // taken, but the abort came first
                    } else {
                        outcome = m_helperCopier.CarryOut(i);
                    }
                    m_helperStepping = false;
                    HandIn(i, outcome);
                }
                lock.lock();
                m_changed.notify_all();
            }
        } catch (...) {
            // Handed to the window's thread, which throws it again there.
            std::lock_guard<std::mutex> lock(m_mutex);
            m_helperError = std::current_exception();
            m_stop = true;
            m_changed.notify_all();
        }
    }

    void WindowLoop()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (m_logged < m_count && !(m_stop && m_logged == m_next)) {
            std::size_t first = 0;
            std::size_t end = 0;
            HandOut(first, end);
            if (first < end) {
                lock.unlock();
                for (std::size_t i = first; i < end; ++i) {
                    HandIn(i, m_window.carryOut(i));
                }
                lock.lock();
            } else if (m_logged < m_next) {
                WaitForNext(lock);
            }
            LogDone(lock);
            lock.unlock();
            const bool eventsDue = m_window.eventsDue();
            lock.lock();
            if (eventsDue) {
                DrainAndHandleEvents(lock);
            }
        }
    }

    // Logs the entries that are done, in list order, up to the first that is not.
    void LogDone(std::unique_lock<std::mutex>& lock)
    {
        while (m_logged < m_next && m_outcomes[m_logged % kWindow].done) {
            const CopyOutcome outcome = std::exchange(m_outcomes[m_logged % kWindow], CopyOutcome());
            const std::size_t index = m_logged++;
            lock.unlock();
            m_window.log(index, outcome);
            lock.lock();
        }
        m_changed.notify_all(); // room in the window
        if (m_helperError) {
            std::rethrow_exception(m_helperError);
        }
    }

    // Waits until the next entry to log is done, handling events meanwhile while the helper is
    // in the middle of a large copy; nothing new is taken after an abort.
    void WaitForNext(std::unique_lock<std::mutex>& lock)
    {
        constexpr auto kLook = std::chrono::milliseconds(10);
        while (!m_outcomes[m_logged % kWindow].done && !m_helperError) {
            if (m_changed.wait_for(lock, kLook) == std::cv_status::timeout && m_helperStepping) {
                lock.unlock();
                if (m_window.eventsDue()) {
                    m_window.processEvents();
                }
                lock.lock();
                m_stop = m_stop || m_aborted;
            }
        }
    }

    // Lets the helper finish what it has taken, logs it, and only then handles events.
    void DrainAndHandleEvents(std::unique_lock<std::mutex>& lock)
    {
        m_paused = true;
        while (m_logged < m_next) {
            WaitForNext(lock);
            LogDone(lock);
        }
        lock.unlock();
        m_window.processEvents();
        lock.lock();
        m_stop = m_stop || m_aborted;
        m_paused = false;
        m_changed.notify_all();
    }

    const std::size_t m_count;
    const std::atomic<bool>& m_aborted;
    std::atomic<bool> m_helperStepping = false; // the helper is in the middle of a large copy
    EntryCopier m_helperCopier; // the helper's alone
    WindowSide m_window; // the window's thread's alone

    // Guarded by m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    CopyOutcome m_outcomes[kWindow];
    std::size_t m_next = 0; // the first entry no thread has taken
    std::size_t m_logged = 0; // the first entry not yet logged
    bool m_paused = false; // events are being handled: nothing new is taken
    bool m_stop = false;
    std::exception_ptr m_helperError;
};

} // namespace

void MirrorEngine::CopyPhase(CopyLog& log, bool logOnly, PassCounters& counters)
{
    CopyPhaseShared shared{m_copyList, m_twins, m_fileRenames, logOnly, m_aborted, m_passWatch, {}, {}};
    // The window's thread shows how far a large copy got and hears the abort button between its
    // steps.
    EntryCopier copier(shared, m_fs, [this](std::size_t index, std::uint64_t done, std::uint64_t size) {
        if (m_host.IsEventDue()) {
            ShowCopyStatus(index, done * 100 / size);
            m_host.ProcessEvents();
        }
    });
    // A second thread works through the list alongside when the file system allows it and the
    // list is long enough to be worth it.
    constexpr std::size_t kParallelFrom = 64;
    if (m_copyList.size() >= kParallelFrom && std::thread::hardware_concurrency() > 1) {
        if (std::unique_ptr<FileSystem> helperFs = m_fs.ForWorker()) {
            CopyPipeline::WindowSide window;
            window.carryOut = [&](std::size_t index) {
                ShowCopyStatus(index);
                return copier.CarryOut(index);
            };
            window.log = [&](std::size_t index, const CopyOutcome& outcome) {
                LogCopy(log, index, outcome, logOnly, counters);
            };
            window.eventsDue = [this] { return m_host.IsEventDue(); };
            window.processEvents = [this] { m_host.ProcessEvents(); };
            CopyPipeline(shared, *helperFs, std::move(window)).Run();
            return;
        }
    }
    for (std::size_t i = 0; i < m_copyList.size(); ++i) {
        ShowCopyStatus(i);
        LogCopy(log, i, copier.CarryOut(i), logOnly, counters);
        m_host.ProcessEvents();
        if (m_aborted) {
            return;
        }
    }
}

void MirrorEngine::DeletePhase(CopyLog& log, bool logOnly, PassCounters& counters)
{
    for (std::size_t i = 0; i < m_deleteList.size(); ++i) {
        const std::string& entry = m_deleteList[i];
        if (m_host.IsStatusDue()) {
            m_host.SetStatusText(0, StatusTexts::Shown(StatusTexts::kDeleting) + Shorten(entry));
        }
        bool folder = ExtractName(entry).empty();
        FsResult result;
        const std::optional<FileId> listedIn = i < m_deleteFolders.size() ? m_deleteFolders[i] : std::nullopt;
        if (logOnly) {
            // written as if it succeeded
        } else if (m_passWatch.Gone(m_fs)) {
            result = FsResult(std::make_error_code(std::errc::no_such_device));
        } else if (m_host.IsOptionOn(RunOption::Trash)) {
            result = MoveToTrash(entry, listedIn);
        } else if (folder) {
            result = m_fs.DeleteFolder(entry, listedIn, [this] { m_host.ProcessEvents(); });
        } else {
            result = m_fs.DeleteFile(entry, listedIn);
        }
        const bool succeeded = static_cast<bool>(result);
        const char* word = nullptr;
        if (folder) {
            word = succeeded ? kFolderDeleted : kFolderDeleteFailed;
        } else {
            word = succeeded ? kDeleted : kDeleteFailed;
            counters.deleted += succeeded ? 1 : 0;
        }
        if (!succeeded) {
            KeepFailure(entry, result.Error());
        }
        if (logOnly) {
            m_current.gone.insert(entry);
        }
        log.WriteDeleteLine(entry, word);
        m_host.ProcessEvents();
        if (m_aborted) {
            return;
        }
    }
}

void MirrorEngine::KeepFailure(const std::string& path, std::error_code reason)
{
    if (!reason) {
        reason = std::make_error_code(std::errc::io_error); // failed without a word of why
    }
    LogReason(path, "failed:", reason);
    m_failures.push_back({path, reason});
}

void MirrorEngine::SweepLeftovers(const std::string& to)
{
    // What killed copies left is removed from every target folder the pass looked into: the
    // folders of its copy list, and whatever its listings of the target saw. A copy into a folder
    // has swept it already; the layer does each folder once.
    for (const std::string& folder : m_copyList.TargetFolders()) {
        m_fs.RemoveLeftovers(folder);
    }
    m_fs.RemoveLeftovers(to, true);
}

FsResult MirrorEngine::DeleteFolder(const std::string& path)
{
    return m_fs.DeleteFolder(path, std::nullopt, [this] { m_host.ProcessEvents(); });
}

FsResult MirrorEngine::MoveToTrash(const std::string& path, std::optional<FileId> folder)
{
    return m_fs.MoveToTrash(RemoveDelimiter(path), folder);
}

} // namespace ostrel
