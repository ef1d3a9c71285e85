#pragma once

#include "platform/FileSystem.h"

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace ostrel {

// The calls of PosixFileSystem that a test can make fail. ReadTime is also checked for each entry
// that a listing looks at. CopyWrite is checked after the first block of a copy has been written,
// so a failure there leaves a partly written temporary file; CopyRename just before the complete
// temporary file replaces the target.
enum class FsCall {
    List,
    ReadTime,
    Copy,
    CopyWrite,
    CopyRename,
    Delete,
    CreateFolder,
    RemoveFolder,
    GetAttributes,
    SetAttributes,
    IsFolder,
    Trash,
    TrashMove, // after the trash's info file is written, before the entry moves
    Rename,
    LogOpen,
    LogWrite,
};

// The file system of Linux and other POSIX systems.
class PosixFileSystem : public FileSystem
{
public:
    // With parallel, ForWorker gives further instances for other threads. Off by default, so that
    // a subclass that counts or fails calls is only ever used from one thread.
    explicit PosixFileSystem(bool parallel = false)
        : m_parallel(parallel)
    {
    }
    ~PosixFileSystem() override;
    PosixFileSystem(const PosixFileSystem&) = delete;
    PosixFileSystem& operator=(const PosixFileSystem&) = delete;

    FsResult ListFolder(const std::string& folder, std::vector<DirEntry>& entries,
                        ListDetail detail = ListDetail::Full) override;
    bool CanListFolder(const std::string& folder) override;
    std::optional<FileTime> ReadFileTime(const std::string& path, std::error_code* reason = nullptr) override;
    FsResult CopyFile(const std::string& source, const std::string& target, bool targetAbsent = false,
                      const CopyProgress& progress = {}) override;
    void RemoveLeftovers(const std::string& folder, bool below = false) override;
    FsResult DeleteFile(const std::string& path, std::optional<FileId> folder = std::nullopt) override;
    FsResult DeleteFolder(const std::string& path, std::optional<FileId> folder,
                          const std::function<void()>& perEntry) override;
    FsResult RenameEntry(const std::string& path, const std::string& newName) override;
    bool FoldsCase(const std::string& folder, bool mayProbe = true) override;
    FsResult CreateFolder(const std::string& path) override;
    FsResult RemoveFolder(const std::string& path) override;
    std::optional<Attributes> GetAttributes(const std::string& path,
                                            std::error_code* reason = nullptr) override;
    FsResult SetReadOnly(const std::string& path, bool readOnly) override;
    bool IsFolder(const std::string& path) override;
    std::optional<FileId> FolderId(const std::string& path) override;
    std::vector<FileId> FolderLineage(const std::string& path) override;
    FsResult MoveToTrash(const std::string& path, std::optional<FileId> folder = std::nullopt) override;
    void BeginPass(const std::vector<std::string>& folders) override;
    bool PassFoldersInPlace() override;
    bool SyncFileSystem(const std::string& folder) override;
    std::unique_ptr<FileSystem> ForWorker() override;
    int OpenLog(const std::string& path, bool fresh, std::error_code* reason = nullptr) override;
    FsResult WriteLog(int log, const std::string& path, std::string_view bytes) override;
    void CloseLog(int log) override;
    void Refresh() override
    {
        ForgetFolders();
        m_folding.clear();
        std::lock_guard<std::mutex> lock(m_swept->mutex);
        m_swept->folders.clear();
    }

    // Bytes copied between two questions of a copy's progress.
    static constexpr std::size_t kCopyStep = 8 << 20;

    // Resolves names below a pass folder one at a time with openat even where the kernel offers
    // openat2, as on kernels before 5.6; for the tests of that way.
    static void ResolveByNames(bool byNames);

protected:
    // The seam through which tests inject failures: an errno value to fail the call with, or 0 to
    // let it go ahead. The real file system never fails a call here.
    virtual int InjectedError(FsCall call, const std::string& path);

private:
    // The calls themselves: false with errno set on failure. The public calls give the reason.
    std::optional<FileTime> ReadTime(const std::string& path);
    bool Copy(const std::string& source, const std::string& target, bool targetAbsent,
              const CopyProgress& progress);
    bool Delete(const std::string& path, std::optional<FileId> folder);
    bool DeleteTree(const std::string& path, std::optional<FileId> folder,
                    const std::function<void()>& perEntry);
    bool Rename(const std::string& path, const std::string& newName);
    bool TrashEntry(const std::string& path, std::optional<FileId> folder);
    bool MakeFolder(const std::string& path);
    bool RemoveEmptyFolder(const std::string& path);
    std::optional<Attributes> LookAt(const std::string& path);
    bool ChangeReadOnly(const std::string& path, bool readOnly);
    int OpenLogFile(const std::string& path, bool fresh);

    // A folder of the pass, held open for the pass's length; every path below it is reached from
    // here. A folder that did not exist at the start is opened when first needed.
    struct PassFolder
    {
        std::string path; // without a trailing delimiter, but for the root itself
        int fd = -1;
        FileId id;
    };
    // The folders of the pass, shared with the instances handed to other threads.
    struct PassFolders
    {
        std::mutex mutex;
        std::vector<PassFolder> folders;
        ~PassFolders();
    };

    bool CopyData(int sourceFd, int targetFd, const std::string& target, const struct stat& sourceInfo,
                  const CopyProgress& progress);
    // Whether the file system of an open folder (on device) keeps local times and FAT's limits.
    bool OnFat(int folderFd, dev_t device);
    bool CopyLink(int sourceFolder, const std::string& sourceName, const struct stat& sourceInfo,
                  const std::string& target);
    bool EmptyFolder(int folderFd, const std::string& folder, dev_t device,
                     const std::function<void()>& perEntry);

    // Opens a folder: below a pass folder one name at a time from it, never through a link (and,
    // with sameMount, never onto another file system); elsewhere by its path. flags is O_PATH or
    // O_RDONLY. The caller owns the descriptor; -1 when it can't be opened.
    int OpenFolder(const std::string& folder, int flags, bool sameMount = false);
    // The folder of an entry opened for a deletion, checked to be the folder expected; -1 and
    // ESTALE when it is another one now.
    int OpenFolderToDelete(const std::string& path, std::optional<FileId> expected, std::string& name);
    // The same, with the entry itself looked at (never followed) into info; -1 and EPERM for a
    // special file.
    int OpenEntryToRemove(const std::string& path, std::optional<FileId> expected, std::string& name,
                          struct stat& info);

    // An open handle on the folder of a path, and the path's last part. A pass works through a
    // source folder and a target folder at a time; keeping both open spares the kernel a walk of
    // the whole path for every call. -1 when the folder can't be opened.
    int FolderOf(const std::string& path, std::string& name);
    // Closes the kept folders; called whenever a folder may have gone.
    void ForgetFolders();
    // Removes from a folder what killed copies and saves left (RemoveLeftoverTemporaries), unless
    // that was done since the last Refresh.
    void SweepFolderOnce(int folderFd, const std::string& folder);
    // Gives an open file without a name (O_TMPFILE) its name in a folder; fails when it exists.
    static bool LinkUnnamed(int fd, int folder, const std::string& name);

    struct KeptFolder
    {
        std::string path;
        int fd = -1;
    };
    KeptFolder m_kept[2];
    // Whether a file system that tells nothing of letter case by its kind folds it, as a probe
    // found out, by device; forgotten at each Refresh, since a device number is reused.
    std::unordered_map<dev_t, bool> m_folding;
    std::unordered_map<dev_t, bool> m_fatDevices; // OnFat's answers

    int m_nextKept = 0;
    bool m_parallel = false;
    // Target folders already looked through for what killed copies left, since the last Refresh;
    // shared with the instances handed to other threads.
    struct SweptFolders
    {
        std::mutex mutex;
        std::unordered_set<std::string> folders;
    };
    std::shared_ptr<SweptFolders> m_swept = std::make_shared<SweptFolders>();
    // Folders (with a trailing delimiter) in which a listing saw a temporary file of a copy: swept
    // by RemoveLeftovers of a folder above them. Shared with the instances of other threads.
    struct SeenLeftovers
    {
        std::mutex mutex;
        std::set<std::string> folders;
        std::set<std::string> clean; // listed without one since the last sweep below them
    };
    std::shared_ptr<SeenLeftovers> m_leftovers = std::make_shared<SeenLeftovers>();
    std::shared_ptr<PassFolders> m_pass = std::make_shared<PassFolders>();
};

} // namespace ostrel
