#include "platform/PathText.h"

namespace ostrel {

namespace {

const std::string kEllipsisFolder = std::string("...") + kPathDelimiter;
const std::string kRootEllipsis = kPathDelimiter + kEllipsisFolder;

// Replaces the first folder name of a folder text with "...": "/a/b/" gives "/.../b/" and
// "/.../b/" gives "/.../"; a text with a single folder left becomes empty.
std::string CutFirstFolder(std::string folder)
{
    if (folder == std::string(1, kPathDelimiter)) {
        return {};
    }
    bool root = !folder.empty() && folder.front() == kPathDelimiter;
    if (root) {
        folder.erase(0, 1);
    }
    if (folder.compare(0, kEllipsisFolder.size(), kEllipsisFolder) == 0) {
        folder.erase(0, kEllipsisFolder.size());
    }
    auto delimiter = folder.find(kPathDelimiter);
    folder = delimiter == std::string::npos ? std::string() : kEllipsisFolder + folder.substr(delimiter + 1);
    return root ? kPathDelimiter + folder : folder;
}

} // namespace

bool EndsWithDelimiter(const std::string& path)
{
    return !path.empty() && path.back() == kPathDelimiter;
}

std::string AppendDelimiter(const std::string& path)
{
    return EndsWithDelimiter(path) ? path : path + kPathDelimiter;
}

std::string RemoveDelimiter(const std::string& path)
{
    if (path.size() > 1 && EndsWithDelimiter(path)) {
        return path.substr(0, path.size() - 1);
    }
    return path;
}

std::string ExtractName(const std::string& path)
{
    auto delimiter = path.rfind(kPathDelimiter);
    return delimiter == std::string::npos ? path : path.substr(delimiter + 1);
}

std::string ExtractFolder(const std::string& path)
{
    auto delimiter = path.rfind(kPathDelimiter);
    return delimiter == std::string::npos ? std::string() : path.substr(0, delimiter + 1);
}

std::string ShortenPath(const std::string& path, int maxWidth,
                        const std::function<int(const std::string&)>& width, const std::string& drive)
{
    std::string name = ExtractName(path);
    std::string folder = ExtractFolder(path);
    std::string drivePart;
    if (!drive.empty() && folder.compare(0, drive.size(), drive) == 0) {
        drivePart = RemoveDelimiter(drive);
        folder.erase(0, drivePart.size());
    }
    std::string result = path;
    while ((!folder.empty() || !drivePart.empty()) && width(result) > maxWidth) {
        // Only the root delimiter or "..." left between drive and name: the drive gives way too,
        // never gluing the drive to the name.
        if (folder == kRootEllipsis || folder == std::string(1, kPathDelimiter)) {
            drivePart.clear();
            folder = kEllipsisFolder;
        } else if (folder.empty()) {
            drivePart.clear();
        } else {
            folder = CutFirstFolder(folder);
        }
        result = drivePart + folder + name;
    }
    return result;
}

std::string ShortenPathOnDrive(const std::string& path, int maxWidth,
                               const std::function<int(const std::string&)>& width,
                               const std::string& drivePart)
{
    return ShortenPath(path, maxWidth, width, drivePart.empty() ? drivePart : AppendDelimiter(drivePart));
}

} // namespace ostrel
