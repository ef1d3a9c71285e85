#include "engine/RunDriver.h"

#include "engine/CopyLog.h"
#include "platform/PathText.h"
#include "platform/TrBytes.h"

#include <QCoreApplication>

#include <exception>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

// Texts of the message boxes a run shows: window texts, translated (context "RunDriver") when
// shown. The lines of Report() go to standard error and, like the copy log, stay as they are.
constexpr const char* kConfirmAll =
    QT_TRANSLATE_NOOP("RunDriver", "すべてのコピーセットのコピーを開始します！");
constexpr const char* kConfirmSelected =
    QT_TRANSLATE_NOOP("RunDriver", "選択されたコピーセットのコピーを開始します！");
constexpr const char* kVolumeDiffers = QT_TRANSLATE_NOOP(
    "RunDriver",
    "コピーセットに登録されているコピー先ボリューム名とコピー先媒体のボリューム名が異なります！"
    "\r\n\r\nこのままコピーを実行していいですか？");
constexpr const char* kAborted = QT_TRANSLATE_NOOP("RunDriver", "コピーを中止しました！");
constexpr const char* kNotReady = QT_TRANSLATE_NOOP("RunDriver", "%1 ドライブの準備ができていません!");
constexpr const char* kConnectFailed =
    QT_TRANSLATE_NOOP("RunDriver", "ネットワークドライブに接続できませんでした！");
constexpr const char* kRunBusy =
    QT_TRANSLATE_NOOP("RunDriver", "ほかのコピーが実行中です！\r\n\r\n終わってから実行してください。");

// A message-box text as the window shows it, paths spliced in as bytes.
std::string Shown(const char* text, std::initializer_list<std::string_view> args = {})
{
    return TrBytes(QCoreApplication::translate("RunDriver", text), args);
}

const char* Side(bool isSource)
{
    return isSource ? "コピー元" : "コピー先";
}

