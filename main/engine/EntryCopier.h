#pragma once

#include "engine/CopyList.h"
#include "platform/FileSystem.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace ostrel {

// What one entry of the copy list came to; the log line and the counters follow from it.
struct CopyOutcome
{
    bool acted = false; // the entry was to be copied, whether it succeeded or not
    bool succeeded = false;
    bool added = false; // a new target, not an overwrite
    bool done = false;
    bool aborted = false; // stopped by the abort button part way: the pass ends without its line
    std::optional<FileTime> sourceTime; // for the log line
    std::error_code reason; // why it failed
};

// Whether the folders of a pass are still in place. Asked by every thread of the pass before each
// change; it looks at the folders at most every few milliseconds, and once they are gone they stay
// gone for the rest of the pass.
class PassWatch
{
public:
    // A new pass: its folders count as in place.
    void Reset();
    // True once a drive was unmounted beneath the pass or a folder of it moved away.
    bool Gone(FileSystem& fs);

private:
    std::atomic<bool> m_gone = false;
    std::atomic<std::chrono::steady_clock::duration> m_lookedAt{};
};

// What the copying threads share while a copy phase runs. The lists are only read during the
// phase; the folders made are guarded by their lock; the flags are atomic. The window is not here:
// only the window's thread talks to it.
struct CopyPhaseShared
{
    const CompactCopyList& copyList;
    // Copy-list entries whose name has an earlier twin that differs only in letter case.
    const std::unordered_set<std::size_t>& twins;
    // Case-only renames of files: the target's new path and the name it has now.
    const std::unordered_map<std::string, std::string>& fileRenames;
    const bool logOnly;
    const std::atomic<bool>& aborted; // set by the window's thread
    PassWatch& passWatch;
    std::mutex folderMutex; // guards madeFolders and the making of folders
    std::unordered_set<std::string> madeFolders; // target folders the phase made
};

// Carries out entries of the copy list for one thread, through that thread's own file system.
class EntryCopier
{
public:
    // Called between the steps of a large copy with the entry and how far it got.
    using StepHook = std::function<void(std::size_t index, std::uint64_t done, std::uint64_t size)>;

    EntryCopier(CopyPhaseShared& shared, FileSystem& fs, StepHook onStep)
        : m_shared(shared)
        , m_fs(fs)
        , m_onStep(std::move(onStep))
    {
    }

    // Compares the entry's source and target and copies where the source is newer; renames a
    // target that differs only in letter case first. With logOnly nothing is changed.
    CopyOutcome CarryOut(std::size_t index);

private:
    CopyOutcome Copy(std::size_t index);
    // The outcome of a copy that was made, with its result.
    CopyOutcome Finish(CopyOutcome outcome, const FsResult& copied) const;

    CopyPhaseShared& m_shared;
    FileSystem& m_fs;
    StepHook m_onStep;
    std::string m_knownFolder; // a target folder known to exist
};

// Creates a folder and the missing folders above it; fails with the reason the folder itself
// could not be made, and succeeds when it is there already.
FsResult MakeFolderOn(FileSystem& fs, const std::string& path);

} // namespace ostrel
