#pragma once

#include "engine/CopyList.h"
#include "engine/CopyLog.h"
#include "engine/EngineHost.h"
#include "engine/EntryCopier.h"
#include "engine/SourceListing.h"
#include "platform/FileSystem.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ostrel {

// One pass of a copy set: lists what to copy and what to delete, carries both lists out and
// writes the copy log. The lists and the abort flag exist once per run and belong to the engine.
class MirrorEngine
{
public:
    // The log is written into logFolder (the folder of the running program).
    MirrorEngine(FileSystem& fileSystem, EngineHost& host, std::string logFolder);

    // Appends every file of the from tree, depth first in enumeration order, with its path under
    // the to folder. A from folder that can't be listed adds nothing. The folders it enters are
    // made in the to tree by the pass, empty ones too.
    void GetCopyFiles(const std::string& from, const std::string& to);

    // Appends what the to tree holds and the from tree lacks: files, and whole folders as entries
    // ending with "/". A from folder that is missing or can't be listed adds nothing, so an unplugged
    // or renamed source never empties the target. Where the to folder ignores letter case, an entry
    // whose name differs from a from entry's only in case is renamed by the pass, not listed.
    // Deleting from the folder the pass before copied from (the reverse pass of a two-way copy set),
    // it lists only what that pass listed for copying and the to tree then lost, unchanged since.
    void GetDeleteFiles(const std::string& from, const std::string& to);

    // Carries out the copy list, then the delete list, and logs the pass. With firstOfRun the log is
    // started afresh, otherwise appended. With logOnly nothing is changed on disk but the log is
    // written as if every action had succeeded, except copies that can't succeed (a second name
    // that differs only in case, on a to folder that ignores it); the next pass of the copy set is
    // then listed as if this one had been carried out. Throws CopyLogError when the log fails.
    void ExeCopyFiles(bool firstOfRun, const std::string& from, const std::string& to, bool logOnly);

    // Deletes a folder tree outright, leaving entries with the system attribute and whatever can't
    // be deleted. True when the folder itself was removed.
    FsResult DeleteFolder(const std::string& path);

    // Moves a file or a folder with its content to the trash. True on success.
    FsResult MoveToTrash(const std::string& path, std::optional<FileId> folder = std::nullopt);

    CompactCopyList& CopyList() { return m_copyList; }
    std::vector<std::string>& DeleteList() { return m_deleteList; }
    void ClearLists();

    // Starts a new copy set: forgets what its passes keep for the passes after them, the failed
    // copies among it. Source files whose copy failed, and source folders that could not be listed
    // in full, are never listed for deletion by a later pass of the same copy set, nor is anything
    // below such a folder, so a failed copy can't turn into a loss in the reverse pass.
    void BeginCopySet();

    // An entry whose copy or deletion failed (its source, or the target entry to delete), or a
    // source folder that was missing or could not be listed in full; and why.
    struct EntryFailure
    {
        std::string path;
        std::error_code reason;
    };
    // The failures since the last ResetTally, in the order of their lines in the copy log. The
    // copy log shows only the failure word; the reasons are for the run's report and developers.
    const std::vector<EntryFailure>& Failures() const { return m_failures; }
    // The source folders that were missing or could not be listed in full since the last
    // ResetTally, in the order they were met. Nothing below them was copied or deleted.
    const std::vector<EntryFailure>& UnlistedFolders() const { return m_unlisted; }

    // Failure lines written, and source folders that were missing or could not be listed in full,
    // since the last ResetTally: what tells a run that completed from one that left things undone.
    long FailedEntries() const { return static_cast<long>(m_failures.size()); }
    long UnlistedSources() const { return static_cast<long>(m_unlisted.size()); }
    void ResetTally()
    {
        m_failures.clear();
        m_unlisted.clear();
    }

    // The file system the passes go through.
    FileSystem& FileSystemInUse() { return m_fs; }

    bool IsAborted() const { return m_aborted; }
    void SetAborted(bool aborted) { m_aborted = aborted; }

    std::string LogPath() const;

