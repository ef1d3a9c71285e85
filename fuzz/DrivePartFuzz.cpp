// Fuzzes the drive part of a path as the Linux volume layer works it out from a mount table: any
// path against any table, with escaped and odd mount points.
//
// Input: path NUL user name NUL mount table (the lines of /proc/self/mountinfo).
#include "FuzzSupport.h"
#include "platform/PosixVolumes.h"

#include <fcntl.h>
#include <unistd.h>

using namespace ostrel::fuzz;

namespace {

// The path with ".", ".." and repeated delimiters worked out lexically; empty when not absolute.
std::string Normalized(const std::string& path)
{
    if (path.empty() || path.front() != '/') {
        return {};
    }
    std::vector<std::string> parts;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    std::string result;
    for (const std::string& part : parts) {
        result += "/" + part;
    }
    return result.empty() ? "/" : result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> parts =
        SplitAtNul(std::string_view(reinterpret_cast<const char*>(data), size), 3);
    const std::string& path = parts[0];
    const std::string& user = parts[1];
    const std::string table = ScratchFolder::Path() + "/mountinfo";
    PutFileBytes(table, parts[2]);
    // No block devices: the drive part never looks at them.
    ostrel::PosixVolumes volumes(table, ScratchFolder::Path() + "/no-block", user, "/bin/false", 0);

    std::string drive = volumes.DrivePart(path);
    std::string normalized = Normalized(path);
    if (normalized.empty()) {
        FUZZ_CHECK(drive.empty());
        return 0;
    }
    // An absolute, normalized folder that holds the path, with no delimiter at its end but for
    // the root.
    FUZZ_CHECK(!drive.empty() && drive.front() == '/');
    FUZZ_CHECK(drive == "/" || drive.back() != '/');
    FUZZ_CHECK(Normalized(drive) == drive);
    FUZZ_CHECK(drive == "/"
               || (normalized.compare(0, drive.size(), drive) == 0
                   && (normalized.size() == drive.size() || normalized[drive.size()] == '/')));
    if (IsValidUtf8(path)) {
        FUZZ_CHECK(IsValidUtf8(drive));
    }
    // The drive of a drive is itself, and so is the drive of any path below it that is not below
    // a longer mount point.
    FUZZ_CHECK(volumes.DrivePart(drive) == drive);
    FUZZ_CHECK(volumes.DrivePart(path + "/") == drive);
    FUZZ_CHECK(volumes.DrivePart(normalized) == drive);

    // Every drive offered for picking is an absolute, normalized folder whose drive is itself.
    for (const std::string& offered : volumes.MountedDrives()) {
        FUZZ_CHECK(!offered.empty() && offered.front() == '/');
        FUZZ_CHECK(Normalized(offered) == offered);
        FUZZ_CHECK(volumes.DrivePart(offered) == offered);
    }
    return 0;
}
