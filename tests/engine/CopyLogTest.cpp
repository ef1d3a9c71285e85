#include "engine/CopyLog.h"
#include "TestTree.h"
#include "platform/PosixFileSystem.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace ostrel::test {
namespace {

DosTime Dos(int year, int month, int day, int hour, int minute, int second)
{
    auto date = static_cast<DosTime>(((year - 1980) << 9) | (month << 5) | day);
    auto clock = static_cast<DosTime>((hour << 11) | (minute << 5) | (second / 2));
    return (date << 16) | clock;
}

TEST(CopyLog, FormatsFileTimes)
{
    const struct
    {
        DosTime time;
        const char* text;
    } cases[] = {
        {Dos(2002, 12, 8, 9, 5, 30), "2002/12/08 9:05:30"},
        {Dos(2002, 12, 7, 18, 22, 10), "2002/12/07 18:22:10"},
        {Dos(2002, 12, 8, 0, 0, 0), "2002/12/08"},
        {Dos(2002, 12, 8, 0, 0, 2), "2002/12/08 0:00:02"},
        {Dos(1980, 1, 1, 0, 1, 0), "1980/01/01 0:01:00"},
        {Dos(2107, 12, 31, 23, 59, 58), "2107/12/31 23:59:58"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CopyLog::FormatFileTime(c.time), c.text);
    }
}

TEST(CopyLog, EveryLineEndsWithCrLfAndIsWrittenAtOnce)
{
    TempFolder temp;
    std::string path = temp / "velmor.log";
    PosixFileSystem fs;
    CopyLog log(fs);
    log.Open(path, true);
    log.WriteCopyLine("/src/a b.txt", Dos(2002, 12, 8, 9, 5, 30), "追加コピー");
    EXPECT_EQ(ReadFile(path), "/src/a b.txt (2002/12/08 9:05:30)  追加コピー\r\n");
    log.WriteDeleteLine("/dst/old/", "フォルダ削除");
    log.WriteCopyLine("/src/gone", std::nullopt, "追加コピー【失敗】");
    log.Close();
    const std::string expected =
        "/src/a b.txt (2002/12/08 9:05:30)  追加コピー\r\n/dst/old/  フォルダ削除\r\n"
        "/src/gone ()  追加コピー【失敗】\r\n";
    EXPECT_EQ(ReadFile(path), expected);

    log.Open(path, false);
    log.WriteLine("");
    log.Close();
    EXPECT_EQ(ReadFile(path), expected + "\r\n");

    log.Open(path, true);
    log.Close();
    EXPECT_EQ(ReadFile(path), "");
}

// Linux names may hold CR and LF; in the log they show as symbols and never end a line.
TEST(CopyLog, LineBreaksInsideAPathNeverBreakTheLine)
{
    struct Case
    {
        std::string path;
        std::string logged;
    };
    const Case cases[] = {
        {"/src/plain", "/src/plain"},  {"/src/a\nb", "/src/a␊b"},
        {"/src/a\rb", "/src/a␍b"},     {"/src/\r\n\n\r", "/src/␍␊␊␍"},
        {"/src/dir\n/", "/src/dir␊/"}, {"/src/tab\tand \\n stay", "/src/tab\tand \\n stay"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TempFolder temp;
        std::string path = temp / "velmor.log";
        PosixFileSystem fs;
        CopyLog log(fs);
        log.Open(path, true);
        log.WriteCopyLine(c.path, Dos(2002, 12, 8, 9, 5, 30), "追加コピー");
        log.WriteDeleteLine(c.path, "削除");
        log.WriteSummary(c.path, c.path, PassCounters{});
        log.Close();
        const std::string text = ReadFile(path);
        EXPECT_TRUE(
            text.starts_with(c.logged + " (2002/12/08 9:05:30)  追加コピー\r\n" + c.logged + "  削除\r\n"))
            << text;
        EXPECT_NE(text.find("\r\n" + c.logged + " --> " + c.logged + "\r\n"), std::string::npos) << text;
        // Every CR is the start of a line end, every LF its end.
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                EXPECT_EQ(text[i + 1], '\n') << i;
            } else if (text[i] == '\n') {
                EXPECT_EQ(text[i - 1], '\r') << i;
            }
        }
    }
}

TEST(CopyLog, ReportsAFolderThatCannotHoldIt)
{
    TempFolder temp;
    PosixFileSystem fs;
    CopyLog log(fs);
    try {
        log.Open(temp / "missing/velmor.log", true);
        FAIL() << "opened a log in a missing folder";
    } catch (const CopyLogError& error) {
        EXPECT_EQ(error.Error(), ENOENT);
    }
}

} // namespace
} // namespace ostrel::test
