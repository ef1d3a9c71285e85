#include "platform/PathText.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

struct SplitCase
{
    const char* path;
    const char* withDelimiter;
    const char* withoutDelimiter;
    const char* name;
    const char* folder;
};

TEST(PathText, SplitsAtTheLastDelimiter)
{
    const SplitCase cases[] = {
        {"/data/a.txt", "/data/a.txt/", "/data/a.txt", "a.txt", "/data/"},
        {"/data/sub/", "/data/sub/", "/data/sub", "", "/data/sub/"},
        {"/", "/", "/", "", "/"},
        {"name", "name/", "name", "name", ""},
        {"", "/", "", "", ""},
        {"/データ/ファイル", "/データ/ファイル/", "/データ/ファイル", "ファイル", "/データ/"},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(AppendDelimiter(c.path), c.withDelimiter);
        EXPECT_EQ(RemoveDelimiter(c.path), c.withoutDelimiter);
        EXPECT_EQ(ExtractName(c.path), c.name);
        EXPECT_EQ(ExtractFolder(c.path), c.folder);
    }
}

struct ShortenCase
{
    const char* path;
    int maxWidth; // in bytes: the measure below gives one pixel a byte
    const char* drive;
    const char* expected;
};

TEST(PathText, ShortensFolderNamesFromTheLeft)
{
    const ShortenCase cases[] = {
        {"/data/sub/file.txt", 100, "", "/data/sub/file.txt"},
        {"/data/sub/file.txt", 17, "", "/.../sub/file.txt"},
        {"/data/sub/file.txt", 16, "", "/.../file.txt"},
        {"/data/sub/file.txt", 12, "", ".../file.txt"},
        {"/data/sub/file.txt", 11, "", "file.txt"},
        {"/data/sub/file.txt", 3, "", "file.txt"},
        {"/media/usb/a/b/c/file", 21, "/media/usb/", "/media/usb/a/b/c/file"},
        {"/media/usb/alpha/b/c/file", 23, "/media/usb/", "/media/usb/.../b/c/file"},
        {"/media/usb/a/b/c/file", 20, "/media/usb/", "/media/usb/.../file"},
        {"/media/usb/a/b/c/file", 18, "/media/usb/", ".../file"},
        {"/media/usb/a/b/c/file", 7, "/media/usb/", "file"},
        {"/other/a/b/file", 12, "/media/usb/", "/.../b/file"},
        {"/media/usb/abcdef", 16, "/media/usb/", ".../abcdef"},
        {"/media/usb/abcdef", 17, "/media/usb/", "/media/usb/abcdef"},
    };
    auto bytes = [](const std::string& text) { return static_cast<int>(text.size()); };
    for (const ShortenCase& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + std::to_string(c.maxWidth));
        EXPECT_EQ(ShortenPath(c.path, c.maxWidth, bytes, c.drive), c.expected);
    }
}

} // namespace
} // namespace ostrel
