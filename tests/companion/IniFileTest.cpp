#include "TestTree.h"
#include "TmpfsMount.h"
#include "companion/core/modIniFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>

namespace brennick {
namespace {

using namespace std::string_literals;
using ostrel::test::IsRoot;
using ostrel::test::ReadFile;
using ostrel::test::ReadTree;
using ostrel::test::TempFolder;
using ostrel::test::Tree;
using ostrel::test::WriteFile;

struct StrCase
{
    const char* name;
    std::optional<std::string> file; // nothing: no settings file at all
    const char* section;
    const char* key;
    const char* defaultValue;
    std::string expected;
};

class IniStrTest : public ::testing::TestWithParam<StrCase>
{
};

TEST_P(IniStrTest, ReadsLikeTheProfileFunctions)
{
    const StrCase& c = GetParam();
    TempFolder temp;
    std::string ini = GetIniPath(temp.Path());
    if (c.file) {
        WriteFile(ini, *c.file);
    }
    EXPECT_EQ(GetIniStr(ini, c.section, c.key, c.defaultValue), c.expected);
}

const std::string k300(300, 'p');

INSTANTIATE_TEST_SUITE_P(
    Table, IniStrTest,
    ::testing::Values(
        StrCase{"MissingFile", std::nullopt, "Past", "text1", "dflt", "dflt"},
        StrCase{"MissingSection", "[Pos]\r\nleft=1\r\n", "Past", "text1", "dflt", "dflt"},
        StrCase{"MissingKey", "[Past]\r\ncom20=A\r\n", "Past", "text1", "dflt", "dflt"},
        StrCase{"EmptyValueIsEmptyNotDefault", "[Past]\r\ncom22=\r\n", "Past", "com22", "dflt", ""},
        StrCase{"Plain", "[Past]\r\ntext1=/opt/Parvane\r\n", "Past", "text1", "", "/opt/Parvane"},
        StrCase{"LetterCaseOfSectionAndKey", "[PAST]\r\nText1=/a\r\n", "past", "TEXT1", "", "/a"},
        StrCase{"BlanksAroundValueAndKey", "[Past]\r\n  text1 =  \t/a b/Parvane \t \r\n", "Past", "text1", "",
                "/a b/Parvane"},
        StrCase{"BlanksInsideBrackets", "[ Past ]\ncom21=Photos\n", "Past", "com21", "", "Photos"},
        StrCase{"LineFeedsOnly", "[Pos]\nleft=1\n[Past]\ncom29=Z\n", "Past", "com29", "", "Z"},
        StrCase{"NoFinalLineEnd", "[Past]\ncom29=Z", "Past", "com29", "", "Z"},
        StrCase{"ByteOrderMark", "\xEF\xBB\xBF[Past]\r\ntext1=/x\r\n", "Past", "text1", "", "/x"},
        StrCase{"KeyBeforeAnySection", "text1=/x\r\n[Past]\r\n", "Past", "text1", "d", "d"},
        StrCase{"KeyOfAnotherSection", "[Pos]\r\ntext1=/x\r\n[Past]\r\n", "Past", "text1", "d", "d"},
        StrCase{"KeyWithoutEquals", "[Past]\r\ntext1\r\n", "Past", "text1", "d", "d"},
        StrCase{"CommentIsNoKey", "[Past]\r\n;text1=/x\r\n", "Past", "text1", "d", "d"},
        StrCase{"FirstSectionOfANameCounts", "[Past]\r\na=1\r\n[Past]\r\ntext1=/x\r\n", "Past", "text1", "d",
                "d"},
        StrCase{"FirstKeyOfANameCounts", "[Past]\r\ntext1=/x\r\ntext1=/y\r\n", "Past", "text1", "", "/x"},
        StrCase{"EqualsInValue", "[Past]\r\ntext1=/a=b\r\n", "Past", "text1", "", "/a=b"},
        StrCase{"Japanese", "[Past]\r\ncom20=写真\r\n", "Past", "com20", "", "写真"},
        StrCase{"ValueOf300BytesIsCutTo255", "[Past]\r\ntext1=" + k300 + "\r\n", "Past", "text1", "",
                std::string(255, 'p')},
        StrCase{"ValueOf255BytesIsWhole", "[Past]\r\ntext1=" + std::string(255, 'q') + "\r\n", "Past",
                "text1", "", std::string(255, 'q')},
        StrCase{"DefaultOf300BytesIsCutToo", "", "Past", "text1", k300.c_str(), std::string(255, 'p')},
        // 253 bytes and a three-byte character make 256: the character goes whole.
        StrCase{"CutNeverSplitsACharacter", "[Past]\r\ntext1=" + std::string(253, 'a') + "あい\r\n", "Past",
                "text1", "", std::string(253, 'a')}),
    [](const ::testing::TestParamInfo<StrCase>& param) { return std::string(param.param.name); });

struct IntCase
{
    const char* name;
    std::optional<std::string> value; // nothing: the key is missing
    int defaultValue;
    int expected;
};

class IniIntTest : public ::testing::TestWithParam<IntCase>
{
};

TEST_P(IniIntTest, TakesTheLeadingInteger)
{
    const IntCase& c = GetParam();
    TempFolder temp;
    std::string ini = GetIniPath(temp.Path());
    WriteFile(ini, "[Pos]\r\n" + (c.value ? "top=" + *c.value + "\r\n" : std::string()));
    EXPECT_EQ(GetIniInt(ini, "Pos", "top", c.defaultValue), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniIntTest,
    ::testing::Values(
        IntCase{"Plain", "4000", 0, 4000}, IntCase{"MissingKeyGivesDefault", std::nullopt, 0, 0},
        IntCase{"MissingKeyGivesOtherDefault", std::nullopt, 4000, 4000},
        IntCase{"EmptyValueGivesDefault", "", 4000, 4000}, IntCase{"BlankValueGivesDefault", "   ", 7, 7},
        IntCase{"Negative", "-120", 4000, -120}, IntCase{"PlusSignIsNoNumber", "+35", 4000, 0},
        IntCase{"TrailingText", "12abc", 4000, 12}, IntCase{"NoDigits", "abc", 4000, 0},
        IntCase{"SignOnly", "-", 4000, 0}, IntCase{"DecimalPoint", "15.9", 0, 15},
        IntCase{"TooLarge", "99999999999", 0, INT_MAX}, IntCase{"TooSmall", "-99999999999", 0, INT_MIN},
        IntCase{"Smallest", "-2147483648", 0, INT_MIN}),
    [](const ::testing::TestParamInfo<IntCase>& param) { return std::string(param.param.name); });

TEST(IniIntFileTest, MissingFileGivesDefault)
{
    TempFolder temp;
    EXPECT_EQ(GetIniInt(GetIniPath(temp.Path()), "Past", "check2", 1), 1);
    EXPECT_EQ(GetIniInt(GetIniPath(temp.Path()), "Past", "check2", 0), 0);
}

struct SetCase
{
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

class IniSetTest : public ::testing::TestWithParam<SetCase>
{
};

TEST_P(IniSetTest, ChangesOnlyWhatItMust)
{
    const SetCase& c = GetParam();
    std::optional<std::string> after = SetIniValue(c.before, c.section, c.key, c.value);
    ASSERT_TRUE(after);
    EXPECT_EQ(*after, c.after);
    // What was written reads back.
    EXPECT_EQ(FindIniValue(*after, c.section, c.key), std::string(c.value));
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniSetTest,
    ::testing::Values(
        SetCase{"NewFile", "", "Pos", "left", "4000", "[Pos]\r\nleft=4000\r\n"},
        SetCase{"ReplaceInPlaceKeepingCommentsAndOrder",
                "; Brennick\r\n[Past]\r\ntext1=/old\r\n; bound "
                "items\r\ncom20=A\r\ncom21=B\r\n\r\n[Pos]\r\nleft=1\r\n",
                "Past", "com20", "Photos",
                "; Brennick\r\n[Past]\r\ntext1=/old\r\n; bound "
                "items\r\ncom20=Photos\r\ncom21=B\r\n\r\n[Pos]\r\nleft=1\r\n"},
        SetCase{"ReplaceFoundWhateverTheCase", "[PAST]\nCom20 = A\nx=1\n", "Past", "com20", "B",
                "[PAST]\nCom20 =B\nx=1\n"},
        SetCase{"ReplaceLastLineWithoutLineEnd", "[Pos]\r\nleft=1", "Pos", "left", "-15",
                "[Pos]\r\nleft=-15"},
        SetCase{"ReplaceWithEmpty", "[Past]\r\ncom22=Old\r\n", "Past", "com22", "", "[Past]\r\ncom22=\r\n"},
        SetCase{"KeyWithoutEqualsGetsOne", "[Past]\ncheck2\n", "Past", "check2", "1", "[Past]\ncheck2=1\n"},
        SetCase{"NewKeyAtTheEndOfItsSection", "[Past]\r\ntext1=a\r\n\r\n[Pos]\r\nleft=1\r\n", "Past",
                "check1", "0", "[Past]\r\ntext1=a\r\ncheck1=0\r\n\r\n[Pos]\r\nleft=1\r\n"},
        SetCase{"NewKeyInTheLastSection", "[Past]\r\ntext1=a\r\n[Pos]\r\nleft=1\r\n", "Pos", "top", "2",
                "[Past]\r\ntext1=a\r\n[Pos]\r\nleft=1\r\ntop=2\r\n"},
        SetCase{"NewKeyInSectionWithoutLineEnd", "[Pos]", "Pos", "top", "2", "[Pos]\r\ntop=2\r\n"},
        SetCase{"NewSectionKeepsTheFilesLineEnds", "[Past]\ntext1=a", "Pos", "top", "5",
                "[Past]\ntext1=a\n[Pos]\ntop=5\n"},
        SetCase{"OnlyTheFirstSectionOfANameIsChanged", "[Pos]\r\nleft=1\r\n[Pos]\r\nleft=2\r\n", "Pos",
                "left", "3", "[Pos]\r\nleft=3\r\n[Pos]\r\nleft=2\r\n"},
        SetCase{"ValueWithEqualsAndBlanksInside", "", "Past", "text1", "/a b/c=d",
                "[Past]\r\ntext1=/a b/c=d\r\n"},
        // The readers skip a byte-order mark, so the section right after it is the one to change.
        SetCase{"ByteOrderMarkStaysAndItsSectionIsReplacedIn", "\xEF\xBB\xBF[Past]\r\ntext1=/old\r\n", "Past",
                "text1", "/x", "\xEF\xBB\xBF[Past]\r\ntext1=/x\r\n"},
        SetCase{"ByteOrderMarkStaysAndItsSectionGetsTheNewKey", "\xEF\xBB\xBF[Past]\r\ntext1=/old\r\n",
                "Past", "com20", "A", "\xEF\xBB\xBF[Past]\r\ntext1=/old\r\ncom20=A\r\n"},
        // A file that stops after the CR of its last line: a new line must not run on in that one.
        SetCase{"NewSectionAfterALoneCrAtTheEnd", "[Past]\r\ntext1=a\r", "Pos", "top", "5",
                "[Past]\r\ntext1=a\r\n[Pos]\r\ntop=5\r\n"},
        SetCase{"NewKeyAfterALoneCrAtTheEnd", "[Pos]\nleft=1\r", "Pos", "top", "2",
                "[Pos]\nleft=1\r\ntop=2\n"},
        SetCase{"OnlyLineEndIsALoneCr", "[Pos]\r", "Pos", "top", "2", "[Pos]\r\ntop=2\r\n"},
        SetCase{"ByteOrderMarkAlone", "\xEF\xBB\xBF", "Pos", "top", "1", "\xEF\xBB\xBF[Pos]\r\ntop=1\r\n"}),
    [](const ::testing::TestParamInfo<SetCase>& param) { return std::string(param.param.name); });

TEST(IniSetRefusalTest, NamesAndValuesThatWouldBreakTheLineFormat)
{
    const std::string text = "[Past]\r\ntext1=/a\r\n";
    EXPECT_FALSE(SetIniValue(text, "Past", "text1", "/a\nb"));
    EXPECT_FALSE(SetIniValue(text, "Past", "text1", "/a\rb"));
    EXPECT_FALSE(SetIniValue(text, "Past", "text1", std::string_view("/a\0b", 4)));
    EXPECT_FALSE(SetIniValue(text, "Past", "te=xt1", "v"));
    EXPECT_FALSE(SetIniValue(text, "Past", "", "v"));
    EXPECT_FALSE(SetIniValue(text, "Past", " text1", "v"));
    EXPECT_FALSE(SetIniValue(text, "Past", "[x", "v"));
    EXPECT_FALSE(SetIniValue(text, "Past", ";x", "v"));
    EXPECT_FALSE(SetIniValue(text, "Pa]st", "text1", "v"));
    EXPECT_FALSE(SetIniValue(text, "", "text1", "v"));
}

TEST(PutIniStrTest, CreatesTheFileOnTheFirstWriteAndReadsItBack)
{
    TempFolder temp;
    std::string ini = GetIniPath(temp.Path());
    EXPECT_TRUE(PutIniStr(ini, "Past", "text1", "/opt/my tools/Parvane"));
    EXPECT_TRUE(PutIniStr(ini, "Past", "check2", "1"));
    EXPECT_TRUE(PutIniStr(ini, "Pos", "top", "-30"));
    EXPECT_TRUE(PutIniStr(ini, "Past", "text1", "/usr/bin/Parvane"));
    EXPECT_EQ(ReadFile(ini), "[Past]\r\ntext1=/usr/bin/Parvane\r\ncheck2=1\r\n[Pos]\r\ntop=-30\r\n");
    EXPECT_EQ(GetIniInt(ini, "Pos", "top", 4000), -30);
    // No temporary file is left beside it.
    EXPECT_EQ(ReadTree(temp.Path()), (Tree{{"iniBK.ini", ReadFile(ini)}}));
}

TEST(PutIniStrTest, ReplacesTheFileThroughARenameAndKeepsItsMode)
{
    TempFolder temp;
    std::string ini = GetIniPath(temp.Path());
    WriteFile(ini, "[Past]\r\ntext1=/a\r\n");
    ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
    struct stat before
    {
    };
    ASSERT_EQ(::stat(ini.c_str(), &before), 0);
    ASSERT_TRUE(PutIniStr(ini, "Past", "text1", "/b"));
    struct stat after
    {
    };
    ASSERT_EQ(::stat(ini.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "the file was rewritten in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFile(ini), "[Past]\r\ntext1=/b\r\n");
}

TEST(PutIniStrTest, FailuresWriteNothing)
{
    TempFolder temp;
    std::string ini = GetIniPath(temp.Path());
    const std::string text = "[Past]\r\ntext1=/a\r\n";
    WriteFile(ini, text);

    EXPECT_FALSE(PutIniStr(ini, "Past", "text1", "/a\r\n[Evil]"));
    EXPECT_EQ(ReadFile(ini), text);

    // A read-only settings file is refused, as the platform's own calls refuse it, even for root.
    ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
    EXPECT_FALSE(PutIniStr(ini, "Past", "text1", "/b"));
    EXPECT_EQ(ReadFile(ini), text);
    EXPECT_EQ(GetIniStr(ini, "Past", "text1", ""), "/a");

    // A folder where the file should be: nothing to read, nothing written.
    std::string blocked = temp / "blocked/iniBK.ini";
    ASSERT_EQ(::mkdir((temp / "blocked").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir(blocked.c_str(), 0777), 0);
    EXPECT_FALSE(PutIniStr(blocked, "Past", "text1", "/b"));
    EXPECT_EQ(GetIniStr(blocked, "Past", "text1", "d"), "d");

    // A missing folder.
    EXPECT_FALSE(PutIniStr(temp / "missing/iniBK.ini", "Past", "text1", "/b"));
}

// A settings file full of garbage reads as missing values, and a value stored into it is added
// without losing a byte of what was there.
TEST(IniGarbageTest, GivesDefaultsAndKeepsEveryByteWhenWritten)
{
    std::mt19937 random(1200);
    std::string noise;
    for (int i = 0; i < 64 * 1024; ++i) {
        noise.push_back(static_cast<char>(random() & 0xff));
    }
    const struct
    {
        const char* name;
        std::string content;
    } cases[] = {
        {"random bytes", noise},
        {"NUL bytes only", std::string(4096, '\0')},
        {"a 10 MB line", std::string(10 * 1024 * 1024, '[')},
        {"broken sections", "[Past\r\n]text1=/x\r\n[[Pos]]\r\nleft\r\n=\r\n\xff\xfe[Past]\0\r\n"s},
        {"invalid UTF-8 names", "[P\xe4st]\r\nt\xe9xt1=/x\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder temp;
        std::string ini = GetIniPath(temp.Path());
        WriteFile(ini, c.content);
        EXPECT_EQ(GetIniInt(ini, "Pos", "left", 4000), 4000);
        EXPECT_EQ(GetIniInt(ini, "Past", "check2", 1), 1);
        EXPECT_EQ(GetIniStr(ini, "Past", "text1", "none"), "none");
        EXPECT_EQ(GetIniStr(ini, "Past", "com20", ""), "");

        ASSERT_TRUE(PutIniStr(ini, "Past", "text1", "/opt/Parvane"));
        EXPECT_EQ(GetIniStr(ini, "Past", "text1", ""), "/opt/Parvane");
        std::string after = ReadFile(ini);
        EXPECT_TRUE(after.starts_with(c.content)) << "what the file held was changed";
        EXPECT_EQ(ReadTree(temp.Path()).size(), 1u);
    }
}

// A FIFO where the settings file should be can't be read; it gives defaults without waiting for a
// writer, and nothing is written over it.
TEST(IniUnreadableTest, AFifoGivesDefaultsWithoutBlocking)
{
    TempFolder temp;
    std::string ini = GetIniPath(temp.Path());
    ASSERT_EQ(::mkfifo(ini.c_str(), 0644), 0);
    auto result = std::make_shared<std::promise<std::string>>();
    std::future<std::string> done = result->get_future();
    // Detached, so a read that blocks fails this test instead of hanging the whole run.
    std::thread([ini, result] {
        std::string outcome = std::to_string(GetIniInt(ini, "Pos", "left", 4000)) + " "
            + GetIniStr(ini, "Past", "text1", "none") + " "
            + (PutIniStr(ini, "Past", "text1", "/opt/Parvane") ? "stored" : "refused");
        result->set_value(outcome);
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(done.get(), "4000 none refused");
    struct stat info
    {
    };
    ASSERT_EQ(::lstat(ini.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// A settings file on a file system mounted read-only: its values are read, and storing fails
// cleanly, leaving the file as it was and nothing beside it.
TEST(IniReadOnlyTest, ReadsAndRefusesToStoreOnAReadOnlyFileSystem)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    TempFolder temp;
    std::string folder = temp / "stick";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ostrel::test::TmpfsMount mount(folder, "64k");
    if (!mount.Mounted()) {
        GTEST_SKIP() << "tmpfs can't be mounted here: " << std::strerror(mount.Error());
    }
    std::string ini = GetIniPath(folder);
    const std::string text = "[Past]\r\ntext1=/opt/Parvane\r\n[Pos]\r\nleft=1500\r\n";
    WriteFile(ini, text);
    ASSERT_EQ(::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
        << std::strerror(errno);

    EXPECT_EQ(GetIniStr(ini, "Past", "text1", ""), "/opt/Parvane");
    EXPECT_EQ(GetIniInt(ini, "Pos", "left", 4000), 1500);
    EXPECT_FALSE(PutIniStr(ini, "Pos", "left", "3000"));
    EXPECT_FALSE(PutIniStr(ini, "Past", "com20", "Photos"));
    EXPECT_EQ(ReadTree(folder), (Tree{{"iniBK.ini", text}}));
}

} // namespace
} // namespace brennick
