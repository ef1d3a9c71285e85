#include "platform/ScriptedAnswers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ostrel::test {
namespace {

using Script = ScriptedAnswers<std::string, int>;

// The answers go out in the order they were given, one to each question, and a question that
// finds none left gets none and is counted; every question is recorded either way.
TEST(ScriptedAnswersTest, HandsOutAnswersInOrderAndCountsQuestionsLeftWithout)
{
    struct Case
    {
        const char* name;
        std::vector<int> answers;
        std::vector<std::string> questions;
        std::vector<std::optional<int>> taken;
        int unexpected;
        std::size_t pending;
    };
    const Case cases[] = {
        {"nothing scripted, nothing asked", {}, {}, {}, 0, 0},
        {"one each", {7}, {"a"}, {7}, 0, 0},
        {"in the order given", {1, 2, 3}, {"a", "b", "c"}, {1, 2, 3}, 0, 0},
        {"a question too many", {1}, {"a", "b"}, {1, std::nullopt}, 1, 0},
        {"none scripted", {}, {"a", "b"}, {std::nullopt, std::nullopt}, 2, 0},
        {"an answer left over", {1, 2}, {"a"}, {1}, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        for (int answer : c.answers) {
            script.SetNextAnswer(answer);
        }
        std::vector<std::optional<int>> taken;
        for (const std::string& question : c.questions) {
            taken.push_back(script.TakeAnswer(question));
        }
        EXPECT_EQ(taken, c.taken);
        EXPECT_EQ(script.Asked(), c.questions);
        EXPECT_EQ(script.UnexpectedCount(), c.unexpected);
        EXPECT_EQ(script.PendingCount(), c.pending);
    }
}

TEST(ScriptedAnswersTest, ResetForgetsAnswersAndRecordButNotWhetherScripted)
{
    Script script;
    EXPECT_FALSE(script.IsScripted());
    script.SetScripted(true);
    script.SetNextAnswer(1);
    script.SetNextAnswer(2);
    EXPECT_EQ(script.TakeAnswer("a"), 1);
    script.CountUnexpected();
    EXPECT_EQ(script.UnexpectedCount(), 1);

    script.Reset();
    EXPECT_TRUE(script.IsScripted());
    EXPECT_TRUE(script.Asked().empty());
    EXPECT_EQ(script.UnexpectedCount(), 0);
    EXPECT_EQ(script.PendingCount(), 0u);
    EXPECT_EQ(script.TakeAnswer("b"), std::nullopt); // the 2 given before the reset is gone
    EXPECT_EQ(script.UnexpectedCount(), 1);
}

} // namespace
} // namespace ostrel::test
