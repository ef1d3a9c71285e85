#pragma once

#include "CopyList.h"
#include "CopyLog.h"
#include "EngineHost.h"
#include "FileSystem.h"
#include "SourceListing.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ostrel {

// One pass of a copy set: lists what to copy and what to delete, carries both lists out and
// writes the copy log. The lists and the abort flag exist once per run and belong to the engine.
class MirrorEngine
{
public:
    // Width in pixels of status panel 0, to which paths are shortened.
    static constexpr int kStatusPanelWidth = 550;

    // The log is written into logFolder (the folder of the running program).
    MirrorEngine(FileSystem& fileSystem, EngineHost& host, std::string logFolder);

    // Appends every file of the from tree, depth first in enumeration order, with its path under
    // the to folder. A from folder that can't be listed adds nothing.
    void GetCopyFiles(const std::string& from, const std::string& to);

    // Appends what the to tree holds and the from tree lacks: files, and whole folders as entries
    // ending with "/". A from folder that is missing or can't be listed adds nothing, so an unplugged
    // or renamed source never empties the target.
    void GetDeleteFiles(const std::string& from, const std::string& to);

    // Carries out the copy list, then the delete list, and logs the pass. With firstOfRun the log is
    // started afresh, otherwise appended. With logOnly nothing is changed on disk but the log is
    // written as if every action had succeeded. Throws CopyLogError when the log fails.
    void ExeCopyFiles(bool firstOfRun, const std::string& from, const std::string& to, bool logOnly);

    // Creates a folder and the missing folders above it.
    void MakeFolder(const std::string& path) { MakeFolderOn(m_fs, path); }

    // Deletes a folder tree outright, leaving entries with the system attribute and whatever can't
    // be deleted. True when the folder itself was removed.
    bool DeleteFolder(const std::string& path);

    // Moves a file or a folder with its content to the trash. True on success.
    bool MoveToTrash(const std::string& path, std::optional<FileId> folder = std::nullopt);

    CompactCopyList& CopyList() { return m_copyList; }
    std::vector<std::string>& DeleteList() { return m_deleteList; }
    void ClearLists();

    // Source files whose copy failed in this copy set, and source folders that could not be listed
    // in full; a later pass never lists them, or anything below such a folder, for deletion, so a
    // failed copy can't turn into a loss in the reverse pass. Forgotten at each new copy set.
    void ForgetFailedCopies() { m_failedSources.clear(); }

    bool IsAborted() const { return m_aborted; }
    void SetAborted(bool aborted) { m_aborted = aborted; }

    std::string LogPath() const;

private:
    // What one entry of the copy list came to; the log line and the counters follow from it.
    struct CopyOutcome
    {
        bool acted = false; // the entry was to be copied, whether it succeeded or not
        bool succeeded = false;
        bool added = false; // a new target, not an overwrite
        bool done = false;
        bool aborted = false; // stopped by the abort button part way: the pass ends without its line
        std::optional<FileTime> sourceTime; // for the log line
    };

    // What each copying thread keeps between its entries.
    struct CopyThreadState
    {
        std::string knownFolder; // a target folder known to exist
    };

    void WalkCopy(const std::string& from, const std::string& to);
    void WalkDelete(const std::string& from, const std::string& to, std::optional<FileId> toId);
    bool ContainsPassFolder(const FileId& id) const;
    bool PassFoldersGone(FileSystem& fs);
    void KeepSourceListing(const std::string& from, bool complete, const std::vector<DirEntry>& entries);
    SourceListing TakeSourceListing(const std::string& from);
    void BeginWalk(const std::string& from, const std::string& to);
    bool IsPassFolder(const FileId& id) const;
    bool KeepsFailedCopy(const std::string& entry) const;
    void CopyPhase(CopyLog& log, bool logOnly, PassCounters& counters);
    void CopyInParallel(CopyLog& log, bool logOnly, PassCounters& counters, FileSystem& workerFs);
    CopyOutcome CopyEntry(FileSystem& fs, std::size_t index, bool logOnly, CopyThreadState& state);
    void LogCopy(CopyLog& log, std::size_t index, const CopyOutcome& outcome, bool logOnly,
                 PassCounters& counters);
    void ShowCopyStatus(std::size_t index, std::optional<std::uint64_t> percent = std::nullopt);
    void DeletePhase(CopyLog& log, bool logOnly, PassCounters& counters);
    void SweepLeftovers(const std::string& to);
    std::string Shorten(const std::string& path);
    static void MakeFolderOn(FileSystem& fs, const std::string& path);

    FileSystem& m_fs;
    EngineHost& m_host;
    std::string m_logFolder;
    CompactCopyList m_copyList;
    std::vector<std::string> m_deleteList;
    // For each entry of the delete list, the folder that held it when it was listed; the deletion
    // refuses when another has taken its place.
    std::vector<std::optional<FileId>> m_deleteFolders;
    std::set<std::string> m_failedSources;
    std::vector<FileId> m_passFolders;
    std::vector<FileId> m_passLineage; // the pass's folders and every folder above them
    std::atomic<bool> m_passGone = false; // a folder of the pass was unmounted or moved away
    std::unordered_map<std::string, SourceListing> m_sourceListings; // by source folder
    std::mutex m_folderMutex; // guards m_madeFolders and the making of folders
    std::unordered_set<std::string> m_madeFolders; // target folders the copy phase made
    // Set by the window's thread; the copying threads look at it between the steps of a copy.
    std::atomic<bool> m_aborted = false;
    std::atomic<bool> m_helperStepping = false; // the helper thread is in the middle of a large copy
};

} // namespace ostrel