    // How the drive part of a path is found, so that a path shortened for the status bar keeps
    // it; without one the path is shortened from its first folder.
    void SetDrivePartOf(std::function<std::string(const std::string& path)> drivePartOf)
    {
        m_drivePartOf = std::move(drivePartOf);
        m_shortenedFolder.clear();
    }

private:
    // What a pass leaves for the next pass of the same copy set: the listings of the folders its
    // copy walk listed, and, after a log-only pass, what it would have changed.
    struct PassMemory
    {
        std::string from; // the pass's from folder, with a trailing delimiter
        std::unordered_map<std::string, SourceListing> listings; // by folder
        bool logOnly = false;
        std::unordered_set<std::string> copiedFrom; // sources of the copies it would have made
        std::unordered_set<std::string> copiedTo; // and their targets
        std::unordered_set<std::string> gone; // what it would have deleted or renamed away
    };

    // twin: the folder's name differs from an earlier one's only in case.
    bool WalkCopy(const std::string& from, const std::string& to, bool twin = false);
    void WalkDelete(const std::string& from, const std::string& to, std::optional<FileId> toId);
    bool MayDeleteFromSource(const std::string& path, const DirEntry& entry, const SourceListing& listed);
    bool IsGoneInPreview(const std::string& path) const;
    void ListForDeletion(const std::string& entry, std::optional<FileId> toId);
    bool RenameCaseOnly(bool logOnly);
    bool MakeEmptyFolders();
    bool CaseOnlyRename(const std::string& from, const std::string& to, const DirEntry& entry,
                        const SourceListing& source, std::optional<bool>& foldsCase);
    bool ContainsPassFolder(const FileId& id) const;
    const SourceListing& SourceListingOf(const std::string& from);
    void BeginWalk(const std::string& from, const std::string& to);
    bool IsPassFolder(const FileId& id) const;
    bool KeepsFailedCopy(const std::string& entry) const;
    void CopyPhase(CopyLog& log, bool logOnly, PassCounters& counters);
    void LogCopy(CopyLog& log, std::size_t index, const CopyOutcome& outcome, bool logOnly,
                 PassCounters& counters);
    void ShowCopyStatus(std::size_t index, std::optional<std::uint64_t> percent = std::nullopt);
    void DeletePhase(CopyLog& log, bool logOnly, PassCounters& counters);
    void SweepLeftovers(const std::string& to);
    void KeepFailure(const std::string& path, std::error_code reason);
    std::string Shorten(const std::string& path);

    FileSystem& m_fs;
    EngineHost& m_host;
    std::string m_logFolder;
    std::function<std::string(const std::string& path)> m_drivePartOf;
    std::string m_shortenedFolder; // the folder of the last path shortened, and its drive part
    std::string m_shortenedDrive;
    CompactCopyList m_copyList;
    std::vector<std::string> m_deleteList;
    // For each entry of the delete list, the folder that held it when it was listed; the deletion
    // refuses when another has taken its place.
    std::vector<std::optional<FileId>> m_deleteFolders;
    std::set<std::string> m_failedSources;
    std::vector<FileId> m_passFolders;
    std::vector<FileId> m_passLineage; // the pass's folders and every folder above them
    PassWatch m_passWatch; // whether the pass's folders are still in place
    std::unordered_map<std::string, SourceListing> m_sourceListings; // by source folder
    PassMemory m_current; // what this pass leaves for the next one
    PassMemory m_earlier; // what the pass before it in the copy set left
    // The delete walk works on the folder that the pass before copied from (the reverse pass of a
    // two-way copy set): it deletes only what that pass listed and the to tree then lost.
    bool m_deleteMirroredOnly = false;
    std::vector<std::string> m_emptyFolders; // to folders entered whose subtree holds no file
    std::unordered_set<std::size_t> m_twins; // copy-list entries whose name has an earlier twin
    // Case-only renames of the to tree: a file's new path and its name now, and for folders the
    // path now and the new name.
    std::unordered_map<std::string, std::string> m_fileRenames;
    std::vector<std::pair<std::string, std::string>> m_folderRenames;
    // Set by the window's thread; the copying threads look at it between the steps of a copy.
    std::atomic<bool> m_aborted = false;
    std::vector<EntryFailure> m_failures;
    std::vector<EntryFailure> m_unlisted;
};

} // namespace ostrel
