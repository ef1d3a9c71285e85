#pragma once

#include "engine/EngineHost.h"
#include "engine/MirrorEngine.h"
#include "engine/RunLock.h"
#include "platform/Volumes.h"
#include "store/CopySet.h"

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

enum class MessageIcon { None, Question, Exclamation, Information, Error };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// A message box request: the text, the icon and buttons, which button is the default, and whether
// the default beep comes first.
struct Message
{
    std::string text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    bool defaultNo = false;
    bool beep = true;
};

// What a run needs from the main window beyond the engine's host: the copy-set rows, message
// boxes, the command buttons, the progress and result windows, and the screen cursor.
class RunHost : public EngineHost
{
public:
    // Whether the list shows a row of the copy sets selected: the selection is the view's, the
    // copy sets themselves are read from the list's model.
    virtual bool IsRowSelected(int index) = 0;

    virtual MessageAnswer ShowMessage(const Message& message) = 0;

    // Disables the commands for a run (false) and gives them back (true).
    virtual void ToggleCmdEnbl(bool enable) = 0;

    virtual void ShowProgress() = 0;
    // Puts the copy set in hand into the progress window, already shortened, and repaints it.
    virtual void SetProgressLabels(const std::string& source, const std::string& target) = 0;
    // Width in pixels of a text in the progress window's font.
    virtual int ProgressTextWidth(const std::string& text) = 0;
    virtual void CloseProgress() = 0;

    // Asks for a network location to connect; empty when the user cancels.
    virtual std::optional<std::string> AskNetworkLocation() = 0;

    // The hourglass for the whole screen while a copy set is worked on.
    virtual void SetBusyCursor(bool on) = 0;

    // Shows the copy log in the modal result window.
    virtual void ShowCopyResult() = 0;
};

// How the last run ended; an unattended run's exit code follows from it.
enum class RunOutcome {
    NotStarted, // no run yet, or the confirmation was cancelled
    Completed, // every pass completed and no entry failed
    CompletedWithFailures, // completed, but entries failed or source folders could not be listed
    Stopped, // stopped before its end: a drive check, a question answered No, an error, the abort button
};

// Carries out runs over the copy sets of the main list: confirmation, drive and volume checks,
// forward and reverse passes, last-run stamps, abort, and the unattended behaviour.
class RunDriver
{
public:
    // Width in pixels of the progress window's two path labels.
    static constexpr int kProgressLabelWidth = 257;

    using Clock = std::function<std::time_t()>;

    RunDriver(RunHost& host, CopySetRows& sets, MirrorEngine& engine, Volumes& volumes, Clock clock);

    // Runs every copy set (all) or the selected ones, in list order. A run asked for while another
    // is in progress, or for the selected sets when none is selected, does nothing. A run holds the
    // lock of its copy log; while another process holds it, no run starts. Returns whether a run
    // took place.
    bool ExeCopyLoop(bool all);

    // How the last run ended, and one line for each thing that went wrong in it (why it stopped,
    // naming the copy set; how many entries failed), for standard error; empty after a good run.
    RunOutcome LastOutcome() const { return m_outcome; }
    const std::vector<std::string>& Report() const { return m_report; }

    // True when the drive may be used; otherwise the user has been told why, unless unattended.
    bool CheckDrive(const std::string& drive, bool isSource);

    // The volume label of the drive that holds the path; empty when it has none.
    std::string GetVolumeName(const std::string& path);

    bool IsUnattended() const { return m_unattended; }
    void SetUnattended(bool unattended) { m_unattended = unattended; }
    bool IsRunning() const { return m_running; }

    // Sets the abort flag; the run stops at its next test of it.
    void Abort() { m_engine.SetAborted(true); }

    // The last-run stamp of a moment, "yy/mm/dd hh:nn" in local time.
    static std::string FormatStamp(std::time_t time);

private:
    enum class SetOutcome { Completed, Stopped };
    SetOutcome RunCopySet(int index, int completed);
    bool RunPass(bool firstOfRun, const std::string& from, const std::string& to);
    bool CheckFolder(const std::string& path, bool isSource);
    bool LooksEmpty(const std::string& folder);
    void ReportStop(const std::string& reason);
    void ReportFailures();
    void ReportReasons(const std::vector<MirrorEngine::EntryFailure>& failures);
    std::string ConfirmationText(bool all);
    std::string ShortenForProgress(const std::string& path);

    RunHost& m_host;
    CopySetRows& m_sets;
    MirrorEngine& m_engine;
    Volumes& m_volumes;
    Clock m_clock;
    bool m_unattended = false;
    bool m_running = false;
    RunLock m_lock;
    RunOutcome m_outcome = RunOutcome::NotStarted;
    std::vector<std::string> m_report;
    CopySet m_current; // the copy set in hand, for the report
    std::string m_stopReason; // why the last check said no
};

} // namespace ostrel
