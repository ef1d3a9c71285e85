#include "companion/core/LogFields.h"
#include "TestTree.h"

#include <gtest/gtest.h>

namespace brennick {
namespace {

using Fields = std::vector<std::string>;

struct FieldCase
{
    const char* name;
    std::string text;
    Fields expected;
};

class LogFieldsTest : public ::testing::TestWithParam<FieldCase>
{
};

TEST_P(LogFieldsTest, SplitsFieldByField)
{
    EXPECT_EQ(ReadLogFields(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogFieldsTest,
    ::testing::Values(
        FieldCase{"Empty", "", {}},
        FieldCase{"OneLine",
                  "/d/a.txt (2002/12/08 9:05:30)  追加コピー\r\n",
                  {"/d/a.txt (2002/12/08 9:05:30)  追加コピー"}},
        FieldCase{"CommasSplitEntries",
                  "/d/a,b.txt (2002/12/08)  追加コピー\r\n",
                  {"/d/a", "b.txt (2002/12/08)  追加コピー"}},
        FieldCase{"KCommasGiveKPlusOne", "a,b,,c\r\n", {"a", "b", "", "c"}},
        FieldCase{"CommaAtTheEndOfALine", "a,\r\nb\r\n", {"a", "", "b"}},
        FieldCase{"CommaAtTheVeryEnd", "a,", {"a", ""}},
        FieldCase{"LeadingBlanksAreDropped", "   indented\r\n\t x, y\r\n", {"indented", "x", "y"}},
        FieldCase{
            "BlanksInsideAndAtTheEndStay", "コピーファイル総数  ： 2 \r\n", {"コピーファイル総数  ： 2 "}},
        FieldCase{"EmptyLinesGiveEmptyEntries", "a\r\n\r\n\r\nb\r\n", {"a", "", "", "b"}},
        FieldCase{"SummaryEnding", "*****\r\n\r\n\r\n", {"*****", "", ""}},
        FieldCase{"NoFinalLineEnd", "a\r\nb", {"a", "b"}}, FieldCase{"OnlyALineEnd", "\r\n", {""}},
        FieldCase{"LineFeedsAndLoneCarriageReturns", "a\nb\rc\r\n", {"a", "b", "c"}},
        FieldCase{"QuotedFieldKeepsItsCommas", "\"a,b.txt\",c\r\n", {"a,b.txt", "c"}},
        FieldCase{"QuotedFieldAfterBlanks", "x,  \"1,2\"\r\n", {"x", "1,2"}},
        FieldCase{"TextAfterTheClosingQuoteIsKept", "\"a,b.txt\" (2002)  削除\r\n", {"a,b.txt (2002)  削除"}},
        FieldCase{"QuoteInsideAFieldIsPlainText", "/d/say \"hi\",x\r\n", {"/d/say \"hi\"", "x"}},
        FieldCase{"UnclosedQuoteEndsAtTheLineEnd", "\"a,b\r\nnext,line\r\n", {"a,b", "next", "line"}},
        FieldCase{"EmptyQuotedField", "\"\"\r\n", {""}}),
    [](const ::testing::TestParamInfo<FieldCase>& param) { return std::string(param.param.name); });

TEST(LogPathTest, TheFolderEndsAtTheLastDelimiter)
{
    // A portable main program, in a folder the user may write: the log lies beside it.
    ostrel::test::TempFolder temp;
    const std::string tools = temp / "my tools";
    ostrel::test::MakeTree(tools, {});
    EXPECT_EQ(LogPathFor(tools + "/Parvane"), tools + "/velmor.log");
    // Not found by a fixed length: names of any length lead to their own folder.
    EXPECT_EQ(LogPathFor(tools + "/Parvane.exe"), tools + "/velmor.log");
    EXPECT_EQ(LogPathFor(tools + "/parvane-1.2.0-beta"), tools + "/velmor.log");
    EXPECT_EQ(LogPathFor(tools + "/P"), tools + "/velmor.log");
    EXPECT_EQ(LogPathFor("Parvane"), "");
    EXPECT_EQ(LogPathFor(""), "");
}

} // namespace
} // namespace brennick
