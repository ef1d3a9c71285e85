#pragma once

#include <functional>
#include <string>

namespace ostrel {

// Every test for a path delimiter and every split of a path into folder and name goes through
// these helpers. Paths are byte strings; "/" can't be part of a multi-byte UTF-8 character, so a
// "/" byte is always a delimiter.
constexpr char kPathDelimiter = '/';

bool EndsWithDelimiter(const std::string& path);

// The path with a delimiter at its end, added when missing.
std::string AppendDelimiter(const std::string& path);

// The path less one delimiter at its end; the root "/" stays as it is.
std::string RemoveDelimiter(const std::string& path);

// The text after the last delimiter: empty for a folder path that ends with one.
std::string ExtractName(const std::string& path);

// The text up to and including the last delimiter.
std::string ExtractFolder(const std::string& path);

// Shortens a path to fit maxWidth as measured by width. Folder names after the drive part give way
// to "..." from the left ("/media/usb/.../sub/file"); at last only the name is left. The drive part
// is the leading text that stays, such as a mount point; it may be empty.
std::string ShortenPath(const std::string& path, int maxWidth,
                        const std::function<int(const std::string&)>& width, const std::string& drive = {});

// Shortens a path as ShortenPath does, keeping its drive part in front as long as anything can go
// before it. drivePart is what the volumes report for the path ("/media/usb", "/"), without its
// delimiter. Every path the windows show shortened (status bar, progress and copy-set labels)
// goes through here.
std::string ShortenPathOnDrive(const std::string& path, int maxWidth,
                               const std::function<int(const std::string&)>& width,
                               const std::string& drivePart);

} // namespace ostrel
