#include "companion/core/Items.h"
#include "TestTree.h"
#include "companion/core/DesktopShortcut.h"
#include "companion/core/modSpecialFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace brennick {
namespace {

using ostrel::CopySet;
using ostrel::test::MakeTree;
using ostrel::test::ReadFile;
using ostrel::test::ReadTree;
using ostrel::test::TempFolder;
using ostrel::test::Tree;
using ostrel::test::WriteFile;

struct NameCase
{
    const char* label;
    std::string name;
    ItemNameProblem expected;
};

class ItemNameTest : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(ItemNameTest, OnlyPlainFileNamesAreItemNames)
{
    const NameCase& c = GetParam();
    EXPECT_EQ(CheckItemName(c.name), c.expected);
    // A refused name always comes with a message, a usable one never.
    EXPECT_EQ(ItemNameMessage(c.name, CheckItemName(c.name)).empty(), c.expected == ItemNameProblem::None);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ItemNameTest,
    ::testing::Values(NameCase{"Plain", "Home", ItemNameProblem::None},
                      NameCase{"Japanese", "写真 バックアップ", ItemNameProblem::None},
                      NameCase{"InnerDots", "a.b..c", ItemNameProblem::None},
                      NameCase{"EndsInDat", "Home.dat", ItemNameProblem::None},
                      NameCase{"Empty", "", ItemNameProblem::Empty},
                      NameCase{"Slash", "a/b", ItemNameProblem::Slash},
                      NameCase{"OnlySlash", "/", ItemNameProblem::Slash},
                      NameCase{"ClimbsOut", "../../etc/passwd", ItemNameProblem::Slash},
                      NameCase{"Dot", ".", ItemNameProblem::DotName},
                      NameCase{"DotDot", "..", ItemNameProblem::DotName},
                      NameCase{"Hidden", ".hidden", ItemNameProblem::LeadingDot},
                      NameCase{"LeadingBlank", " Home", ItemNameProblem::Blanks},
                      NameCase{"TrailingBlank", "Home ", ItemNameProblem::Blanks},
                      NameCase{"LineFeed", "a\nb", ItemNameProblem::ControlCharacter},
                      NameCase{"Tab", "a\tb", ItemNameProblem::ControlCharacter},
                      NameCase{"Delete", "a\x7F", ItemNameProblem::ControlCharacter},
                      NameCase{"LongestThatFits", std::string(251, 'n'), ItemNameProblem::None},
                      NameCase{"TooLong", std::string(252, 'n'), ItemNameProblem::TooLong}),
    [](const ::testing::TestParamInfo<NameCase>& param) { return std::string(param.param.label); });

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ListItemsTest, ListsPlainDatFilesInAnyLetterCase)
{
    TempFolder temp;
    std::string data = DataFolder(temp.Path());
    MakeTree(data,
             {{"Photos.dat", "p"},
              {"Home.dat", "h"},
              {"notes.txt", "n"},
              {"UPPER.DAT", "u"},
              {"Mixed.Dat", "m"},
              {"b\xE9.dat", "not UTF-8"},
              {".hidden.dat", "x"},
              {"folder.dat/", ""},
              {"link.dat@", "Home.dat"},
              {"dangling.dat@", "missing.dat"},
              {"dat", "x"}});
    ASSERT_EQ(::mkfifo((data + "fifo.dat").c_str(), 0644), 0);
    EXPECT_EQ(Sorted(ListItems(data)),
              (std::vector<std::string>{"Home.dat", "Mixed.Dat", "Photos.dat", "UPPER.DAT", "b\xE9.dat",
                                        "link.dat"}));
    EXPECT_EQ(ListItems(temp / "missing/"), std::vector<std::string>{});
    EXPECT_EQ(ItemNameOf("Photos.dat"), "Photos");
    EXPECT_EQ(ItemNameOf("UPPER.DAT"), "UPPER");
}

TEST(ListItemsTest, KeepsTheOrderOfTheFileSystem)
{
    TempFolder temp;
    std::string data = DataFolder(temp.Path());
    MakeTree(data, {});
    // Made in reverse order, so that neither creation order nor a hashed order is the sorted one.
    for (char c = 'z'; c >= 'a'; --c) {
        WriteFile(data + c + "-item.dat", "");
    }
    std::vector<std::string> listed;
    DIR* dir = ::opendir(data.c_str());
    ASSERT_NE(dir, nullptr);
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            listed.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    EXPECT_EQ(ListItems(data), listed);
}

TEST(FindItemFileTest, TheListedFileOfAName)
{
    TempFolder temp;
    std::string data = DataFolder(temp.Path());
    MakeTree(data, {{"Up.DAT", ""}, {"Both.dat", ""}, {"Both.DAT", ""}, {"b\xE9.dat", ""}});
    EXPECT_EQ(FindItemFile(data, "Up"), "Up.DAT");
    EXPECT_EQ(FindItemFile(data, "Both"), "Both.dat");
    EXPECT_EQ(FindItemFile(data, "b\xE9"), "b\xE9.dat");
    EXPECT_EQ(FindItemFile(data, "Gone"), "Gone.dat");
    EXPECT_EQ(FindItemFile(data, "up"), "up.dat") << "the name's own letter case counts";

    // Writing the item replaces the file the name lists as, rather than making a second one.
    ASSERT_EQ(WriteItemFile(temp.Path(), "Up", CopySet{"/a", "/b", "", ""}), 0);
    EXPECT_EQ(ReadTree(data),
              (Tree{{"Up.DAT", "/a\t/b\t\t\r\n"}, {"Both.dat", ""}, {"Both.DAT", ""}, {"b\xE9.dat", ""}}));
}

