#pragma once

#include <cstddef>
#include <string>

namespace ostrel {

// The six switches of a run. Each is read from the window at the moment it is consulted, so a
// change made during a run takes effect at the next reading.
enum class RunOption {
    Delete, // also delete from the target what the source no longer has
    Trash, // deleted things go to the trash
    SubFolder, // stay in the top folder
    Link, // also copy from target to source
    SystemFile, // include entries with the system attribute
    LogOnly, // only log what would be done
};

// How many run options there are; each value of RunOption is below it.
constexpr std::size_t kRunOptionCount = static_cast<std::size_t>(RunOption::LogOnly) + 1;

// What the engine needs from the main window. The engine never touches a widget; the window
// implements this, and tests use a fake.
class EngineHost
{
public:
    virtual ~EngineHost() = default;

    // The current state of a run option.
    virtual bool IsOptionOn(RunOption option) = 0;

    // Shows a text in panel 0 or 1 of the status bar and redraws it at once.
    virtual void SetStatusText(int panel, const std::string& text) = 0;

    // Lets the window system handle pending events: repainting, the abort button, timer ticks.
    virtual void ProcessEvents() = 0;

    // Shows or takes back the wait cursor over the main window.
    virtual void SetWaitCursor(bool on) = 0;

    // Width in pixels of a text in the status bar's font, for shortening paths to a panel.
    virtual int StatusTextWidth(const std::string& text) = 0;

    // Width in pixels of status panel 0, to which paths are shortened.
    virtual int StatusPanelWidth() = 0;

    // Whether ProcessEvents would handle events now; it lets them wait at most a few
    // milliseconds, and the engine gets to a point where nothing is under way before it calls it.
    virtual bool IsEventDue() { return true; }

    // Whether a new status text would be seen now. A window paints at most every few
    // milliseconds; texts set in between are never seen, so the engine skips making them.
    virtual bool IsStatusDue() { return true; }
};

} // namespace ostrel
