#include "platform/WalkRules.h"

#include <array>

namespace ostrel {

bool IsFileSystemEntryName(std::string_view name)
{
    static constexpr std::array<std::string_view, 7> kNames = {
        "lost+found",   ".Trash",          ".Trashes",   "System Volume Information",
        "$RECYCLE.BIN", ".Spotlight-V100", ".fseventsd",
    };
    for (std::string_view known : kNames) {
        if (name == known) {
            return true;
        }
    }
    // ".Trash-<uid>", for any user.
    constexpr std::string_view userTrash = ".Trash-";
    if (name.size() <= userTrash.size() || name.substr(0, userTrash.size()) != userTrash) {
        return false;
    }
    for (char c : name.substr(userTrash.size())) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool PassesOver(Walk walk, const Attributes& attributes, bool systemFiles)
{
    if (attributes.fileSystemEntry || attributes.special) {
        return true;
    }
    if (attributes.system && !(walk == Walk::Copy && systemFiles)) {
        return true;
    }
    return attributes.temporary && walk != Walk::DeleteFolder;
}

} // namespace ostrel