struct SummaryCase
{
    const char* name;
    std::string content;
    std::string summary;
    ItemFolders folders;
};

class ItemSummaryTest : public ::testing::TestWithParam<SummaryCase>
{
};

TEST_P(ItemSummaryTest, ReadsTheFirstLine)
{
    TempFolder temp;
    std::string path = temp / "x.dat";
    WriteFile(path, GetParam().content);
    EXPECT_EQ(ReadItemSummary(path), GetParam().summary);
    EXPECT_EQ(ReadItemFolders(path), GetParam().folders);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ItemSummaryTest,
    ::testing::Values(
        SummaryCase{"WrittenByTheSetUpWindow", "/d\t/e\t\tUSB1\r\n", "/d\t/e\t\tUSB1", {"/d", "/e"}},
        SummaryCase{"OnlyTheFirstLine", "/a\t/b\t \t\r\n/c\t/d\t \t\r\n", "/a\t/b\t \t", {"/a", "/b"}},
        SummaryCase{"CommaCutsTheSummaryButNotTheFolders", "/a,1\t/b,2\t\t\r\n", "/a", {"/a,1", "/b,2"}},
        SummaryCase{"NoTab", "just text\n", "just text", {"just text", ""}},
        SummaryCase{"OneTab", "/a\t/b", "/a\t/b", {"/a", "/b"}}, SummaryCase{"Empty", "", "", {"", ""}},
        SummaryCase{"EmptyFirstLine", "\r\n/a\t/b\r\n", "", {"", ""}}),
    [](const ::testing::TestParamInfo<SummaryCase>& param) { return std::string(param.param.name); });

TEST(ItemSummaryTest, UnreadableFilesHaveAnEmptySummary)
{
    TempFolder temp;
    MakeTree(temp.Path(), {{"folder.dat/", ""}});
    EXPECT_EQ(ReadItemSummary(temp / "folder.dat"), "");
    EXPECT_EQ(ReadItemSummary(temp / "missing.dat"), "");
    ASSERT_EQ(::mkfifo((temp / "fifo.dat").c_str(), 0644), 0);
    EXPECT_EQ(ReadItemSummary(temp / "fifo.dat"), "") << "a FIFO must not block the listing";
}

TEST(WriteItemFileTest, WritesExactlyOneLineAndCreatesTheDataFolder)
{
    TempFolder temp;
    ASSERT_EQ(WriteItemFile(temp.Path(), "Home", CopySet{"/src dir", "/media/u/USB1/Backup", "", "USB1"}), 0);
    EXPECT_EQ(ReadTree(temp.Path()),
              (Tree{{"DATA/", ""}, {"DATA/Home.dat", "/src dir\t/media/u/USB1/Backup\t\tUSB1\r\n"}}));

    // An existing item is replaced whole, without a volume name this time.
    WriteFile(temp / "DATA/Home.dat", "old line one\r\nold line two\r\n");
    ASSERT_EQ(WriteItemFile(temp.Path(), "Home", CopySet{"/a", "/b", "", ""}), 0);
    EXPECT_EQ(ReadFile(temp / "DATA/Home.dat"), "/a\t/b\t\t\r\n");
}

TEST(WriteItemFileTest, NothingIsWrittenOutsideData)
{
    TempFolder temp;
    std::string companion = temp / "companion";
    MakeTree(companion, {{"DATA/", ""}});
    WriteFile(temp / "outside.dat", "keep");
    for (const std::string name : {"../outside", "a/b", ".", "..", "", ".hidden", "a\nb"}) {
        EXPECT_EQ(WriteItemFile(companion, name, CopySet{"/a", "/b", "", ""}), EINVAL) << name;
    }
    // A link in DATA that points outside is replaced itself; its target is left alone.
    ASSERT_EQ(::symlink((temp / "outside.dat").c_str(), (companion + "/DATA/Link.dat").c_str()), 0);
    ASSERT_EQ(WriteItemFile(companion, "Link", CopySet{"/a", "/b", "", ""}), 0);
    EXPECT_EQ(ReadFile(temp / "outside.dat"), "keep");
    EXPECT_EQ(ReadTree(companion), (Tree{{"DATA/", ""}, {"DATA/Link.dat", "/a\t/b\t\t\r\n"}}));
}

