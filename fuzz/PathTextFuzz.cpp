// Fuzzes the path helpers: the splits into folder and name, the delimiter helpers, the shortening
// of a path to a width with "..." in place of leading folders, and the joins of the programs' files
// (settings file, copy log, copy-set file, DATA folder and items).
//
// Input: width and measure NUL path NUL drive. The width is a decimal number, the measure one
// letter after it: b counts bytes, c counts characters, w weighs them like a proportional font.
#include "FuzzSupport.h"
#include "companion/core/FileReplace.h"
#include "companion/core/Items.h"
#include "companion/core/LogFields.h"
#include "companion/core/modIniFile.h"
#include "platform/AppFiles.h"
#include "platform/PathText.h"

#include <algorithm>

using namespace ostrel::fuzz;

namespace {

int Bytes(const std::string& text)
{
    return static_cast<int>(text.size());
}

int Characters(const std::string& text)
{
    return static_cast<int>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Dots are wide and "/" and "i" narrow, so that "..." can be wider than the name it replaces.
int Weighed(const std::string& text)
{
    int width = 0;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '.') {
            width += 5;
        } else if (c == '/' || c == 'i' || c == 'l') {
            width += 1;
        } else if (byte < 0x80) {
            width += 3;
        } else if (byte >= 0xC0) {
            width += 6;
        }
    }
    return width;
}

std::vector<std::string> Components(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) {
            return parts;
        }
        start = slash + 1;
    }
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void CheckSplits(const std::string& path)
{
    const bool valid = IsValidUtf8(path);
    std::string name = ostrel::ExtractName(path);
    std::string folder = ostrel::ExtractFolder(path);
    FUZZ_CHECK(folder + name == path);
    FUZZ_CHECK(name.find('/') == std::string::npos);
    FUZZ_CHECK(folder.empty() || folder.back() == '/');
    FUZZ_CHECK(ostrel::ExtractFolder(folder) == folder);
    FUZZ_CHECK(ostrel::ExtractName(folder).empty());
    FUZZ_CHECK(!valid || (IsValidUtf8(name) && IsValidUtf8(folder)));

    std::string with = ostrel::AppendDelimiter(path);
    FUZZ_CHECK(ostrel::EndsWithDelimiter(with));
    FUZZ_CHECK(ostrel::AppendDelimiter(with) == with);
    FUZZ_CHECK(with == (ostrel::EndsWithDelimiter(path) ? path : path + "/"));
    std::string without = ostrel::RemoveDelimiter(path);
    FUZZ_CHECK(without == path || without + "/" == path);
    FUZZ_CHECK(path == "/" || !ostrel::EndsWithDelimiter(path) || without.size() + 1 == path.size());
    if (!path.empty() && !ostrel::EndsWithDelimiter(path)) {
        FUZZ_CHECK(ostrel::RemoveDelimiter(with) == path);
    }

    // The companion's own helpers split the same way, and the files' places of a portable copy
    // join their names with a single "/".
    FUZZ_CHECK(brennick::FolderOf(path) == folder);
    std::string base = path;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    const ostrel::AppFiles portable(path, ostrel::AppFiles::Layout::Portable);
    FUZZ_CHECK(portable.LauncherSettingsPath() == base + "/iniBK.ini");
    FUZZ_CHECK(portable.CopyLogPath() == base + "/velmor.log");
    FUZZ_CHECK(portable.DefaultCopySetPath() == base + "/velmor.dat");
    FUZZ_CHECK(portable.ItemsFolder() == base + "/DATA/");
    FUZZ_CHECK(ostrel::ExtractFolder(portable.LauncherSettingsPath()) == base + "/");
    std::string log = brennick::LogPathFor(path);
    FUZZ_CHECK(log.empty() == folder.empty());
    FUZZ_CHECK(log.empty() || ostrel::ExtractName(log) == "velmor.log");
    std::string data = brennick::DataFolder(path);
    FUZZ_CHECK(EndsWith(data, "/DATA/"));
    if (brennick::CheckItemName(name) == brennick::ItemNameProblem::None) {
        std::string item = brennick::ItemFilePath(path, name);
        FUZZ_CHECK(ostrel::ExtractFolder(item) == data);
        FUZZ_CHECK(ostrel::ExtractName(item) == name + ".dat");
        FUZZ_CHECK(brennick::ItemNameOf(ostrel::ExtractName(item)) == name);
        FUZZ_CHECK(ostrel::ExtractName(item).size() <= 255);
        FUZZ_CHECK(!valid || IsValidUtf8(item));
    }
    if (EndsWith(name, ".dat")) {
        FUZZ_CHECK(brennick::ItemNameOf(name) + ".dat" == name);
        FUZZ_CHECK(!valid || IsValidUtf8(brennick::ItemNameOf(name)));
    }
}

void CheckShortening(const std::string& path, int maxWidth,
                     const std::function<int(const std::string&)>& width, const std::string& drive)
{
    const std::string name = ostrel::ExtractName(path);
    std::string shortened = ostrel::ShortenPath(path, maxWidth, width, drive);

    // It fits, or only the name is left.
    FUZZ_CHECK(width(shortened) <= maxWidth || shortened == name);
    if (width(path) <= maxWidth) {
        FUZZ_CHECK(shortened == path);
    }
    // The name always stays whole, at the end.
    FUZZ_CHECK(EndsWith(shortened, name));
    // Shortening again changes nothing.
    FUZZ_CHECK(ostrel::ShortenPath(shortened, maxWidth, width, drive) == shortened);
    if (IsValidUtf8(path) && IsValidUtf8(drive)) {
        FUZZ_CHECK(IsValidUtf8(shortened));
    }
    // Only whole folder names are kept or replaced by "...": nothing is glued together, and at
    // most one "..." is new.
    if (shortened != path) {
        std::vector<std::string> kept = Components(shortened);
        std::vector<std::string> original = Components(path);
        auto ellipses = [](const std::vector<std::string>& parts) {
            return std::count(parts.begin(), parts.end(), "...");
        };
        FUZZ_CHECK(ellipses(kept) <= ellipses(original) + 1);
        for (const std::string& part : kept) {
            FUZZ_CHECK(part == "..." || std::find(original.begin(), original.end(), part) != original.end());
        }
        FUZZ_CHECK(shortened.size() <= path.size() + 4 || width(shortened) <= maxWidth);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> parts =
        SplitAtNul(std::string_view(reinterpret_cast<const char*>(data), size), 3);
    const std::string& header = parts[0];
    const std::string& path = parts[1];
    // The callers hand the drive part with its delimiter, or nothing.
    const std::string drive = parts[2].empty() ? std::string() : ostrel::AppendDelimiter(parts[2]);

    long maxWidth = 0;
    std::size_t at = 0;
    bool negative = at < header.size() && header[at] == '-';
    at += negative;
    for (; at < header.size() && header[at] >= '0' && header[at] <= '9' && maxWidth < 100000; ++at) {
        maxWidth = maxWidth * 10 + (header[at] - '0');
    }
    std::function<int(const std::string&)> width = Bytes;
    if (at < header.size() && header[at] == 'c') {
        width = Characters;
    } else if (at < header.size() && header[at] == 'w') {
        width = Weighed;
    }

    CheckSplits(path);
    CheckSplits(parts[2]);
    CheckShortening(path, static_cast<int>(negative ? -maxWidth : maxWidth), width, drive);
    CheckShortening(path, static_cast<int>(negative ? -maxWidth : maxWidth), width, std::string());
    return 0;
}
