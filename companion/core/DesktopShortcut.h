#pragma once

#include <string>

namespace brennick {

// The desktop shortcut to the companion: the freedesktop desktop entry Brennick.desktop.

inline constexpr const char* kShortcutName = "Brennick.desktop";

// The text of a desktop entry that starts the program at programPath with no arguments.
std::string DesktopEntryText(const std::string& programPath);

// Creates or overwrites Brennick.desktop in desktopFolder, pointing at the file Brennick in the
// companion's folder, with its run bit set. Returns 0 or the errno value of the failure.
int CreateShortcut(const std::string& desktopFolder, const std::string& companionFolder);

// Deletes Brennick.desktop from desktopFolder. Returns 0 or the errno value of the failure.
int RemoveShortcut(const std::string& desktopFolder);

} // namespace brennick
