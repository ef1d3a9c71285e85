#pragma once

#include "store/CopySet.h"

#include <string>
#include <vector>

namespace brennick {

// Items are copy-set files "NAME.dat" directly inside the DATA folder: beside the companion where
// its folder is writable, otherwise in the user's data folder (AppFiles).

// The DATA folder of the companion whose executable lies in companionFolder, with a trailing "/".
std::string DataFolder(const std::string& companionFolder);

// The item file of an item name: DATA/NAME.dat.
std::string ItemFilePath(const std::string& companionFolder, const std::string& itemName);

// The file names (with their extension) of the items in a DATA folder, in the order in which the
// file system lists them: regular files, or links to them, whose names end in ".dat" in any letter
// case and don't begin with "."; folders, special and hidden files are left out. Names are the
// bytes the file system holds, whatever their encoding. A missing or unreadable folder has no items.
std::vector<std::string> ListItems(const std::string& dataFolder);

// The file name of the item itemName in a DATA folder: "NAME.dat" when that file is an item,
// otherwise the first listed item whose name less its extension is itemName ("NAME.DAT"), and
// "NAME.dat" when there is none.
std::string FindItemFile(const std::string& dataFolder, const std::string& itemName);

// The item name of an item file name: the file name less its last four characters.
std::string ItemNameOf(const std::string& fileName);

// The summary shown for an item: its first line, without the line end, up to its first comma.
// Empty for an empty or unreadable file.
std::string ReadItemSummary(const std::string& path);

// The source and target folders of an item: the first two TAB-separated fields of its first
// line (the whole line and an empty target when it holds no TAB). Both empty for an empty or
// unreadable file.
struct ItemFolders
{
    std::string source;
    std::string target;
    bool operator==(const ItemFolders&) const = default;
};
ItemFolders ReadItemFolders(const std::string& path);

// Why an item name can't be used, if it can't.
enum class ItemNameProblem {
    None,
    Empty,
    Slash, // holds "/", so it would name a file in another folder
    DotName, // "." or ".."
    LeadingDot, // the file would be hidden and never listed
    Blanks, // blanks at either end, which the settings file drops from a binding
    ControlCharacter, // a line break or other control character
    TooLong, // the file name would exceed the file system's 255 bytes
};
ItemNameProblem CheckItemName(const std::string& name);

// The message that refuses a name, or empty for a usable one.
std::string ItemNameMessage(const std::string& name, ItemNameProblem problem);

// Writes the item NAME.dat into the DATA folder, creating the folder when it is missing: the one
// copy set as a single line, source, TAB, target, TAB, TAB, volume name, CR LF. An existing item
// of that name is replaced, also one whose extension is in other letter case (FindItemFile); a symbolic link
// of that name is replaced itself, so nothing is ever written outside DATA. Returns 0, EINVAL for a name that
// CheckItemName refuses or folders that can't be stored in the line, or the errno value of the failure.
int WriteItemFile(const std::string& companionFolder, const std::string& itemName,
                  const ostrel::CopySet& set);

// Deletes the item file fileName (with ".dat") from the DATA folder outright. Returns 0 or the
// errno value of the failure; a name holding "/" is refused with EINVAL.
int DeleteItemFile(const std::string& companionFolder, const std::string& fileName);

// A top edge from the settings file as the launcher keeps it, in a 16-bit signed integer: held
// to -32768..32767.
int ClampTop(int top);

} // namespace brennick
