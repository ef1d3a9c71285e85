#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <sys/types.h>

namespace ostrel {

// Where trashed entries go and how they are stamped. Tests fill it with their own folders and
// clock; the program takes FromEnvironment().
struct TrashSetup
{
    // The home trash, $XDG_DATA_HOME/Trash; made with its missing parents (mode 0700) when first
    // needed. Empty: there is no home trash, every entry goes to its drive's trash.
    std::string homeTrash;
    // The numeric user id that names a drive's trash folders and must own them.
    uid_t uid = 0;
    // The time of trashing in seconds since the epoch; written into the info file in local time.
    std::function<std::time_t()> now;
    // When not empty, every entry counts as lying on a drive whose top folder is this one, whatever
    // the mounts say, and the home trash is never used. For tests that need a drive without root.
    std::string topFolder;
    // The seam through which tests fail a move: an errno value to fail it with just before the
    // entry is renamed into the trash (its info file written), or 0 to let it go ahead.
    std::function<int()> beforeMove;

    // The user's own: $XDG_DATA_HOME (by default ~/.local/share), the real user id, the system clock.
    static TrashSetup FromEnvironment();
};

// Moves entries into the freedesktop.org trash (version 1.0 of its rules), working on byte names
// and folder descriptors. An entry on the home trash's file system goes to the home trash; any
// other to its drive's $topdir/.Trash/$uid when $topdir/.Trash is a real sticky folder, otherwise to
// $topdir/.Trash-$uid. The entry is only ever renamed, never copied across file systems.
class Trash
{
public:
    explicit Trash(TrashSetup setup = TrashSetup::FromEnvironment());

    // Moves the entry `name` (one component) of the folder open as parentFd to the trash on the
    // same file system. absolutePath is the entry's full path without links, "." or ".." parts,
    // which the info file records (relative to the drive's top folder in a drive's trash). The
    // drive's top folder is found by climbing from parentFd; a path that does not lead there fails
    // with EINVAL rather than record a wrong place. True when the entry is in the trash with its
    // info file; false with errno set otherwise, and then the entry is where it was and no info
    // file of it is left. Nothing is synced to the disk here.
    bool MoveToTrashAt(int parentFd, const std::string& name, const std::string& absolutePath) const;

    // The same for a path: its folder part may pass through links and is resolved first, and the
    // info file records the real folder. A trailing "/" is ignored.
    bool MoveToTrash(const std::string& path) const;

    // A byte path as an info file's Path= holds it: letters, digits, "-._~" and "/" stay, every
    // other byte (blanks, "%", line breaks, bytes that are not UTF-8) becomes %XX.
    static std::string EncodePath(const std::string& path);

private:
    TrashSetup m_setup;
};

} // namespace ostrel
