#pragma once

#include "engine/EngineHost.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ostrel::test {

// The engine's host for tests: options set by the test, every status text recorded, and a hook
// that runs whenever the engine lets events be handled (where a test presses abort). Base is the
// host interface it implements.
template <typename Base>
class BasicFakeHost : public Base
{
public:
    std::map<RunOption, bool> options;
    std::vector<std::string> statusTexts[2];
    std::vector<RunOption> optionReads;
    std::function<void()> onProcessEvents;
    int processEventsCalls = 0;
    int waitCursorDepth = 0;
    int waitCursorShown = 0;

    bool IsOptionOn(RunOption option) override
    {
        optionReads.push_back(option);
        auto it = options.find(option);
        return it != options.end() && it->second;
    }
    void SetStatusText(int panel, const std::string& text) override
    {
        statusTexts[panel == 0 ? 0 : 1].push_back(text);
    }
    void ProcessEvents() override
    {
        ++processEventsCalls;
        if (onProcessEvents) {
            onProcessEvents();
        }
    }
    void SetWaitCursor(bool on) override
    {
        waitCursorDepth += on ? 1 : -1;
        waitCursorShown += on ? 1 : 0;
    }
    // Every byte is 10 pixels wide, so a 550-pixel panel holds 55 bytes.
    int StatusTextWidth(const std::string& text) override { return static_cast<int>(text.size()) * 10; }
    int StatusPanelWidth() override { return 550; }
};

using FakeHost = BasicFakeHost<EngineHost>;

} // namespace ostrel::test
