#include "RunDriver.h"

#include "PathText.h"

#include <exception>
#include <utility>

namespace ostrel {

namespace {

constexpr const char* kConfirmAll = "すべてのコピーセットのコピーを開始します！";
constexpr const char* kConfirmSelected = "選択されたコピーセットのコピーを開始します！";
constexpr const char* kVolumeDiffers =
    "コピーセットに登録されているコピー先ボリューム名とコピー先媒体のボリューム名が異なります！"
    "\r\n\r\nこのままコピーを実行していいですか？";
constexpr const char* kAborted = "コピーを中止しました！";
constexpr const char* kNotReady = " ドライブの準備ができていません!";
constexpr const char* kConnectFailed = "ネットワークドライブに接続できませんでした！";

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

RunDriver::RunDriver(RunHost& host, MirrorEngine& engine, Volumes& volumes, Clock clock)
    : m_host(host)
    , m_engine(engine)
    , m_volumes(volumes)
    , m_clock(std::move(clock))
{
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
        return kConfirmAll;
    }
    int selected = 0;
    int first = -1;
    for (int i = 0; i < m_host.RowCount(); ++i) {
        if (m_host.IsRowSelected(i)) {
            first = first < 0 ? i : first;
            ++selected;
        }
    }
    if (selected >= 2) {
        return kConfirmSelected;
    }
    CopySet set = m_host.Row(first);
    return "'" + set.source + "' から '" + set.target + "' へのコピーを開始します！";
}

bool RunDriver::ExeCopyLoop(bool all)
{
    if (m_running) {
        return false;
    }
    if (!all) {
        bool anySelected = false;
        for (int i = 0; i < m_host.RowCount() && !anySelected; ++i) {
            anySelected = m_host.IsRowSelected(i);
        }
        if (!anySelected) {
            return false; // a timer tick with nothing selected
        }
    }
    RunningFlag running(m_running);
    if (!m_unattended) {
        Message question{ConfirmationText(all), MessageIcon::Question, MessageButtons::OkCancel};
        if (m_host.ShowMessage(question) != MessageAnswer::Ok) {
            return false;
        }
    }

    m_host.ToggleCmdEnbl(false);
    int completed = 0;
    m_engine.SetAborted(false);
    if (!m_unattended) {
        m_host.ShowProgress();
    }

    // A copy log that fails ends the run without a message and without the result window, but the
    // window is still given back in a usable state.
    bool failed = false;
    try {
        for (int i = 0; i < m_host.RowCount(); ++i) {
            if (!all && !m_host.IsRowSelected(i)) {
                continue;
            }
            if (RunCopySet(i, completed) == SetOutcome::Stopped) {
                break;
            }
            ++completed;
        }
    } catch (const std::exception&) {
        failed = true;
    }

    if (!m_unattended) {
        if (m_engine.IsAborted() && !failed) {
            m_host.ShowMessage({kAborted, MessageIcon::Information, MessageButtons::Ok, false, false});
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

RunDriver::SetOutcome RunDriver::RunCopySet(int index, int completed)
{
    const CopySet set = m_host.Row(index);
    if (!CheckDrive(m_volumes.DrivePart(set.source), true)) {
        return SetOutcome::Stopped;
    }
    if (!CheckDrive(m_volumes.DrivePart(set.target), false)) {
        return SetOutcome::Stopped;
    }
    // Exact comparison: an empty recorded name matches only an unlabelled drive. Asked in
    // unattended mode too, since a different medium may be a different user's stick.
    if (set.volumeName != GetVolumeName(set.target)) {
        Message question{kVolumeDiffers, MessageIcon::Question, MessageButtons::YesNo, true};
        if (m_host.ShowMessage(question) != MessageAnswer::Yes) {
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
        m_host.SetLastRun(index, FormatStamp(m_clock()));
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
    }
    m_engine.ExeCopyFiles(firstOfRun, from, to, m_host.IsOptionOn(RunOption::LogOnly));
    return !m_engine.IsAborted();
}

bool RunDriver::CheckDrive(const std::string& drive, bool isSource)
{
    DriveType type = drive.empty() ? DriveType::NoRootDir : m_volumes.GetDriveType(drive);
    switch (type) {
    case DriveType::Removable: {
        bool ready = m_volumes.IsReady(drive);
        if (!ready && !m_unattended) {
            m_host.ShowMessage({drive + kNotReady, MessageIcon::Exclamation, MessageButtons::Ok});
        }
        return ready;
    }
    case DriveType::NoRootDir: {
        if (m_unattended) {
            return false;
        }
        std::string text = std::string(isSource ? "コピー元" : "コピー先") + "のドライブ '" + drive
            + "' は見つかりませんでした！\r\n\r\nネットワークドライブとして接続しますか？";
        if (m_host.ShowMessage({text, MessageIcon::Question, MessageButtons::YesNo}) != MessageAnswer::Yes) {
            return false;
        }
        auto location = m_host.AskNetworkLocation();
        if (location && m_volumes.ConnectNetworkDrive(*location)) {
            return true;
        }
        m_host.ShowMessage({kConnectFailed, MessageIcon::Exclamation, MessageButtons::Ok});
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
    std::string drive = m_volumes.DrivePart(path);
    return ShortenPath(
        path, kProgressLabelWidth, [this](const std::string& text) { return m_host.ProgressTextWidth(text); },
        drive.empty() ? drive : AppendDelimiter(drive));
}

} // namespace ostrel
