#include "MirrorEngine.h"

#include "PathText.h"
#include "WalkRules.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <thread>
#include <utility>

namespace ostrel {

namespace {

constexpr const char* kSearching = "フォルダ検索中....";
constexpr const char* kDeleting = "削除中.....";
constexpr const char* kSyncing = "ディスクへの書き込みを待っています....";

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

// Whether a file time is missing because nothing with a usable time is there: no such entry, a
// folder, a dangling link or one that loops, or a time out of range.
bool IsMissingTime(int error)
{
    return error == ENOENT || error == ENOTDIR || error == EISDIR || error == ERANGE || error == ELOOP;
}

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
    m_passGone = false;
    m_passLookedAt = std::chrono::steady_clock::duration::zero();
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

bool MirrorEngine::PassFoldersGone(FileSystem& fs)
{
    // Once a drive was unmounted beneath the pass, whatever is left of the pass fails: its writes
    // would land in the bare mount point. The folders are looked at again every few milliseconds,
    // which costs next to nothing against the copies made in between.
    constexpr auto kLookEvery = std::chrono::milliseconds(10);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    auto last = m_passLookedAt.load(std::memory_order_relaxed);
    if (!m_passGone && now - last >= kLookEvery && m_passLookedAt.compare_exchange_strong(last, now)
        && !fs.PassFoldersInPlace()) {
        m_passGone = true;
    }
    return m_passGone;
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
        m_host.SetStatusText(0, kSearching);
    }
    const std::string from = AppendDelimiter(fromFolder);
    const std::string to = AppendDelimiter(toFolder);
    std::vector<DirEntry> entries;
    // Names and kinds only: each file's time is read when its entry is carried out. What could
    // be read before an error is still listed. The rest was not copied, so its absence from the
    // target must not turn into a deletion in a later pass of the copy set.
    const std::int64_t listedAt = NowNanoseconds();
    const bool complete = m_fs.ListFolder(from, entries, ListDetail::Names);
    if (!complete) {
        m_failedSources.insert(from);
        ++m_unlistedSources;
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
    const bool complete = m_fs.ListFolder(from, entries, ListDetail::Names);
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
    std::vector<DirEntry> entries;
    m_fs.ListFolder(to, entries, ListDetail::Names);
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
        path, kStatusPanelWidth, [this](const std::string& text) { return m_host.StatusTextWidth(text); },
        m_drivePartOf ? m_shortenedDrive : std::string());
}

void MirrorEngine::ExeCopyFiles(bool firstOfRun, const std::string& from, const std::string& to, bool logOnly)
{
    m_fs.Refresh();
    m_fs.BeginPass({from, to});
    m_passGone = false;
    m_passLookedAt = std::chrono::steady_clock::duration::zero();
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
        m_host.SetStatusText(0, kSyncing);
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
        } else if (!PassFoldersGone(m_fs)) {
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
        if (PassFoldersGone(m_fs)) {
            break;
        }
        if (!m_fs.IsFolder(folder)) {
            MakeFolderOn(m_fs, folder);
            made = true;
        }
    }
    return made;
}

