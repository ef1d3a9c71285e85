#pragma once

#include "platform/FileSystem.h"

#include <string_view>

namespace ostrel {

// The walks over a tree: the copy walk of a from folder, the delete walk of a to folder, and the
// emptying of a folder that is being deleted.
enum class Walk { Copy, Delete, DeleteFolder };

// Whether a name is one of a file system's own entries, which belong at its top folder: its
// lost-and-found folder, the trash folders of the desktops, and what other systems keep there.
bool IsFileSystemEntryName(std::string_view name);

// The one rule of what a walk passes over: it neither lists, copies, enters nor deletes such an
// entry. systemFiles is the run option that takes entries with the system attribute along on the
// copy walk.
//   - the file system's own entries at its top folder, in every walk;
//   - special files (FIFOs, sockets, devices), in every walk: they can't be mirrored, and opening
//     one can have effects of its own;
//   - entries with the system attribute, unless the copy walk is told to take them;
//   - the temporary files of copies (this process's or one that was killed) on the copy and
//     delete walks; a folder that is being deleted goes with what a killed copy left in it.
bool PassesOver(Walk walk, const Attributes& attributes, bool systemFiles = false);

} // namespace ostrel
