#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brennick {

// The launcher settings file iniBK.ini and its profile-file rules: sections in square brackets,
// "key=value" lines, section and key names found whatever their letter case, the blanks around a
// value ignored. Every read goes to the file afresh; nothing is cached.

// The settings file of the companion whose executable lies in companionFolder: iniBK.ini beside it
// where that folder is writable (a single "/" between folder and name, even in the root of a
// drive), otherwise in the user's configuration folder (AppFiles).
std::string GetIniPath(const std::string& companionFolder);

// The value of key in section as an integer: its leading integer (an optional minus sign and
// decimal digits, 0 when it has none, held to the 32-bit range), or defaultValue when the file, the
// section or the key is missing or the value is empty.
int GetIniInt(const std::string& iniPath, std::string_view section, std::string_view key, int defaultValue);

// The value of key in section, cut to at most 255 bytes (never inside a character), or
// defaultValue when the file, the section or the key is missing.
std::string GetIniStr(const std::string& iniPath, std::string_view section, std::string_view key,
                      std::string_view defaultValue);

// Stores value under key in section, creating the file, the section and the key as needed. An
// existing value is replaced in its own line; every other line stays as it was. The file is
// replaced through a temporary file and a rename; the user's settings folder is made when missing. False when
// nothing could be stored: the file can't be written, or a name or the value would break the line format (a
// line break, a NUL, a
// "=" in a key, a "]" in a section name).
bool PutIniStr(const std::string& iniPath, std::string_view section, std::string_view key,
               std::string_view value);

// The rules above on the file's text, for the operations and their tests.

// The value of key in section with its blanks trimmed, or nothing when the section or key is
// missing (a key line without "=" has no value). The first section of a name is the one that counts.
std::optional<std::string> FindIniValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// The text with key in section set to value, or nothing when the names or the value can't be stored.
std::optional<std::string> SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                                       std::string_view value);

// The leading integer of a value as GetIniInt reads it; defaultValue for an empty value.
int LeadingInteger(std::string_view value, int defaultValue);

// A profile string as GetIniStr hands it back: at most 255 bytes, cut before a character that
// would not fit whole.
std::string CutProfileString(std::string value);

} // namespace brennick
