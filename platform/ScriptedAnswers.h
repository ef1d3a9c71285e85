#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace ostrel {

// The answers that tests script for one kind of message box or dialog, in either program. While
// scripted, such a box or dialog is never left to a user: it records the question it would have
// asked and takes the next answer, in the order the test gave them. A question that finds no
// answer left is counted as unexpected, and the box or dialog then acts as if the user had backed
// out of it, so that a test can never block. Not scripted, nothing here is used and the boxes
// and dialogs are shown as usual.
template <typename Question, typename Answer>
class ScriptedAnswers
{
public:
    bool IsScripted() const { return m_scripted; }
    void SetScripted(bool scripted) { m_scripted = scripted; }

    // Queues the answer that the next question takes after those queued before.
    void SetNextAnswer(Answer answer) { m_answers.push_back(std::move(answer)); }

    // Records the question and hands out the next answer; none when the queue is empty, which
    // counts as unexpected.
    std::optional<Answer> TakeAnswer(Question question)
    {
        m_asked.push_back(std::move(question));
        if (m_answers.empty()) {
            ++m_unexpected;
            return std::nullopt;
        }
        Answer answer = std::move(m_answers.front());
        m_answers.pop_front();
        return answer;
    }

    // Counts a question as unexpected after all: the answer it took is one it cannot give, so the
    // script and the program disagree about which question this is.
    void CountUnexpected() { ++m_unexpected; }

    // Every question asked while scripted, in order.
    const std::vector<Question>& Asked() const { return m_asked; }
    int UnexpectedCount() const { return m_unexpected; }
    // Answers queued and not taken yet.
    std::size_t PendingCount() const { return m_answers.size(); }

    // Empties the queue and the record; scripted or not stays as it is.
    void Reset()
    {
        m_answers.clear();
        m_asked.clear();
        m_unexpected = 0;
    }

private:
    bool m_scripted = false;
    std::deque<Answer> m_answers;
    std::vector<Question> m_asked;
    int m_unexpected = 0;
};

} // namespace ostrel
