#pragma once

#include "FakeHost.h"
#include "engine/RunDriver.h"

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::test {

// The main window and its list as the run driver sees them: rows, scripted message boxes, and a
// record of what the driver did to the window, in order.
class FakeRunHost : public BasicFakeHost<RunHost>, public CopySetRows
{
public:
    struct Row
    {
        CopySet set;
        bool selected = false;
    };
    std::vector<Row> rows;
    std::deque<MessageAnswer> answers;
    std::vector<Message> messages;
    int unexpected = 0;
    std::vector<std::string> events;
    std::optional<std::string> networkLocation;
    int busyCursor = 0;

    int Count() const override { return static_cast<int>(rows.size()); }
    CopySet At(int index) const override { return rows.at(static_cast<std::size_t>(index)).set; }
    bool IsRowSelected(int index) override { return rows.at(static_cast<std::size_t>(index)).selected; }
    void SetLastRun(int index, const std::string& stamp) override
    {
        rows.at(static_cast<std::size_t>(index)).set.lastRun = stamp;
    }
    MessageAnswer ShowMessage(const Message& message) override
    {
        messages.push_back(message);
        events.push_back("message");
        if (answers.empty()) {
            ++unexpected;
            return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
        }
        MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ToggleCmdEnbl(bool enable) override { events.push_back(enable ? "enable" : "disable"); }
    void ShowProgress() override { events.push_back("progress"); }
    void SetProgressLabels(const std::string& source, const std::string& target) override
    {
        events.push_back("labels " + source + " | " + target);
    }
    int ProgressTextWidth(const std::string& text) override { return static_cast<int>(text.size()); }
    void CloseProgress() override { events.push_back("close"); }
    std::optional<std::string> AskNetworkLocation() override
    {
        events.push_back("network dialog");
        return networkLocation;
    }
    void SetBusyCursor(bool on) override { busyCursor = on ? 1 : 0; }
    void ShowCopyResult() override { events.push_back("result"); }

    int Count(const std::string& event) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
};

} // namespace ostrel::test
