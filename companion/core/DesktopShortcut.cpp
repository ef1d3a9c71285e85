#include "companion/core/DesktopShortcut.h"

#include "companion/core/FileReplace.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace brennick {

namespace {

std::string InFolder(const std::string& folder, const std::string& name)
{
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The program as one quoted argument of Exec: inside the quotes '"', '`', '$' and '\' take a
// backslash, and '%' is doubled so that it is not read as a field code.
std::string QuotedExecArgument(const std::string& path)
{
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        } else if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    return quoted + "\"";
}

// A value of the string type: backslashes and line breaks written as escapes.
std::string EscapedValue(const std::string& value)
{
    std::string escaped;
    for (char c : value) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\t':
            escaped += "\\t";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

std::string DesktopEntryText(const std::string& programPath)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Brennick\n"
           "Exec="
        + EscapedValue(QuotedExecArgument(programPath)) + "\n";
}

int CreateShortcut(const std::string& desktopFolder, const std::string& companionFolder)
{
    if (desktopFolder.empty()) {
        return ENOENT;
    }
    std::string path = InFolder(desktopFolder, kShortcutName);
    if (int error = ReplaceFile(path, DesktopEntryText(InFolder(companionFolder, "Brennick")), 0777)) {
        return error;
    }
    // The run bit marks the entry as one the desktop may start; an old entry kept its own bits.
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) == 0) {
        mode_t readers = info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
        ::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR | (readers >> 2));
    }
    return 0;
}

int RemoveShortcut(const std::string& desktopFolder)
{
    if (desktopFolder.empty()) {
        return ENOENT;
    }
    std::string path = InFolder(desktopFolder, kShortcutName);
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

} // namespace brennick