TEST(WriteItemFileTest, RefusesWhatCannotBeStoredOrWritten)
{
    TempFolder temp;
    EXPECT_EQ(WriteItemFile(temp.Path(), "Tab", CopySet{"/a\tb", "/c", "", ""}), EINVAL);
    EXPECT_EQ(WriteItemFile(temp.Path(), "Lf", CopySet{"/a", "/c\nd", "", ""}), EINVAL);
    EXPECT_EQ(ReadTree(temp.Path()), Tree{});

    WriteFile(temp / "DATA/Locked.dat", "locked\r\n");
    ASSERT_EQ(::chmod((temp / "DATA/Locked.dat").c_str(), 0444), 0);
    EXPECT_EQ(WriteItemFile(temp.Path(), "Locked", CopySet{"/a", "/b", "", ""}), EACCES);
    EXPECT_EQ(ReadFile(temp / "DATA/Locked.dat"), "locked\r\n");

    // DATA is a file: the folder can't be made, and nothing is written in its place.
    TempFolder other;
    WriteFile(other / "DATA", "not a folder");
    EXPECT_NE(WriteItemFile(other.Path(), "Home", CopySet{"/a", "/b", "", ""}), 0);
    EXPECT_EQ(ReadTree(other.Path()), (Tree{{"DATA", "not a folder"}}));
}

TEST(DeleteItemFileTest, DeletesOnlyInsideData)
{
    TempFolder temp;
    MakeTree(temp.Path(), {{"DATA/Home.dat", "h"}, {"DATA/Other.dat", "o"}, {"keep.dat", "k"}});
    EXPECT_EQ(DeleteItemFile(temp.Path(), "Home.dat"), 0);
    EXPECT_EQ(DeleteItemFile(temp.Path(), "../keep.dat"), EINVAL);
    EXPECT_EQ(DeleteItemFile(temp.Path(), "Home.dat"), ENOENT);
    EXPECT_EQ(ReadTree(temp.Path()), (Tree{{"DATA/", ""}, {"DATA/Other.dat", "o"}, {"keep.dat", "k"}}));
}

TEST(ClampTopTest, HeldToSixteenBits)
{
    const std::pair<int, int> cases[] = {
        {4000, 4000},     {-120, -120},     {32767, 32767},  {32768, 32767},
        {-32768, -32768}, {-32769, -32768}, {100000, 32767}, {-2147483647 - 1, -32768}};
    for (auto [top, expected] : cases) {
        EXPECT_EQ(ClampTop(top), expected) << top;
    }
}

TEST(DesktopEntryTest, TheProgramIsOneQuotedArgument)
{
    EXPECT_EQ(DesktopEntryText("/opt/Brennick"),
              "[Desktop Entry]\nType=Application\nName=Brennick\nExec=\"/opt/Brennick\"\n");
    const std::pair<std::string, std::string> cases[] = {
        {"/media/u/my stick/Brennick", "Exec=\"/media/u/my stick/Brennick\""},
        {"/a\"b/Brennick", "Exec=\"/a\\\\\"b/Brennick\""},
        {"/a$b`c/Brennick", "Exec=\"/a\\\\$b\\\\`c/Brennick\""},
        {"/100%/Brennick", "Exec=\"/100%%/Brennick\""},
        {"/a\\b/Brennick", "Exec=\"/a\\\\\\\\b/Brennick\""},
    };
    for (const auto& [path, exec] : cases) {
        EXPECT_NE(DesktopEntryText(path).find("\n" + exec + "\n"), std::string::npos)
            << DesktopEntryText(path);
    }
}

TEST(DesktopShortcutTest, CreatedRunnableAndRemoved)
{
    TempFolder temp;
    std::string desktop = temp / "Desktop";
    MakeTree(desktop, {{"Brennick.desktop", "old"}});
    ASSERT_EQ(CreateShortcut(desktop, temp / "stick"), 0);
    EXPECT_EQ(ReadFile(desktop + "/Brennick.desktop"), DesktopEntryText(temp / "stick/Brennick"));
    struct stat info
    {
    };
    ASSERT_EQ(::stat((desktop + "/Brennick.desktop").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u) << "the run bit is not set";

    EXPECT_EQ(RemoveShortcut(desktop), 0);
    EXPECT_EQ(ReadTree(desktop), Tree{});
    EXPECT_EQ(RemoveShortcut(desktop), ENOENT);
    EXPECT_NE(CreateShortcut("", temp / "stick"), 0);
}

// Points HOME and XDG_CONFIG_HOME at a temporary folder for one test.
class DesktopPathTest : public ::testing::Test
{
protected:
    DesktopPathTest()
    {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("HOME", m_temp.Path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_temp / "config").c_str(), 1);
    }
    ~DesktopPathTest() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

    TempFolder m_temp;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(DesktopPathTest, OnlyAnExistingDesktopFolder)
{
    EXPECT_EQ(GetDesktopPath(), "");
    EXPECT_EQ(ReadTree(m_temp.Path()), Tree{}) << "the desktop folder was created";
    MakeTree(m_temp / "Desktop", {});
    EXPECT_EQ(GetDesktopPath(), m_temp / "Desktop");
    WriteFile(m_temp / "config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(GetDesktopPath(), "");
    MakeTree(m_temp / "Schreibtisch", {});
    EXPECT_EQ(GetDesktopPath(), m_temp / "Schreibtisch");
}

} // namespace
} // namespace brennick
