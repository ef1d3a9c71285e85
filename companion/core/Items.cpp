#include "companion/core/Items.h"

#include "companion/core/FileReplace.h"
#include "platform/AppFiles.h"
#include "store/CopySetFile.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brennick {

namespace {

constexpr std::string_view kExtension = ".dat";
constexpr std::size_t kMaxFileName = 255;

// True when the name ends in ".dat" in any letter case, as the pattern "*.dat" matches.
bool HasItemExtension(const std::string& name)
{
    if (name.size() < kExtension.size()) {
        return false;
    }
    const std::string_view tail = std::string_view(name).substr(name.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

// The first line of a file, without its line end; empty when it can't be read.
std::string ReadFirstLine(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return {};
    }
    std::string line;
    char buffer[4096];
    bool done = false;
    while (!done) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        std::string_view chunk(buffer, static_cast<std::size_t>(got));
        if (std::size_t lf = chunk.find('\n'); lf != std::string_view::npos) {
            chunk = chunk.substr(0, lf);
            done = true;
        }
        line.append(chunk);
    }
    ::close(fd);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

} // namespace

std::string DataFolder(const std::string& companionFolder)
{
    return ostrel::AppFiles::ForProgramFolder(companionFolder).ItemsFolder();
}

std::string ItemFilePath(const std::string& companionFolder, const std::string& itemName)
{
    return DataFolder(companionFolder) + itemName + std::string(kExtension);
}

std::vector<std::string> ListItems(const std::string& dataFolder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(dataFolder.c_str());
    if (!dir) {
        return names;
    }
    std::string folder = dataFolder;
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.empty() || name.front() == '.' || !HasItemExtension(name)) {
            continue;
        }
        struct stat info
        {
        };
        if (::stat((folder + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;
        }
        names.push_back(std::move(name));
    }
    ::closedir(dir);
    return names;
}

std::string FindItemFile(const std::string& dataFolder, const std::string& itemName)
{
    const std::string exact = itemName + std::string(kExtension);
    const std::vector<std::string> items = ListItems(dataFolder);
    if (std::find(items.begin(), items.end(), exact) != items.end()) {
        return exact;
    }
    for (const std::string& file : items) {
        if (ItemNameOf(file) == itemName) {
            return file;
        }
    }
    return exact;
}

std::string ItemNameOf(const std::string& fileName)
{
    return fileName.size() >= kExtension.size() ? fileName.substr(0, fileName.size() - kExtension.size())
                                                : std::string();
}

std::string ReadItemSummary(const std::string& path)
{
    std::string line = ReadFirstLine(path);
    return line.substr(0, line.find(','));
}

ItemFolders ReadItemFolders(const std::string& path)
{
    std::string line = ReadFirstLine(path);
    ItemFolders folders;
    std::size_t first = line.find('\t');
    folders.source = line.substr(0, first);
    if (first != std::string::npos) {
        std::size_t second = line.find('\t', first + 1);
        folders.target =
            line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    }
    return folders;
}

ItemNameProblem CheckItemName(const std::string& name)
{
    if (name.empty()) {
        return ItemNameProblem::Empty;
    }
    if (name == "." || name == "..") {
        return ItemNameProblem::DotName;
    }
    if (name.find('/') != std::string::npos) {
        return ItemNameProblem::Slash;
    }
    if (std::any_of(name.begin(), name.end(), [](char c) {
            auto byte = static_cast<unsigned char>(c);
            return byte < 0x20 || byte == 0x7F;
        })) {
        return ItemNameProblem::ControlCharacter;
    }
    if (name.front() == '.') {
        return ItemNameProblem::LeadingDot;
    }
    if (name.front() == ' ' || name.back() == ' ') {
        return ItemNameProblem::Blanks;
    }
    if (name.size() + kExtension.size() > kMaxFileName) {
        return ItemNameProblem::TooLong;
    }
    return ItemNameProblem::None;
}

std::string ItemNameMessage(const std::string& name, ItemNameProblem problem)
{
    switch (problem) {
    case ItemNameProblem::None:
        return {};
    case ItemNameProblem::Empty:
        return "アイテム名が未入力です";
    case ItemNameProblem::Slash:
        return name + "\r\nアイテム名に「/」は使えません";
    case ItemNameProblem::DotName:
        return name + "\r\nこのアイテム名は使えません";
    case ItemNameProblem::LeadingDot:
        return name + "\r\nアイテム名を「.」で始めることはできません";
    case ItemNameProblem::Blanks:
        return name + "\r\nアイテム名の前後に空白は使えません";
    case ItemNameProblem::ControlCharacter:
        return "アイテム名に改行や制御文字は使えません";
    case ItemNameProblem::TooLong:
        return "アイテム名が長すぎます";
    }
    return {};
}

int WriteItemFile(const std::string& companionFolder, const std::string& itemName, const ostrel::CopySet& set)
{
    if (CheckItemName(itemName) != ItemNameProblem::None || !ostrel::CanStoreCopySet(set)) {
        return EINVAL;
    }
    const std::string path = ItemFilePath(companionFolder, itemName);
    if (int error = ostrel::AppFiles::MakeFolderFor(path)) {
        return error;
    }
    std::string folder = DataFolder(companionFolder);
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        return errno;
    }
    // On a file system that ignores letter case this is the file "NAME.dat" names anyway.
    return ReplaceFile(folder + FindItemFile(folder, itemName), ostrel::FormatCopySets({set}));
}

int DeleteItemFile(const std::string& companionFolder, const std::string& fileName)
{
    if (fileName.empty() || fileName.find('/') != std::string::npos || fileName == "." || fileName == "..") {
        return EINVAL;
    }
    std::string path = DataFolder(companionFolder) + fileName;
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int ClampTop(int top)
{
    return std::clamp(top, -32768, 32767);
}

} // namespace brennick
