#pragma once

#include "engine/MirrorEngine.h"
#include "engine/RunDriver.h"
#include "platform/FileSystem.h"
#include "platform/Volumes.h"
#include "store/CommandLine.h"
#include "store/CopySet.h"
#include "store/SettingsStore.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeView;

namespace ostrel {

class CopyAnimation;
class CopySetListModel;
class PathLabel;
class TfrmProgress;
class UpDown;

// The main window: the list of copy sets, the run options, the commands, and the host of the
// engine and the run driver.
class TfrmMain : public QMainWindow, public RunHost
{
    Q_OBJECT

public:
    // Width in pixels of status panel 0, to which the engine shortens paths.
    static constexpr int kStatusPanelWidth = 550;

    // Runs the start-up steps: loads the copy-set file the arguments name, restores the settings
    // and creates the hidden progress window. programFolder holds the copy log (AppFiles).
    TfrmMain(const StartupArguments& arguments, const std::string& programFolder,
             std::unique_ptr<FileSystem> fileSystem, std::unique_ptr<Volumes> volumes,
             RunDriver::Clock clock = nullptr);
    ~TfrmMain() override;

    // Saves the list to the current copy-set file; called when the program ends. False when the
    // file could not be written.
    bool FormDestroy();

    // The exit code of the program: 0 for an interactive session, otherwise how the unattended
    // run ended (kExitDone to kExitNotStarted of CommandLine.h).
    int ExitCode() const { return m_exitCode; }

    // Starts a run; all: every copy set, otherwise the selected ones.
    void ExeCopyLoop(bool all);
    void ShowCopyResult() override;
    void ToggleCmdEnbl(bool enable) override;
    void OpenCopysetFile();
    bool SaveCopysetFile();

    const std::string& CopysetFileName() const { return m_copysetFile; }
    // The copy sets of the list, as a run reads them.
    const CopySetRows& CopySets() const;
    bool IsUnattended() const { return m_driver->IsUnattended(); }
    RunDriver& Driver() { return *m_driver; }
    TfrmProgress* Progress() const { return m_progress; }

    // Whether the window may take a new size: it never gets narrower than 671 or lower than 401
    // pixels.
    static bool FormCanResize(int newWidth, int newHeight);

    // Replaces the dialog that asks for a network location (tests answer it from a script).
    void SetNetworkLocationPrompt(std::function<std::optional<std::string>()> prompt);

    // RunHost
    bool IsOptionOn(RunOption option) override;
    void SetStatusText(int panel, const std::string& text) override;
    void ProcessEvents() override;
    void SetWaitCursor(bool on) override;
    int StatusTextWidth(const std::string& text) override;
    int StatusPanelWidth() override { return kStatusPanelWidth; }
    bool IsStatusDue() override;
    bool IsEventDue() override;
    bool IsRowSelected(int index) override;
    MessageAnswer ShowMessage(const Message& message) override;
    void ShowProgress() override;
    void SetProgressLabels(const std::string& source, const std::string& target) override;
    int ProgressTextWidth(const std::string& text) override;
    void CloseProgress() override;
    std::optional<std::string> AskNetworkLocation() override;
    void SetBusyCursor(bool on) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWindow();
    void FormCreate(const StartupArguments& arguments);
    void FormActivate();
    void RestoreGeometry();
    void RestoreSettings();
    bool OfferToSavePartialList();
    void WriteSettings();
    void UpdateSelectionButtons();
    void UpdateRunAllButton();
    void ShowFileError(int error);
    int FirstSelectedRow();
    void SelectRow(int index, bool selected);
    // Wraps a command that changes the list or the current file: while a run works through the
    // list, the command does nothing, so the run's next row still names the copy set it named
    // at the start. Buttons are disabled then, but a double click or a header click still arrives.
    template <typename... Args>
    auto WhenIdle(void (TfrmMain::*command)(Args...))
    {
        return [this, command](Args... args) {
            if (!m_driver->IsRunning()) {
                (this->*command)(args...);
            }
        };
    }
    void cmdAddSetClick();
    void cmdEditSetClick();
    void cmdDeleteSetClick();
    void cmdOpenClick();
    void cmdHelpClick();
    void lvwCopySetSelectItem();
    void lvwCopySetExit();
    void lvwCopySetColumnClick(int column);
    void ExchangeCopySet(int delta);
    void cmdUpClick() { ExchangeCopySet(-1); }
    void cmdDownClick() { ExchangeCopySet(1); }
    void chkDeleteClick();
    void udIntervalChanging(int position);
    void cmdSetIntervalClick();
    void timAutoExecTimer();
    void ArmAutoExec(int minutes);
    QPushButton* AddButton(const char* name, const QString& caption, const QString& hint);
    QCheckBox* AddCheckBox(const char* name, const char* caption, const char* hint);
    QCheckBox* Option(RunOption option) const;

    std::string m_programFolder;
    std::string m_copysetFile;
    bool m_saveAllowed = true;
    bool m_partialList = false; // the list holds what was read of a file before an error
    bool m_firstActivation = true;
    bool m_closeAfterRun = false;
    bool m_unattendedStartFailed = false; // "/A" on a copy-set file that could not be read
    int m_exitCode = 0;
    bool m_waitCursor = false;
    bool m_busyCursor = false;
    int m_sortDirection[4] = {1, 1, 1, 1};
    std::vector<std::pair<QPushButton*, bool>> m_savedEnabled; // filled by ToggleCmdEnbl(false)
    QElapsedTimer m_sinceEvents;
    QElapsedTimer m_sinceStatus;

    std::unique_ptr<FileSystem> m_fs;
    std::unique_ptr<Volumes> m_volumes;
    SettingsStore m_settings;
    std::unique_ptr<MirrorEngine> m_engine;
    std::unique_ptr<RunDriver> m_driver;
    std::function<std::optional<std::string>()> m_networkPrompt;

    CopySetListModel* m_sets = nullptr;
    QTreeView* m_list = nullptr;
    PathLabel* m_fileName = nullptr;
    QLabel* m_notice = nullptr;
    QLabel* m_panel[2] = {};
    QLineEdit* m_interval = nullptr;
    UpDown* m_upDown = nullptr;
    QPushButton* m_setInterval = nullptr;
    QPushButton* m_exeCopy = nullptr;
    QPushButton* m_exeCopyAll = nullptr;
    QPushButton* m_showLog = nullptr;
    QPushButton* m_help = nullptr;
    QPushButton* m_end = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_addSet = nullptr;
    QPushButton* m_editSet = nullptr;
    QPushButton* m_deleteSet = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    std::array<QCheckBox*, kRunOptionCount> m_options = {};
    QTimer* m_timAutoExec = nullptr;
    CopyAnimation* m_animation = nullptr;
    TfrmProgress* m_progress = nullptr;
};

} // namespace ostrel
