#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ostrel {

// Identity of a file-system object: the same pair means the same folder, whatever path reached it.
struct FileId
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileId&) const = default;
};

// The attributes the mirror logic works with, all of the entry itself: a link is never followed, so
// a link is never a folder.
struct Attributes
{
    bool folder = false;
    // A special file (FIFO, socket, device), or an entry with the DOS system bit on FAT.
    bool system = false;
    // A FIFO, socket or device node: never opened, copied or deleted.
    bool special = false;
    bool hidden = false;
    bool readOnly = false;
    bool link = false;
    // One of the file system's own entries at its top folder (lost+found, the trash folders, ...).
    bool fileSystemEntry = false;
    // A folder on another file system than the folder listed: something is mounted there.
    bool mountPoint = false;
    // A regular file named as the temporary file of a copy of this program (".ostrel-<pid>-<n>"):
    // what a copy leaves when its process is killed. Never copied and never listed for deletion.
    bool temporary = false;
    FileId id;
    // When the entry last changed in any way (written, renamed, moved in), in nanoseconds since the
    // epoch; 0 where the entry itself was not looked at (a names-only listing of a file).
    std::int64_t changed = 0;
};

// What a call of the file system came to: success, or the reason it failed. True on success.
class [[nodiscard]] FsResult
{
public:
    FsResult() = default;
    explicit FsResult(std::error_code error)
        : m_error(error)
    {
    }
    // The result of a system call that sets errno when it fails; a failure without errno counts as
    // an I/O error.
    static FsResult FromErrno(bool succeeded)
    {
        if (succeeded) {
            return {};
        }
        return FsResult(std::error_code(errno != 0 ? errno : EIO, std::generic_category()));
    }
    explicit operator bool() const { return !m_error; }
    const std::error_code& Error() const { return m_error; }

private:
    std::error_code m_error;
};

// A last-write time in MS-DOS form: the 16-bit date in the high half, the 16-bit time in the low half.
// Seconds go in steps of two; the years run from 1980 to 2107. Ordering the values orders the times.
using DosTime = std::uint32_t;

// The last-write time of a file or a link, with the size that goes with it.
struct FileTime
{
    std::int64_t seconds = 0; // since the epoch, UTC
    std::uint64_t size = 0; // of the file, or of a link's text
    // The file system keeps local times (FAT): its local form is the truth, not the instant.
    bool local = false;
    bool operator==(const FileTime&) const = default;
};

// Orders two file times (negative, zero, positive) in two-second steps: by their instants, or by
// their local form where either file system keeps local times. Daylight saving can repeat a local
// hour; instants never repeat.
int CompareFileTimes(const FileTime& a, const FileTime& b);

// A file time in local time in MS-DOS form, as the log shows it: times before 1980 show as the
// first step of 1980, times after 2107 as the last step of 2107.
DosTime ToDosTime(const FileTime& time);

// One entry of a folder listing; "." and ".." are never returned.
struct DirEntry
{
    std::string name;
    Attributes attributes;
    // The file time of a file or a link, as ReadFileTime gives it; full listings only.
    std::optional<FileTime> time;
};

// Asked after each step of a large copy with the bytes done and the size; false ends the copy.
using CopyProgress = std::function<bool(std::uint64_t done, std::uint64_t size)>;

// How much a listing finds out about each entry. Names gives the name, folder, link, hidden, system
// and special attributes (and a folder's id) without looking at each file; Full adds read-only and
// the file time.
enum class ListDetail { Full, Names };