MirrorEngine::CopyOutcome MirrorEngine::CarryOutEntry(FileSystem& fs, std::size_t index, bool logOnly,
                                                      CopyThreadState& state)
{
    if (!m_twins.empty() && m_twins.count(index) != 0) {
        // A name that differs from one listed before it only in letter case: where the to folder
        // ignores case, its copy would land on the other's and report a success that isn't one.
        const std::string target = m_copyList.Target(index);
        if (fs.FoldsCase(ExtractFolder(target), !logOnly)) {
            CopyOutcome outcome;
            outcome.done = true;
            outcome.acted = true;
            outcome.added = true;
            outcome.sourceTime = fs.ReadFileTime(m_copyList.Source(index));
            return outcome;
        }
    }
    if (!m_fileRenames.empty()) {
        const std::string target = m_copyList.Target(index);
        if (auto rename = m_fileRenames.find(target); rename != m_fileRenames.end()) {
            // Renamed in letter case only: the target's entry takes the new name, which makes it
            // the copy of it, and is then brought up to date like any other.
            const bool renamed =
                logOnly || fs.RenameEntry(ExtractFolder(target) + rename->second, ExtractName(target));
            CopyOutcome outcome;
            outcome.done = true;
            bool copied = false;
            if (renamed) {
                outcome = CopyEntry(fs, index, logOnly, state);
                copied = !outcome.acted || outcome.succeeded;
            } else {
                outcome.sourceTime = fs.ReadFileTime(m_copyList.Source(index));
            }
            outcome.acted = true;
            outcome.added = true;
            outcome.succeeded = renamed && copied;
            return outcome;
        }
    }
    return CopyEntry(fs, index, logOnly, state);
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

MirrorEngine::CopyOutcome MirrorEngine::CopyEntry(FileSystem& fs, std::size_t index, bool logOnly,
                                                  CopyThreadState& state)
{
    CopyOutcome outcome;
    outcome.done = true;
    const std::string source = m_copyList.Source(index);
    const std::string target = m_copyList.Target(index);
    // A source that vanished since the listing fails this entry only.
    const std::optional<FileTime> sourceTime = fs.ReadFileTime(source);
    outcome.sourceTime = sourceTime;
    // A folder this pass made holds only what the pass put there, so nothing needs a look.
    bool inNewFolder = false;
    {
        std::lock_guard<std::mutex> lock(m_folderMutex);
        inNewFolder = !m_madeFolders.empty() && m_madeFolders.count(ExtractFolder(target)) != 0;
    }
    const std::optional<FileTime> targetTime = inNewFolder ? std::nullopt : fs.ReadFileTime(target);
    const int timeError = targetTime || inNewFolder ? 0 : errno;
    const bool targetAbsent = inNewFolder || (!targetTime && timeError == ENOENT);
    // A target whose time could not be read although something may be there (a read error, no
    // permission) might be newer than its source: it is never replaced unseen.
    const bool targetUnread = !targetTime && !inNewFolder && !IsMissingTime(timeError);
    if (targetTime && sourceTime) {
        // Two saves within one two-second step share a time; a size that differs still tells them
        // apart.
        const int order = CompareFileTimes(*sourceTime, *targetTime);
        if (order < 0 || (order == 0 && sourceTime->size == targetTime->size)) {
            return outcome; // the target is as new as the source
        }
    }
    outcome.acted = true;
    outcome.added = !targetTime;
    if (!sourceTime || targetUnread || logOnly) {
        outcome.succeeded = sourceTime && !targetUnread && logOnly;
        return outcome;
    }
    // Before each copy: a drive unmounted beneath the pass ends every copy that is left.
    if (PassFoldersGone(fs)) {
        return outcome;
    }
    // Between the steps of a large copy the window's thread shows how far it got and hears the
    // abort button; another thread only looks at the flag. An aborted copy leaves the old target.
    const bool windowThread = &fs == &m_fs;
    const CopyProgress progress = [this, windowThread, index](std::uint64_t done, std::uint64_t size) {
        if (!windowThread) {
            m_helperStepping = true;
        } else if (m_host.IsEventDue()) {
            ShowCopyStatus(index, done * 100 / size);
            m_host.ProcessEvents();
        }
        return !m_aborted;
    };
    std::string folder = ExtractFolder(target);
    if (targetTime) {
        // A read-only system file would refuse the copy; only the read-only bit is cleared, so a
        // system file that is writable stays writable.
        auto attributes = fs.GetAttributes(target);
        if (attributes && attributes->system && attributes->readOnly) {
            fs.SetReadOnly(target, false);
        }
        outcome.succeeded = fs.CopyFile(source, target, false, progress);
        outcome.aborted = !outcome.succeeded && m_aborted;
        return outcome;
    }
    if (folder != state.knownFolder) {
        std::lock_guard<std::mutex> lock(m_folderMutex);
        if (!fs.IsFolder(folder)) {
            MakeFolderOn(fs, folder);
            if (fs.IsFolder(folder)) {
                m_madeFolders.insert(folder);
            }
        }
        state.knownFolder = folder;
    }
    outcome.succeeded = fs.CopyFile(source, target, targetAbsent, progress);
    outcome.aborted = !outcome.succeeded && m_aborted;
    return outcome;
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
    m_failedEntries += outcome.succeeded ? 0 : 1;
    const std::string source = m_copyList.Source(index);
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

void MirrorEngine::CopyPhase(CopyLog& log, bool logOnly, PassCounters& counters)
{
    {
        std::lock_guard<std::mutex> lock(m_folderMutex);
        m_madeFolders.clear();
    }
    // Most of a copy is waiting for the file system, so a second thread works through the list
    // alongside when the file system allows it and the list is long enough to be worth it.
    constexpr std::size_t kParallelFrom = 64;
    if (m_copyList.size() >= kParallelFrom && std::thread::hardware_concurrency() > 1) {
        if (std::unique_ptr<FileSystem> workerFs = m_fs.ForWorker()) {
            CopyInParallel(log, logOnly, counters, *workerFs);
            return;
        }
    }
    CopyThreadState state;
    for (std::size_t i = 0; i < m_copyList.size(); ++i) {
        ShowCopyStatus(i);
        LogCopy(log, i, CarryOutEntry(m_fs, i, logOnly, state), logOnly, counters);
        m_host.ProcessEvents();
        if (m_aborted) {
            return;
        }
    }
}

void MirrorEngine::CopyInParallel(CopyLog& log, bool logOnly, PassCounters& counters, FileSystem& workerFs)
{
    // Both threads take entries in list order, a few at a time; only this thread logs, in list
    // order, each line as soon as the entries before it are done. Events are handled only when
    // nothing is under way and every entry taken is logged, so an abort stops the pass exactly
    // where a single thread would have stopped: nothing is carried out after the press.
    constexpr std::size_t kWindow = 32;
    constexpr std::size_t kBatch = 4;
    const std::size_t count = m_copyList.size();
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<CopyOutcome> window(kWindow);
    std::size_t next = 0; // the first entry no thread has taken
    std::size_t logged = 0; // the first entry not yet logged
    bool paused = false; // events are being handled: nothing new is taken
    bool stop = false;
    std::exception_ptr workerError;

    // Takes the next entries for one thread: [first, end), empty when there is nothing to take.
    auto take = [&](std::size_t& first, std::size_t& end) {
        first = next;
        end = stop || paused || m_aborted ? next : std::min({count, logged + kWindow, next + kBatch});
        next = end;
    };
    auto worker = [&] {
        CopyThreadState state;
        try {
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                std::size_t first = 0;
                std::size_t end = 0;
                changed.wait(lock, [&] {
                    take(first, end);
                    return first < end || stop || next >= count;
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
                        outcome = CarryOutEntry(workerFs, i, logOnly, state);
                    }
                    m_helperStepping = false;
                    std::lock_guard<std::mutex> done(mutex);
                    window[i % kWindow] = outcome;
                }
                lock.lock();
                changed.notify_all();
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            workerError = std::current_exception();
            stop = true;
            changed.notify_all();
        }
    };

    std::thread helper(worker);
    // Whatever ends this phase, also an error of the log, the helper stops and is waited for.
    struct Joiner
    {
        std::thread& thread;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        ~Joiner()
        {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            changed.notify_all();
            thread.join();
        }
    } joiner{helper, mutex, changed, stop};

    CopyThreadState state;
    std::unique_lock<std::mutex> lock(mutex);
    // Logs the entries that are done, in list order, up to the first that is not.
    auto logDone = [&] {
        while (logged < next && window[logged % kWindow].done) {
            CopyOutcome outcome = window[logged % kWindow];
            window[logged % kWindow] = CopyOutcome();
            const std::size_t index = logged++;
            lock.unlock();
            LogCopy(log, index, outcome, logOnly, counters);
            lock.lock();
        }
        changed.notify_all(); // room in the window
    };
    // Waits until the next entry to log is done. While the helper is in the middle of a large
    // copy, events are handled meanwhile, so that the window stays painted and an abort stops
    // that copy; nothing new is taken after the press.
    auto waitForNext = [&] {
        constexpr auto kLook = std::chrono::milliseconds(10);
        while (!window[logged % kWindow].done && !workerError) {
            if (changed.wait_for(lock, kLook) == std::cv_status::timeout && m_helperStepping) {
                lock.unlock();
                if (m_host.IsEventDue()) {
                    m_host.ProcessEvents();
                }
                lock.lock();
                stop = stop || m_aborted;
            }
        }
    };
    while (logged < count && !(stop && logged == next)) {
        std::size_t first = 0;
        std::size_t end = 0;
        take(first, end);
        if (first < end) {
            lock.unlock();
            for (std::size_t i = first; i < end; ++i) {
                ShowCopyStatus(i);
                CopyOutcome outcome = CarryOutEntry(m_fs, i, logOnly, state);
                std::lock_guard<std::mutex> done(mutex);
                window[i % kWindow] = outcome;
            }
            lock.lock();
        } else if (logged < next) {
            waitForNext();
        }
        logDone();
        if (workerError) {
            std::rethrow_exception(workerError);
        }
        lock.unlock();
        const bool eventsDue = m_host.IsEventDue();
        lock.lock();
        if (eventsDue) {
            // Let the helper finish what it has taken, log it, and only then handle events.
            paused = true;
            while (logged < next) {
                waitForNext();
                logDone();
                if (workerError) {
                    std::rethrow_exception(workerError);
                }
            }
            lock.unlock();
            m_host.ProcessEvents();
            lock.lock();
            stop = stop || m_aborted;
            paused = false;
            changed.notify_all();
        }
    }
}

void MirrorEngine::DeletePhase(CopyLog& log, bool logOnly, PassCounters& counters)
{
    for (std::size_t i = 0; i < m_deleteList.size(); ++i) {
        const std::string& entry = m_deleteList[i];
        if (m_host.IsStatusDue()) {
            m_host.SetStatusText(0, kDeleting + Shorten(entry));
        }
        bool folder = ExtractName(entry).empty();
        bool succeeded = logOnly;
        const std::optional<FileId> listedIn = i < m_deleteFolders.size() ? m_deleteFolders[i] : std::nullopt;
        if (!logOnly && !PassFoldersGone(m_fs)) {
            if (m_host.IsOptionOn(RunOption::Trash)) {
                succeeded = MoveToTrash(entry, listedIn);
            } else if (folder) {
                succeeded = m_fs.DeleteFolder(entry, listedIn, [this] { m_host.ProcessEvents(); });
            } else {
                succeeded = m_fs.DeleteFile(entry, listedIn);
            }
        }
        const char* word = nullptr;
        if (folder) {
            word = succeeded ? kFolderDeleted : kFolderDeleteFailed;
        } else {
            word = succeeded ? kDeleted : kDeleteFailed;
            counters.deleted += succeeded ? 1 : 0;
        }
        m_failedEntries += succeeded ? 0 : 1;
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

void MirrorEngine::MakeFolderOn(FileSystem& fs, const std::string& path)
{
    if (fs.CreateFolder(path)) {
        return;
    }
    // Create every folder on the way down; the root and folders that exist fail harmlessly.
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == kPathDelimiter) {
            fs.CreateFolder(path.substr(0, i + 1));
        }
    }
}

bool MirrorEngine::DeleteFolder(const std::string& path)
{
    return m_fs.DeleteFolder(path, std::nullopt, [this] { m_host.ProcessEvents(); });
}

bool MirrorEngine::MoveToTrash(const std::string& path, std::optional<FileId> folder)
{
    return m_fs.MoveToTrash(RemoveDelimiter(path), folder);
}

} // namespace ostrel
