#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

namespace ostrel {

// Writing files so that they are either wholly old or wholly new, and the temporary files this
// takes. The copies of a pass, the copy-set file and the companion's files all go through here.
//
// Temporary names: ".ostrel-<pid>-<n>", in the folder of the file they are to become. Hidden, so
// a folder listing seldom shows one; named after the process that made it, so that a file left
// by a killed process can be told from one that a living process is writing right now.
//
// Durability, one policy for all: a file's data is on the drive before the file takes its name,
// so after a power cut the name holds the old content or the new, never a torn or empty file.
// - A file saved on its own (SaveFile): fsync of the file before the rename and of its folder
//   after it; when the call returns, the save survives a power cut.
// - A copy of a pass (Durability::InPass): the data is written out and waited for without a
//   journal flush per file; the journal records the new blocks before the rename that follows,
//   and the pass syncs the whole file system (syncfs) before its summary, renames included.
enum class Durability {
    Alone, // fsync
    InPass, // data written out and waited for; the pass syncs the file system at its end
};

// Makes what was written to a file durable as the policy above says. False with errno set.
bool SyncWritten(int fd, Durability durability);

// Writes all of bytes, going on after interrupted and short writes. Returns 0 or the errno value.
int WriteAll(int fd, std::string_view bytes);

// The same at an offset of the file, with pwrite.
int WriteAllAt(int fd, std::string_view bytes, off_t offset);

// A fresh temporary name of this process.
std::string TemporaryName();

// Whether a name is a temporary name of this program; owner gets the process id in it.
bool IsTemporaryName(const char* name, pid_t* owner = nullptr);

// Creates a new file with a temporary name in an open folder (mode less the umask); the name goes
// to name. A descriptor open for writing, or -1 with errno set.
int CreateTemporary(int folderFd, mode_t mode, std::string& name);

// Removes from an open folder the files and links with a temporary name whose process has ended:
// what a killed copy or save left, which nothing else would ever remove. Those of living
// processes stay, this one's too (another of its threads may be writing it). Keeps errno.
void RemoveLeftoverTemporaries(int folderFd);

// Opens a file without waiting (O_NONBLOCK: a FIFO never blocks the open) and looks at what was
// opened into info, so the caller can refuse what is not a plain file before using it. A
// descriptor, or -1 with errno set.
int OpenWithoutWaiting(const std::string& path, int flags, struct stat& info);

// How SaveFile treats what is at the path.
struct SaveOptions
{
    // A symbolic link at the path: followed, so the file it names is replaced and the link stays;
    // or replaced itself, never followed.
    bool followLink = true;
    // The permission bits of a new file, less the umask.
    mode_t newMode = 0666;
};

// Replaces the file at path with bytes. They go into a temporary file beside it that takes the
// old file's permission bits (and, when root saves, its owner and group) and is renamed over it
// only when complete, so a failure leaves the old file as it was. Two cases write the file in
// place instead (truncated, written, synced), which keeps its mode, owner and identity: a file
// with more than one hard link, which a rename would split from its other names, and a writable
// file in a folder that refuses the temporary file. Refused before anything is written: a folder
// (EISDIR), anything but a regular file (EINVAL), a file whose owner write bit is clear (EACCES,
// for root too) or that this process can't write. Leftovers of killed saves beside the file go
// first. Returns 0 or the errno value of the failure.
int SaveFile(const std::string& path, std::string_view bytes, const SaveOptions& options = {});

} // namespace ostrel