// "/" and the texts that stand for it ("//", "/.", "/..").
bool IsRootFolder(const std::string& path)
{
    if (path.empty() || path[0] != '/') {
        return false;
    }
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        end = end == std::string::npos ? path.size() : end;
        const std::string_view part(path.data() + start, end - start);
        if (!part.empty() && part != "." && part != "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

// Gives the run lock back however the run ends.
class LockHolder
{
public:
    explicit LockHolder(RunLock& lock)
        : m_lock(lock)
    {
    }
    ~LockHolder() { m_lock.Unlock(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

private:
    RunLock& m_lock;
};

// Marks the driver busy for the length of a run, so that no event delivered while it pumps can
// start a second one.
class RunningFlag
{
public:
    explicit RunningFlag(bool& flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~RunningFlag() { m_flag = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    bool& m_flag;
};

} // namespace

RunDriver::RunDriver(RunHost& host, CopySetRows& sets, MirrorEngine& engine, Volumes& volumes, Clock clock)
    : m_host(host)
    , m_sets(sets)
    , m_engine(engine)
    , m_volumes(volumes)
    , m_clock(std::move(clock))
{
    // The status bar shortens paths as the progress window does, keeping the drive part.
    m_engine.SetDrivePartOf([this](const std::string& path) { return m_volumes.DrivePart(path); });
}

std::string RunDriver::FormatStamp(std::time_t time)
{
    struct tm local
    {
    };
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%y/%m/%d %H:%M", &local);
    return text;
}

std::string RunDriver::ConfirmationText(bool all)
{
    if (all) {
        return Shown(kConfirmAll);
    }
    int selected = 0;
    int first = -1;
    for (int i = 0; i < m_sets.Count(); ++i) {
        if (m_host.IsRowSelected(i)) {
            first = first < 0 ? i : first;
            ++selected;
        }
    }
    if (selected >= 2) {
        return Shown(kConfirmSelected);
    }
    CopySet set = m_sets.At(first);
    return Shown(QT_TRANSLATE_NOOP("RunDriver", "'%1' から '%2' へのコピーを開始します！"),
                 {set.source, set.target});
}

bool RunDriver::ExeCopyLoop(bool all)
{
    if (m_running) {
        return false;
    }
    if (!all) {
        bool anySelected = false;
        for (int i = 0; i < m_sets.Count() && !anySelected; ++i) {
            anySelected = m_host.IsRowSelected(i);
        }
        if (!anySelected) {
            return false; // a timer tick with nothing selected
        }
    }
    RunningFlag running(m_running);
    m_outcome = RunOutcome::NotStarted;
    m_report.clear();
    m_current = CopySet();

    // Two runs on one copy log, this window and a scheduled job say, would write into each other's
    // lines. A log that can't even be opened is left to the first pass to report.
    LockHolder holder(m_lock);
    if (m_lock.TryLock(m_engine.LogPath()) == RunLock::Result::Busy) {
        m_outcome = RunOutcome::Stopped;
        m_report.push_back("コピーログ '" + m_engine.LogPath()
                           + "' をほかのコピーが使用中のため、実行しませんでした");
        if (!m_unattended) {
            m_host.ShowMessage({Shown(kRunBusy), MessageIcon::Exclamation, MessageButtons::Ok});
        }
        return false;
    }
    if (!m_unattended) {
        Message question{ConfirmationText(all), MessageIcon::Question, MessageButtons::OkCancel};
        if (m_host.ShowMessage(question) != MessageAnswer::Ok) {
            return false;
        }
    }

    m_host.ToggleCmdEnbl(false);
    int completed = 0;
    m_engine.SetAborted(false);
    m_engine.ResetTally();
    if (!m_unattended) {
        m_host.ShowProgress();
    }

    // A copy log that fails ends the run without a message and without the result window, but the
    // window is still given back in a usable state.
    bool failed = false;
    bool stopped = false;
    try {
        for (int i = 0; i < m_sets.Count(); ++i) {
            if (!all && !m_host.IsRowSelected(i)) {
                continue;
            }
            if (RunCopySet(i, completed) == SetOutcome::Stopped) {
                stopped = true;
                break;
            }
            ++completed;
        }
    } catch (const CopyLogError& error) {
        failed = true;
        ReportStop(std::string("コピーログに書き込めません (") + error.what() + ")");
    } catch (const std::runtime_error& error) {
        // What the system refused the run: a thread that could not start, say. A programming
        // fault (a logic error) is not caught here: it must not pass for a stopped run.
        failed = true;
        ReportStop(std::string("エラーが起きました (") + error.what() + ")");
    } catch (const std::bad_alloc& error) {
        failed = true;
        ReportStop(std::string("エラーが起きました (") + error.what() + ")");
    }
    ReportFailures();
    if (failed || stopped) {
        m_outcome = RunOutcome::Stopped;
    } else if (m_engine.FailedEntries() > 0 || m_engine.UnlistedSources() > 0) {
        m_outcome = RunOutcome::CompletedWithFailures;
    } else {
        m_outcome = RunOutcome::Completed;
    }

    if (!m_unattended) {
        if (m_engine.IsAborted() && !failed) {
            m_host.ShowMessage({Shown(kAborted), MessageIcon::Information, MessageButtons::Ok, false, false});
        }
        m_host.CloseProgress();
    }
    m_host.SetBusyCursor(false);
    if (completed > 0 && !m_unattended && !failed) {
        m_host.ShowCopyResult();
    }
    m_host.ToggleCmdEnbl(true);
    return true;
}

void RunDriver::ReportStop(const std::string& reason)
{
    m_report.push_back("'" + m_current.source + "' から '" + m_current.target
                       + "' へのコピーを中止しました: " + reason);
}

void RunDriver::ReportFailures()
{
    const std::string log = " (コピーログ: " + m_engine.LogPath() + ")";
    if (m_engine.FailedEntries() > 0) {
        m_report.push_back(std::to_string(m_engine.FailedEntries()) + " 件のエントリが失敗しました" + log);
        ReportReasons(m_engine.Failures());
    }
    if (m_engine.UnlistedSources() > 0) {
        m_report.push_back("読めなかったコピー元フォルダが " + std::to_string(m_engine.UnlistedSources())
                           + " 件あり、その中のコピーと削除は行っていません" + log);
        ReportReasons(m_engine.UnlistedFolders());
    }
}

void RunDriver::ReportReasons(const std::vector<MirrorEngine::EntryFailure>& failures)
{
    // Each entry with the reason the system gave, the first few of them: a scheduled run's mail
    // says what went wrong, and the copy log holds the rest.
    constexpr std::size_t kShown = 10;
    for (std::size_t i = 0; i < failures.size() && i < kShown; ++i) {
        m_report.push_back("'" + failures[i].path + "': " + failures[i].reason.message());
    }
    if (failures.size() > kShown) {
        m_report.push_back("ほか " + std::to_string(failures.size() - kShown) + " 件");
    }
}

RunDriver::SetOutcome RunDriver::RunCopySet(int index, int completed)
{
    const CopySet set = m_sets.At(index);
    m_current = set;
    if (!CheckFolder(set.source, true) || !CheckFolder(set.target, false)) {
        ReportStop(m_stopReason);
        return SetOutcome::Stopped;
    }
    // Exact comparison: an empty recorded name matches only an unlabelled drive. Asked in
    // unattended mode too, since a different medium may be a different user's stick.
    const std::string volumeName = GetVolumeName(set.target);
    if (set.volumeName != volumeName) {
        Message question{Shown(kVolumeDiffers), MessageIcon::Question, MessageButtons::YesNo, true};
        if (m_host.ShowMessage(question) != MessageAnswer::Yes) {
            ReportStop("コピー先のボリューム名 '" + volumeName + "' が登録されている '" + set.volumeName
                       + "' と異なります");
            return SetOutcome::Stopped;
        }
    }

    m_host.SetBusyCursor(true);
    m_engine.BeginCopySet();
    if (!m_unattended) {
        m_host.SetProgressLabels(ShortenForProgress(set.source), ShortenForProgress(set.target));
    }
    if (!RunPass(completed == 0, set.source, set.target)) {
        return SetOutcome::Stopped;
    }
    // The forward pass has already deleted what only the target had, so the reverse pass can't
    // copy that back; it appends to the log.
    if (m_host.IsOptionOn(RunOption::Link) && !RunPass(false, set.target, set.source)) {
        return SetOutcome::Stopped;
    }
    if (!m_host.IsOptionOn(RunOption::LogOnly)) {
        m_sets.SetLastRun(index, FormatStamp(m_clock()));
    }
    m_host.SetBusyCursor(false);
    return SetOutcome::Completed;
}

bool RunDriver::RunPass(bool firstOfRun, const std::string& from, const std::string& to)
{
    m_engine.ClearLists();
    m_engine.GetCopyFiles(from, to);
    if (m_engine.IsAborted()) {
        return false;
    }
    if (m_host.IsOptionOn(RunOption::Delete)) {
        m_engine.GetDeleteFiles(from, to);
        if (m_engine.IsAborted()) {
            return false;
        }
        // A from folder with nothing in it while the to folder holds entries is more often a disk
        // that is not there (an unmounted share, a fresh empty folder in the wrong place) than a
        // wish to empty the target.
        if (!m_engine.DeleteList().empty() && !m_host.IsOptionOn(RunOption::LogOnly) && LooksEmpty(from)) {
            if (m_unattended) {
                ReportStop("コピー元 '" + from + "' が空のため、コピー先 '" + to + "' は削除していません");
                return false;
            }
            Message question{Shown(QT_TRANSLATE_NOOP("RunDriver",
                                                     "コピー元 '%1' は空です！\r\n\r\nコピー先 '%2' "
                                                     "のファイルとフォルダをすべて削除していいですか？"),
                                   {from, to}),
                             MessageIcon::Exclamation, MessageButtons::YesNo, true};
            if (m_host.ShowMessage(question) != MessageAnswer::Yes) {
                return false;
            }
        }
    }
    m_engine.ExeCopyFiles(firstOfRun, from, to, m_host.IsOptionOn(RunOption::LogOnly));
    return !m_engine.IsAborted();
}

bool RunDriver::LooksEmpty(const std::string& folder)
{
    std::vector<DirEntry> entries;
    if (!m_engine.FileSystemInUse().ListFolder(AppendDelimiter(folder), entries, ListDetail::Names)) {
        return false; // unknown, not empty; the delete walk has kept its target already
    }
    // Only what a pass would see counts: a copy's leftover or a passed-over system entry is no
    // content of the source.
    const bool systemFiles = m_host.IsOptionOn(RunOption::SystemFile);
    for (const DirEntry& entry : entries) {
        if (!entry.attributes.temporary && (!entry.attributes.system || systemFiles)) {
            return false;
        }
    }
    return true;
}

bool RunDriver::CheckFolder(const std::string& path, bool isSource)
{
    // Mirroring the whole system, or onto it, is never what a copy set means.
    if (IsRootFolder(path)) {
        m_stopReason = std::string(Side(isSource)) + "にルートフォルダ '/' は使えません";
        if (!m_unattended) {
            m_host.ShowMessage(
                {Shown(isSource
                           ? QT_TRANSLATE_NOOP("RunDriver", "コピー元にルートフォルダ '/' は使えません！")
                           : QT_TRANSLATE_NOOP("RunDriver", "コピー先にルートフォルダ '/' は使えません！")),
                 MessageIcon::Exclamation, MessageButtons::Ok});
        }
        return false;
    }
    // An fstab mount point with nothing mounted is a bare, empty folder on the disk below: a drive
    // that is not ready, whatever its type.
    const std::string point = m_volumes.UnmountedFstabPoint(path);
    if (!point.empty()) {
        m_stopReason =
            std::string(Side(isSource)) + "のマウントポイント '" + point + "' に何もマウントされていません";
        if (!m_unattended) {
            m_host.ShowMessage({Shown(kNotReady, {point}), MessageIcon::Exclamation, MessageButtons::Ok});
        }
        return false;
    }
    return CheckDrive(m_volumes.DrivePart(path), isSource);
}

bool RunDriver::CheckDrive(const std::string& drive, bool isSource)
{
    DriveType type = drive.empty() ? DriveType::NoRootDir : m_volumes.GetDriveType(drive);
    switch (type) {
    case DriveType::Removable: {
        bool ready = m_volumes.IsReady(drive);
        m_stopReason = std::string(Side(isSource)) + "のドライブ '" + drive + "' の準備ができていません";
        if (!ready && !m_unattended) {
            m_host.ShowMessage({Shown(kNotReady, {drive}), MessageIcon::Exclamation, MessageButtons::Ok});
        }
        return ready;
    }
    case DriveType::NoRootDir: {
        m_stopReason = std::string(Side(isSource)) + "のドライブ '" + drive + "' は見つかりませんでした";
        if (m_unattended) {
            return false;
        }
        const std::string text =
            Shown(isSource ? QT_TRANSLATE_NOOP("RunDriver",
                                               "コピー元のドライブ '%1' は見つかりませんでした！\r\n\r\n"
                                               "ネットワークドライブとして接続しますか？")
                           : QT_TRANSLATE_NOOP("RunDriver",
                                               "コピー先のドライブ '%1' は見つかりませんでした！\r\n\r\n"
                                               "ネットワークドライブとして接続しますか？"),
                  {drive});
        if (m_host.ShowMessage({text, MessageIcon::Question, MessageButtons::YesNo}) != MessageAnswer::Yes) {
            return false;
        }
        auto location = m_host.AskNetworkLocation();
        if (location && m_volumes.ConnectNetworkDrive(*location)) {
            return true;
        }
        m_host.ShowMessage({Shown(kConnectFailed), MessageIcon::Exclamation, MessageButtons::Ok});
        return false;
    }
    default:
        return true;
    }
}

std::string RunDriver::GetVolumeName(const std::string& path)
{
    return m_volumes.VolumeName(path);
}

std::string RunDriver::ShortenForProgress(const std::string& path)
{
    return ShortenPathOnDrive(
        path, kProgressLabelWidth, [this](const std::string& text) { return m_host.ProgressTextWidth(text); },
        m_volumes.DrivePart(path));
}

} // namespace ostrel