// Every file-system call of the mirror engine goes through this interface. Paths are byte strings
// (UTF-8 as the file system returns them) with "/" as the delimiter. Calls report failure through
// their result and never throw: the changing ones and a listing with the reason (FsResult), those
// that give a value through an optional reason; the questions (IsFolder, CanListFolder, FolderId)
// answer yes or no.
//
// During a pass, every path below one of the pass's folders (see BeginPass) is reached from that
// folder one name at a time: never through a link, and never through a name that leads out of it.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // Lists the entries of a folder in the order the file system returns them. Fails when the
    // folder can't be opened or read to its end, or an entry in it can't be looked at; the entries
    // read are kept, and a file that can't be looked at is kept without a time in a full listing.
    virtual FsResult ListFolder(const std::string& folder, std::vector<DirEntry>& entries,
                                ListDetail detail = ListDetail::Full) = 0;

    // True when the folder can be opened for listing.
    virtual bool CanListFolder(const std::string& folder) = 0;

    // The last-write time and size of a file or of a link itself (never what it points to), any
    // time at all. Empty for a missing entry, a folder or a special file; reason, when given, gets
    // why (ENOENT for a missing entry, EISDIR for a folder, EINVAL for a special file).
    virtual std::optional<FileTime> ReadFileTime(const std::string& path,
                                                 std::error_code* reason = nullptr) = 0;

    // Copies a file's content over the target through a temporary file in the target's folder; a
    // link is copied as a link with the same text. The target takes the source's permission bits
    // (never a privilege its new owner did not have), its user extended attributes and ACL where
    // both sides keep them, and its last-write time; its data is on the drive before it takes the
    // target's name. Holes stay holes, and within one file system that can share extents the copy
    // shares them. A read-only target is refused while its source is writable (the user protected
    // it); one that is read-only because its source is, is replaced. A source that is not a regular
    // file or a link is never opened, and one too large for the target's file system (4 GiB on
    // FAT) fails before anything is written.
    // A large file is copied in steps; progress is asked after each (bytes done, size) and ends the
    // copy when it answers false (with the reason ECANCELED).
    // A failed copy leaves the old target as it was. What copies of ended (killed) processes left
    // in that folder is removed first, once per folder between two calls of Refresh.
    // targetAbsent tells that the caller has just found no target, which spares a second look.
    virtual FsResult CopyFile(const std::string& source, const std::string& target, bool targetAbsent = false,
                              const CopyProgress& progress = {}) = 0;

    // Removes from a folder what copies of ended (killed) processes left there, unless that was
    // done since the last Refresh or a listing just found none; a temporary file of a process that
    // still runs stays. With below, also from every folder below it where a listing saw one; this
    // ends a pass's sweep, and what the listings saw is forgotten then.
    virtual void RemoveLeftovers(const std::string& folder, bool below = false)
    {
        (void)folder;
        (void)below;
    }

    // Deletes a file (a link as a link), read-only or not. A special file is refused. With
    // folder, the entry's folder must still be that folder, reached without a link or a mount.
    virtual FsResult DeleteFile(const std::string& path, std::optional<FileId> folder = std::nullopt) = 0;

    // Deletes a folder tree outright, through the folder's own descriptor: entries with the
    // system attribute and whatever lies on another file system stay, and so
    // does the folder then. perEntry is called before each entry. With folder, as DeleteFile. True
    // when the folder itself was removed.
    virtual FsResult DeleteFolder(const std::string& path, std::optional<FileId> folder,
                                  const std::function<void()>& perEntry) = 0;

    // Gives an entry (a folder too) a new name in its own folder. It may be the same name in other
    // letter case, which a file system that ignores case takes as a rename all the same. Fails
    // when another entry of the new name is there.
    virtual FsResult RenameEntry(const std::string& path, const std::string& newName) = 0;

    // Whether the folder's file system takes two names that differ only in letter case for the
    // same entry there. With mayProbe, an entry may be made and removed at once to find out where
    // nothing else tells. A folder that does not exist yet answers as the nearest one above it.
    virtual bool FoldsCase(const std::string& folder, bool mayProbe = true)
    {
        (void)folder;
        (void)mayProbe;
        return false;
    }

    // Creates one folder; fails when it exists or its parent is missing.
    virtual FsResult CreateFolder(const std::string& path) = 0;

    // Removes an empty folder.
    virtual FsResult RemoveFolder(const std::string& path) = 0;

    // Attributes of the entry itself (a link is not followed). Empty when it does not exist or
    // can't be looked at; reason, when given, gets why.
    virtual std::optional<Attributes> GetAttributes(const std::string& path,
                                                    std::error_code* reason = nullptr) = 0;

    // Sets or clears the read-only attribute of a file. The other attributes can't be set here.
    virtual FsResult SetReadOnly(const std::string& path, bool readOnly) = 0;

    // True when the path names a folder itself, not a link to one.
    virtual bool IsFolder(const std::string& path) = 0;

    // Identity of the folder a path leads to, following links; empty when it is not a folder.
    virtual std::optional<FileId> FolderId(const std::string& path) = 0;

    // Identities of a folder and of every folder above it, up to the root; empty when it is not a
    // folder.
    virtual std::vector<FileId> FolderLineage(const std::string& path) = 0;

    // Moves a file or a folder with its content to the desktop's trash. With folder, as DeleteFile.
    virtual FsResult MoveToTrash(const std::string& path, std::optional<FileId> folder = std::nullopt) = 0;

    // Binds the calls that follow to the folders of a pass, opened now (one that does not exist yet
    // is opened when first needed); paths below none of them are taken as they are.
    virtual void BeginPass(const std::vector<std::string>& folders) { (void)folders; }

    // Whether every folder of the pass is still the one that was opened at its start, in its
    // place: false once a drive was unmounted beneath the pass, or a folder moved away.
    virtual bool PassFoldersInPlace() { return true; }

    // Makes everything written to the file system that holds the folder durable.
    virtual bool SyncFileSystem(const std::string& folder)
    {
        (void)folder;
        return true;
    }

    // A file system for one more thread to work with alongside this one, on the same files; empty
    // when calls can't run in parallel.
    virtual std::unique_ptr<FileSystem> ForWorker() { return nullptr; }

    // Opens the copy log for writing: created or emptied when fresh, otherwise appended to. A
    // descriptor, or -1 when it can't be opened; reason, when given, gets why.
    virtual int OpenLog(const std::string& path, bool fresh, std::error_code* reason = nullptr) = 0;

    // Writes all of the bytes to an open log (named path) at once; false when they could not all
    // be written, with the reason.
    virtual FsResult WriteLog(int log, const std::string& path, std::string_view bytes) = 0;

    // Makes an open log durable and closes it.
    virtual void CloseLog(int log) = 0;

    // Forgets what the layer keeps open for speed, so that folders replaced since are found anew.
    // The engine calls it at the start of every listing and every pass.
    virtual void Refresh() { }
};

// The file system of the platform the program runs on.
std::unique_ptr<FileSystem> CreateFileSystem();

} // namespace ostrel
