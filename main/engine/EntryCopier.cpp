#include "engine/EntryCopier.h"

#include "platform/PathText.h"

#include <cerrno>

namespace ostrel {

namespace {

// Whether a file time is missing because nothing with a usable time is there: no such entry, a
// folder, a dangling link or one that loops, or a time out of range.
bool IsMissingTime(int error)
{
    return error == ENOENT || error == ENOTDIR || error == EISDIR || error == ERANGE || error == ELOOP;
}

} // namespace

void PassWatch::Reset()
{
    m_gone = false;
    m_lookedAt = std::chrono::steady_clock::duration::zero();
}

bool PassWatch::Gone(FileSystem& fs)
{
    // Once a drive was unmounted beneath the pass, whatever is left of the pass fails: its writes
    // would land in the bare mount point. The folders are looked at again every few milliseconds,
    // which costs next to nothing against the copies made in between.
    constexpr auto kLookEvery = std::chrono::milliseconds(10);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    auto last = m_lookedAt.load(std::memory_order_relaxed);
    if (!m_gone && now - last >= kLookEvery && m_lookedAt.compare_exchange_strong(last, now)
        && !fs.PassFoldersInPlace()) {
        m_gone = true;
    }
    return m_gone;
}

CopyOutcome EntryCopier::Finish(CopyOutcome outcome, const FsResult& copied) const
{
    outcome.succeeded = static_cast<bool>(copied);
    outcome.reason = copied.Error();
    outcome.aborted = !outcome.succeeded && m_shared.aborted;
    return outcome;
}

CopyOutcome EntryCopier::CarryOut(std::size_t index)
{
    const CompactCopyList& list = m_shared.copyList;
    const bool logOnly = m_shared.logOnly;
    if (!m_shared.twins.empty() && m_shared.twins.count(index) != 0) {
        // A name that differs from one listed before it only in letter case: where the to folder
        // ignores case, its copy would land on the other's and report a success that isn't one.
        const std::string target = list.Target(index);
        if (m_fs.FoldsCase(ExtractFolder(target), !logOnly)) {
            CopyOutcome outcome;
            outcome.done = true;
            outcome.acted = true;
            outcome.added = true;
            outcome.sourceTime = m_fs.ReadFileTime(list.Source(index));
            outcome.reason = std::make_error_code(std::errc::file_exists);
            return outcome;
        }
    }
    if (!m_shared.fileRenames.empty()) {
        const std::string target = list.Target(index);
        if (auto rename = m_shared.fileRenames.find(target); rename != m_shared.fileRenames.end()) {
            // Renamed in letter case only: the target's entry takes the new name, which makes it
            // the copy of it, and is then brought up to date like any other.
            const FsResult renaming = logOnly
                ? FsResult()
                : m_fs.RenameEntry(ExtractFolder(target) + rename->second, ExtractName(target));
            const bool renamed = static_cast<bool>(renaming);
            CopyOutcome outcome;
            outcome.done = true;
            bool copied = false;
            if (renamed) {
                outcome = Copy(index);
                copied = !outcome.acted || outcome.succeeded;
            } else {
                outcome.sourceTime = m_fs.ReadFileTime(list.Source(index));
                outcome.reason = renaming.Error();
            }
            outcome.acted = true;
            outcome.added = true;
            outcome.succeeded = renamed && copied;
            return outcome;
        }
    }
    return Copy(index);
}

CopyOutcome EntryCopier::Copy(std::size_t index)
{
    CopyOutcome outcome;
    outcome.done = true;
    const std::string source = m_shared.copyList.Source(index);
    const std::string target = m_shared.copyList.Target(index);
    // A source that vanished since the listing fails this entry only.
    std::error_code sourceError;
    const std::optional<FileTime> sourceTime = m_fs.ReadFileTime(source, &sourceError);
    outcome.sourceTime = sourceTime;
    // A folder this phase made holds only what the phase put there, so nothing needs a look.
    bool inNewFolder = false;
    {
        std::lock_guard<std::mutex> lock(m_shared.folderMutex);
        inNewFolder = !m_shared.madeFolders.empty() && m_shared.madeFolders.count(ExtractFolder(target)) != 0;
    }
    std::error_code targetError;
    const std::optional<FileTime> targetTime =
        inNewFolder ? std::nullopt : m_fs.ReadFileTime(target, &targetError);
    const int timeError = targetTime || inNewFolder ? 0 : targetError.value();
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
    if (!sourceTime || targetUnread || m_shared.logOnly) {
        outcome.succeeded = sourceTime && !targetUnread && m_shared.logOnly;
        outcome.reason = !sourceTime ? sourceError : targetUnread ? targetError : std::error_code();
        return outcome;
    }
    // Before each copy: a drive unmounted beneath the pass ends every copy that is left.
    if (m_shared.passWatch.Gone(m_fs)) {
        outcome.reason = std::make_error_code(std::errc::no_such_device);
        return outcome;
    }
    // Between the steps of a large copy the thread's hook runs; an abort ends the copy there and
    // leaves the old target.
    const CopyProgress progress = [this, index](std::uint64_t done, std::uint64_t size) {
        if (m_onStep) {
            m_onStep(index, done, size);
        }
        return !m_shared.aborted;
    };
    if (targetTime) {
        // A read-only system file would refuse the copy; only the read-only bit is cleared, so a
        // system file that is writable stays writable. Whether that mattered, the copy tells.
        auto attributes = m_fs.GetAttributes(target);
        if (attributes && attributes->system && attributes->readOnly) {
            static_cast<void>(m_fs.SetReadOnly(target, false));
        }
        return Finish(outcome, m_fs.CopyFile(source, target, false, progress));
    }
    const std::string folder = ExtractFolder(target);
    if (folder != m_knownFolder) {
        std::lock_guard<std::mutex> lock(m_shared.folderMutex);
        if (!m_fs.IsFolder(folder)) {
            // A folder that can't be made fails the copy with its own reason, not the copy's.
            const FsResult made = MakeFolderOn(m_fs, folder);
            if (!made) {
                return Finish(outcome, made);
            }
            m_shared.madeFolders.insert(folder);
        }
        m_knownFolder = folder;
    }
    return Finish(outcome, m_fs.CopyFile(source, target, targetAbsent, progress));
}

FsResult MakeFolderOn(FileSystem& fs, const std::string& path)
{
    FsResult made = fs.CreateFolder(path);
    if (made) {
        return made;
    }
    // Create every folder on the way down; the root and folders that exist fail harmlessly. The
    // last one made tells how it went.
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == kPathDelimiter) {
            made = fs.CreateFolder(path.substr(0, i + 1));
        }
    }
    if (!path.empty() && path.back() != kPathDelimiter) {
        made = fs.CreateFolder(path);
    }
    if (!made && made.Error() == std::errc::file_exists && fs.IsFolder(path)) {
        return {};
    }
    return made;
}

} // namespace ostrel
