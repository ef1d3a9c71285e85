#include "engine/RunDriver.h"
#include "EngineFixture.h"
#include "FakeRunHost.h"
#include "FakeVolumes.h"
#include "platform/PathText.h"

#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

class RunDriverTest : public ::testing::Test
{
protected:
    RunDriverTest()
        : engine(fs, host, temp / "log")
        , driver(host, host, engine, volumes, [this] { return now; })
    {
        MakeTree(temp / "log", {});
        volumes.types["/"] = DriveType::Fixed;
        now = static_cast<std::time_t>(LocalSeconds("2002-12-08 09:05:00"));
    }

    // Adds a copy set over two fresh folders; the source holds one file named after the set.
    int AddSet(const std::string& name, bool selected = false, const std::string& volume = "")
    {
        std::string source = temp / ("src-" + name);
        std::string target = temp / ("dst-" + name);
        MakeTree(source, {{name + ".txt", name}});
        MakeTree(target, {});
        host.rows.push_back({{source, target, " ", volume}, selected});
        return static_cast<int>(host.rows.size()) - 1;
    }
    std::string Source(int row) { return host.rows[static_cast<std::size_t>(row)].set.source; }
    std::string Target(int row) { return host.rows[static_cast<std::size_t>(row)].set.target; }
    bool Mirrored(int row) { return ReadTree(Target(row)) == ReadTree(Source(row)); }
    std::string Log() { return ReadFile(engine.LogPath()); }
    std::string LastRun(int row) { return host.rows[static_cast<std::size_t>(row)].set.lastRun; }

    TempFolder temp;
    FaultyFileSystem fs;
    FakeRunHost host;
    FakeVolumes volumes;
    MirrorEngine engine;
    RunDriver driver;
    std::time_t now = 0;
};

TEST_F(RunDriverTest, ConfirmsAndRunsTheChosenSetsInListOrder)
{
    const struct
    {
        bool all;
        std::vector<bool> selected;
        std::vector<int> run;
        std::string question; // "one" stands for the single selected set's text
    } cases[] = {
        {true, {false, false, false, false}, {0, 1, 2, 3}, "すべてのコピーセットのコピーを開始します！"},
        {false, {false, true, false, true}, {1, 3}, "選択されたコピーセットのコピーを開始します！"},
        {false, {false, false, true, false}, {2}, "one"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.question);
        host.rows.clear();
        host.messages.clear();
        for (int i = 0; i < 4; ++i) {
            RemoveTree(temp / ("dst-" + std::to_string(i)));
            AddSet(std::to_string(i), c.selected[static_cast<std::size_t>(i)]);
        }
        host.answers = {MessageAnswer::Ok};
        EXPECT_TRUE(driver.ExeCopyLoop(c.all));

        ASSERT_EQ(host.messages.size(), 1u);
        std::string expected = c.question == "one"
            ? "'" + Source(c.run[0]) + "' から '" + Target(c.run[0]) + "' へのコピーを開始します！"
            : c.question;
        EXPECT_EQ(host.messages[0].text, expected);
        EXPECT_EQ(host.messages[0].icon, MessageIcon::Question);
        EXPECT_EQ(host.messages[0].buttons, MessageButtons::OkCancel);
        EXPECT_TRUE(host.messages[0].beep);

        std::string log = Log();
        std::size_t at = 0;
        for (int i = 0; i < 4; ++i) {
            bool expectedRun = std::find(c.run.begin(), c.run.end(), i) != c.run.end();
            EXPECT_EQ(Mirrored(i), expectedRun) << i;
            EXPECT_EQ(LastRun(i), expectedRun ? "02/12/08 09:05" : " ") << i;
            std::size_t found = log.find(Source(i) + " --> " + Target(i));
            EXPECT_EQ(found != std::string::npos, expectedRun) << i;
            if (expectedRun) {
                EXPECT_GT(found, at) << "sets ran out of list order";
                at = found;
            }
        }
    }
}

TEST_F(RunDriverTest, CancelChangesNothing)
{
    int row = AddSet("a", true);
    host.answers = {MessageAnswer::Cancel};
    EXPECT_FALSE(driver.ExeCopyLoop(false));
    EXPECT_EQ(host.events, std::vector<std::string>{"message"});
    EXPECT_FALSE(Mirrored(row));
    EXPECT_EQ(LastRun(row), " ");
}

TEST_F(RunDriverTest, AnInteractiveRunShowsProgressThenTheResult)
{
    int row = AddSet("a", true);
    host.answers = {MessageAnswer::Ok};
    driver.ExeCopyLoop(false);
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"message", "disable", "progress",
                                        "labels " + Source(row) + " | " + Target(row), "close", "result",
                                        "enable"}));
    EXPECT_EQ(host.busyCursor, 0);
    EXPECT_EQ(host.waitCursorDepth, 0);
}

TEST_F(RunDriverTest, AnUnattendedRunAsksNothingAndShowsNoWindow)
{
    int row = AddSet("a");
    driver.SetUnattended(true);
    driver.ExeCopyLoop(true);
    EXPECT_EQ(host.events, (std::vector<std::string>{"disable", "enable"}));
    EXPECT_TRUE(Mirrored(row));
}

struct DriveCase
{
    const char* name;
    bool unattended;
    bool onSource; // the drive under test holds the source, else the target
    DriveType type;
    bool ready;
    std::vector<MessageAnswer> answers;
    std::optional<std::string> location;
    bool connects;
    std::vector<std::string> texts; // the messages expected after the confirmation
    bool runs;
};

TEST_F(RunDriverTest, ChecksBothDrivesBeforeEachSet)
{
    const std::string drive = "/media/root/STICK";
    const std::string notFound =
        "のドライブ '" + drive + "' は見つかりませんでした！\r\n\r\nネットワークドライブとして接続しますか？";
    const std::string failed = "ネットワークドライブに接続できませんでした！";
    using A = MessageAnswer;
    const DriveCase cases[] = {
        {"removable ready", false, true, DriveType::Removable, true, {}, {}, false, {}, true},
        {"removable not ready",
         false,
         true,
         DriveType::Removable,
         false,
         {A::Ok},
         {},
         false,
         {drive + " ドライブの準備ができていません!"},
         false},
        {"removable not ready unattended", true, true, DriveType::Removable, false, {}, {}, false, {}, false},
        {"fixed", false, false, DriveType::Fixed, false, {}, {}, false, {}, true},
        {"remote", false, true, DriveType::Remote, false, {}, {}, false, {}, true},
        {"cd-rom", false, false, DriveType::CdRom, false, {}, {}, false, {}, true},
        {"ram disk", false, false, DriveType::RamDisk, false, {}, {}, false, {}, true},
        {"missing source, no",
         false,
         true,
         DriveType::NoRootDir,
         false,
         {A::No},
         {},
         false,
         {"コピー元" + notFound},
         false},
        {"missing target, no",
         false,
         false,
         DriveType::NoRootDir,
         false,
         {A::No},
         {},
         false,
         {"コピー先" + notFound},
         false},
        {"missing, dialog cancelled",
         false,
         true,
         DriveType::NoRootDir,
         false,
         {A::Yes, A::Ok},
         {},
         false,
         {"コピー元" + notFound, failed},
         false},
        {"missing, connection fails",
         false,
         false,
         DriveType::NoRootDir,
         false,
         {A::Yes, A::Ok},
         "smb://nas/share",
         false,
         {"コピー先" + notFound, failed},
         false},
        {"missing, connected",
         false,
         true,
         DriveType::NoRootDir,
         false,
         {A::Yes},
         "smb://nas/share",
         true,
         {"コピー元" + notFound},
         true},
        {"missing unattended", true, false, DriveType::NoRootDir, false, {}, {}, false, {}, false},
    };
    for (const DriveCase& c : cases) {
        SCOPED_TRACE(c.name);
        host.rows.clear();
        host.messages.clear();
        host.unexpected = 0;
        RemoveTree(temp / "dst-a");
        RemoveTree(temp / "dst-b");
        int first = AddSet("a", true);
        int second = AddSet("b", true);
        // The first set's source or target lies on the drive under test.
        std::string& moved = c.onSource ? host.rows[0].set.source : host.rows[0].set.target;
        volumes.driveParts = {{moved, drive}};
        volumes.types = {{"/", DriveType::Fixed}, {drive, c.type}};
        volumes.ready = {{drive, c.ready}};
        volumes.connectResult = c.connects;
        volumes.connectLocations.clear();
        host.networkLocation = c.location;
        driver.SetUnattended(c.unattended);
        host.answers.assign(c.answers.begin(), c.answers.end());
        if (!c.unattended) {
            host.answers.push_front(MessageAnswer::Ok);
        }
        driver.ExeCopyLoop(false);

        std::vector<std::string> texts;
        for (std::size_t i = c.unattended ? 0 : 1; i < host.messages.size(); ++i) {
            texts.push_back(host.messages[i].text);
            EXPECT_TRUE(host.messages[i].beep);
        }
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(host.unexpected, 0);
        EXPECT_EQ(Mirrored(first), c.runs);
        EXPECT_EQ(Mirrored(second), c.runs) << "a stop must end the whole run";
        if (c.location && c.type == DriveType::NoRootDir) {
            EXPECT_EQ(volumes.connectLocations, std::vector<std::string>{*c.location});
        }
    }
}

TEST_F(RunDriverTest, AsksWhenTheTargetVolumeNameDiffers)
{
    const std::string question =
        "コピーセットに登録されているコピー先ボリューム名とコピー先媒体のボリューム名が異なります！"
        "\r\n\r\nこのままコピーを実行していいですか？";
    const struct
    {
        const char* recorded;
        const char* actual;
        bool unattended;
        std::optional<MessageAnswer> answer; // empty: no question expected
        bool runs;
    } cases[] = {
        {"", "", false, std::nullopt, true},
        {"BACKUP", "BACKUP", true, std::nullopt, true},
        {"BACKUP", "", false, MessageAnswer::No, false},
        {"", "BACKUP", false, MessageAnswer::Yes, true},
        {"backup", "BACKUP", false, MessageAnswer::No, false},
        {"BACKUP", "OTHER", true, MessageAnswer::No, false},
        {"BACKUP", "OTHER", true, MessageAnswer::Yes, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.recorded) + " / " + c.actual);
        host.rows.clear();
        host.messages.clear();
        RemoveTree(temp / "dst-a");
        int row = AddSet("a", true, c.recorded);
        volumes.labels = {{Target(row), c.actual}};
        driver.SetUnattended(c.unattended);
        host.answers.clear();
        if (!c.unattended) {
            host.answers.push_back(MessageAnswer::Ok);
        }
        if (c.answer) {
            host.answers.push_back(*c.answer);
        }
        driver.ExeCopyLoop(false);
        std::size_t expected = (c.unattended ? 0u : 1u) + (c.answer ? 1u : 0u);
        ASSERT_EQ(host.messages.size(), expected);
        if (c.answer) {
            const Message& asked = host.messages.back();
            EXPECT_EQ(asked.text, question);
            EXPECT_EQ(asked.buttons, MessageButtons::YesNo);
            EXPECT_EQ(asked.icon, MessageIcon::Question);
            EXPECT_TRUE(asked.defaultNo);
        }
        EXPECT_EQ(Mirrored(row), c.runs);
    }
}

TEST_F(RunDriverTest, AbortDuringTheFirstListingKeepsThePreviousLog)
{
    AddSet("a", true);
    WriteFile(engine.LogPath(), "previous run\r\n");
    host.answers = {MessageAnswer::Ok, MessageAnswer::Ok};
    host.onProcessEvents = [this] { driver.Abort(); };
    driver.ExeCopyLoop(false);
    EXPECT_EQ(Log(), "previous run\r\n");
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[1].text, "コピーを中止しました！");
    EXPECT_EQ(host.messages[1].icon, MessageIcon::Information);
    EXPECT_FALSE(host.messages[1].beep);
    EXPECT_EQ(host.Count("result"), 0);
    EXPECT_EQ(host.Count("close"), 1);
    EXPECT_EQ(host.events.back(), "enable");
}

TEST_F(RunDriverTest, AbortWhileCopyingTheFirstSetLeavesLinesWithoutSummary)
{
    int row = AddSet("a", true);
    MakeTree(Source(row), {{"more.txt", "m"}, {"third.txt", "t"}});
    host.answers = {MessageAnswer::Ok, MessageAnswer::Ok};
    host.onProcessEvents = [this] {
        if (ReadTree(temp / "dst-a").size() == 1) {
            driver.Abort();
        }
    };
    driver.ExeCopyLoop(false);
    std::string log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_EQ(log.find('*'), std::string::npos);
    EXPECT_EQ(host.messages.back().text, "コピーを中止しました！");
    EXPECT_EQ(host.Count("result"), 0);
    EXPECT_EQ(LastRun(row), " ");
}

TEST_F(RunDriverTest, AbortDuringTheSecondSetStillShowsTheResult)
{
    int first = AddSet("a", true);
    int second = AddSet("b", true);
    host.answers = {MessageAnswer::Ok, MessageAnswer::Ok};
    host.onProcessEvents = [this] {
        if (host.Count("labels " + Source(1) + " | " + Target(1)) == 1) {
            driver.Abort(); // the second set is in hand
        }
    };
    driver.ExeCopyLoop(false);
    EXPECT_TRUE(Mirrored(first));
    EXPECT_FALSE(Mirrored(second));
    EXPECT_EQ(LastRun(first), "02/12/08 09:05");
    EXPECT_EQ(LastRun(second), " ");
    EXPECT_EQ(host.messages.back().text, "コピーを中止しました！");
    EXPECT_EQ(host.Count("result"), 1);
    auto message = std::find(host.events.rbegin(), host.events.rend(), "message");
    auto result = std::find(host.events.rbegin(), host.events.rend(), "result");
    EXPECT_LT(result - host.events.rbegin(), message - host.events.rbegin())
        << "result before the abort notice";
}

TEST_F(RunDriverTest, TheReversePassAppendsWithTheFoldersSwapped)
{
    int row = AddSet("a", true);
    WriteFile(Target(row) + "/back.txt", "b");
    host.options[RunOption::Link] = true;
    host.answers = {MessageAnswer::Ok};
    driver.ExeCopyLoop(false);
    std::string log = Log();
    std::size_t forward = log.find(Source(row) + " --> " + Target(row) + "\r\n");
    std::size_t reverse = log.find(Target(row) + " --> " + Source(row) + "\r\n");
    ASSERT_NE(forward, std::string::npos);
    ASSERT_NE(reverse, std::string::npos);
    EXPECT_LT(forward, reverse);
    EXPECT_TRUE(Mirrored(row));
    EXPECT_EQ(ReadFile(Source(row) + "/back.txt"), "b");
}

TEST_F(RunDriverTest, ALogOnlyRunKeepsTheStamps)
{
    int row = AddSet("a", true);
    host.rows[0].set.lastRun = "01/01/01 00:00";
    host.options[RunOption::LogOnly] = true;
    host.answers = {MessageAnswer::Ok};
    driver.ExeCopyLoop(false);
    EXPECT_EQ(LastRun(row), "01/01/01 00:00");
    EXPECT_EQ(ReadTree(Target(row)), Tree{});
    EXPECT_EQ(host.Count("result"), 1);
}

TEST_F(RunDriverTest, StampsAreLocalTimeInTwoDigitFields)
{
    const struct
    {
        const char* time;
        const char* stamp;
    } cases[] = {
        {"2002-12-08 09:05:59", "02/12/08 09:05"},
        {"2010-01-02 23:00:00", "10/01/02 23:00"},
        {"2099-10-31 00:07:00", "99/10/31 00:07"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunDriver::FormatStamp(static_cast<std::time_t>(LocalSeconds(c.time))), c.stamp);
    }
}

TEST_F(RunDriverTest, NoSecondRunStartsWhileOneIsInProgress)
{
    AddSet("a", true);
    host.answers = {MessageAnswer::Ok};
    int nested = 0;
    host.onProcessEvents = [&] { nested += driver.ExeCopyLoop(true) ? 1 : 0; };
    EXPECT_TRUE(driver.ExeCopyLoop(false));
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.Count("disable"), 1);
}

TEST_F(RunDriverTest, ARunOfTheSelectionWithNothingSelectedDoesNothing)
{
    AddSet("a", false);
    EXPECT_FALSE(driver.ExeCopyLoop(false));
    EXPECT_TRUE(host.events.empty());
}

TEST_F(RunDriverTest, AFailingLogEndsTheRunQuietlyButGivesTheWindowBack)
{
    int first = AddSet("a", true);
    AddSet("b", true);
    RemoveTree(temp / "log");
    host.answers = {MessageAnswer::Ok};
    driver.ExeCopyLoop(false);
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.Count("result"), 0);
    EXPECT_EQ(host.Count("close"), 1);
    EXPECT_EQ(host.events.back(), "enable");
    EXPECT_EQ(host.busyCursor, 0);
    EXPECT_EQ(LastRun(first), " ");
    EXPECT_FALSE(driver.IsRunning());
}

// With both directions and deletion, a forward copy that failed must not turn into a deletion of
// the only copy in the reverse pass.
TEST_F(RunDriverTest, AFailedForwardCopyIsNeverDeletedFromTheSource)
{
    int row = AddSet("a", true);
    fs.Fail(FsCall::Copy, Target(row) + "/a.txt", ENOSPC);
    host.options[RunOption::Link] = true;
    host.options[RunOption::Delete] = true;
    host.answers = {MessageAnswer::Ok};
    driver.ExeCopyLoop(false);
    EXPECT_EQ(ReadFile(Source(row) + "/a.txt"), "a");
    EXPECT_NE(Log().find(")  追加コピー【失敗】\r\n"), std::string::npos);
}

TEST_F(RunDriverTest, ProgressLabelsAreShortenedAfterTheDrive)
{
    const std::string drive = temp.Path();
    std::string deep = temp.Path();
    for (int i = 0; i < 6; ++i) {
        deep += "/folder number " + std::to_string(i) + " with a rather long name";
    }
    deep += "/and a third one here";
    MakeTree(deep, {{"f", "1"}});
    host.rows.push_back({{deep, temp / "t", " ", ""}, true});
    volumes.driveParts = {{drive, drive}};
    volumes.types[drive] = DriveType::Fixed;
    host.answers = {MessageAnswer::Ok};
    driver.ExeCopyLoop(false);
    auto labels = std::find_if(host.events.begin(), host.events.end(),
                               [](const std::string& e) { return e.rfind("labels ", 0) == 0; });
    ASSERT_NE(labels, host.events.end());
    std::string source = labels->substr(7, labels->find(" | ") - 7);
    EXPECT_LE(source.size(), static_cast<std::size_t>(RunDriver::kProgressLabelWidth));
    EXPECT_EQ(source.rfind(drive + "/.../", 0), 0u) << source;
    EXPECT_EQ(ExtractName(source), "and a third one here");
}

} // namespace
} // namespace ostrel::test

namespace ostrel::test {
namespace {

// How an unattended run ends, and the lines that tell why: the exit code and the standard error
// of a scheduled run follow from them.
TEST_F(RunDriverTest, AnUnattendedRunReportsHowItEnded)
{
    const std::string stick = "/media/root/STICK";
    struct Case
    {
        const char* name;
        std::function<void(int row)> setUp;
        RunOutcome outcome;
        std::vector<std::string> report; // "%s" and "%t" stand for the set's source and target, "%l" the log
        bool targetTouched; // the target differs from how the case left it
    };
    auto stopped = [](const std::string& reason) {
        return "'%s' から '%t' へのコピーを中止しました: " + reason;
    };
    const Case cases[] = {
        {"clean", [](int) {}, RunOutcome::Completed, {}, true},
        {"a copy fails",
         [this](int row) { fs.Fail(FsCall::Copy, Target(row) + "/a.txt", ENOSPC); },
         RunOutcome::CompletedWithFailures,
         {"1 件のエントリが失敗しました (コピーログ: %l)", "'%s/a.txt': No space left on device"},
         false},
        {"a deletion fails",
         [this](int row) {
             host.options[RunOption::Delete] = true;
             WriteFile(Target(row) + "/old.txt", "o");
             fs.Fail(FsCall::Delete, Target(row) + "/old.txt", EACCES);
         },
         RunOutcome::CompletedWithFailures,
         {"1 件のエントリが失敗しました (コピーログ: %l)", "'%t/old.txt': Permission denied"},
         true},
        {"twelve copies fail: ten are named with their reason, the rest counted",
         [this](int row) {
             fs.SortListings(true);
             for (char c = 'b'; c <= 'm'; ++c) {
                 WriteFile(Source(row) + "/" + c, "x");
                 fs.Fail(FsCall::Copy, Target(row) + "/" + c, c == 'b' ? EROFS : EIO);
             }
         },
         RunOutcome::CompletedWithFailures,
         {"12 件のエントリが失敗しました (コピーログ: %l)", "'%s/b': Read-only file system",
          "'%s/c': Input/output error", "'%s/d': Input/output error", "'%s/e': Input/output error",
          "'%s/f': Input/output error", "'%s/g': Input/output error", "'%s/h': Input/output error",
          "'%s/i': Input/output error", "'%s/j': Input/output error", "'%s/k': Input/output error",
          "ほか 2 件"},
         true},
        {"the source folder is missing",
         [this](int row) { RemoveTree(Source(row)); },
         RunOutcome::CompletedWithFailures,
         {"読めなかったコピー元フォルダが 1 件あり、その中のコピーと削除は行っていません (コピーログ: %l)",
          "'%s/': No such file or directory"},
         false},
        {"the source stick is not ready",
         [this, &stick](int row) {
             volumes.driveParts = {{Source(row), stick}};
             volumes.types[stick] = DriveType::Removable;
         },
         RunOutcome::Stopped,
         {stopped("コピー元のドライブ '" + stick + "' の準備ができていません")},
         false},
        {"the target drive is gone",
         [this, &stick](int row) {
             volumes.driveParts = {{Target(row), stick}};
         },
         RunOutcome::Stopped,
         {stopped("コピー先のドライブ '" + stick + "' は見つかりませんでした")},
         false},
        {"No at the volume-name question",
         [this](int row) {
             volumes.labels = {{Target(row), "OTHER"}};
             host.answers = {MessageAnswer::No};
         },
         RunOutcome::Stopped,
         {stopped("コピー先のボリューム名 'OTHER' が登録されている '' と異なります")},
         false},
        {"the log can't be written",
         [this](int) { RemoveTree(temp / "log"); },
         RunOutcome::Stopped,
         {stopped("コピーログに書き込めません (%l: No such file or directory)")},
         false},
        {"the target is the root",
         [this](int row) { host.rows[static_cast<std::size_t>(row)].set.target = "//."; },
         RunOutcome::Stopped,
         {"'%s' から '//.' へのコピーを中止しました: コピー先にルートフォルダ '/' は使えません"},
         false},
        {"the source is the root",
         [this](int row) { host.rows[static_cast<std::size_t>(row)].set.source = "/"; },
         RunOutcome::Stopped,
         {"'/' から '%t' へのコピーを中止しました: コピー元にルートフォルダ '/' は使えません"},
         false},
        {"the source lies on an fstab mount point with nothing mounted",
         [this](int row) { volumes.unmountedFstabPoints = {Source(row)}; },
         RunOutcome::Stopped,
         {stopped("コピー元のマウントポイント '%s' に何もマウントされていません")},
         false},
        {"an empty source would empty the target",
         [this](int row) {
             host.options[RunOption::Delete] = true;
             RemoveTree(Source(row));
             MakeTree(Source(row), {});
             MakeTree(Target(row), {{"keep.txt", "k"}, {"sub/keep2.txt", "k"}});
         },
         RunOutcome::Stopped,
         {stopped("コピー元 '%s' が空のため、コピー先 '%t' は削除していません")},
         false},
        {"an empty source without deletion",
         [this](int row) {
             RemoveTree(Source(row));
             MakeTree(Source(row), {});
             MakeTree(Target(row), {{"keep.txt", "k"}});
         },
         RunOutcome::Completed,
         {},
         false},
        {"a source holding only an empty folder is no empty source",
         [this](int row) {
             host.options[RunOption::Delete] = true;
             RemoveTree(Source(row));
             MakeTree(Source(row), {{"sub/", ""}});
             MakeTree(Target(row), {{"old.txt", "o"}});
         },
         RunOutcome::Completed,
         {},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.rows.clear();
        host.messages.clear();
        host.options.clear();
        host.answers.clear();
        fs.ClearFaults();
        fs.SortListings(false);
        volumes.driveParts.clear();
        volumes.labels.clear();
        volumes.unmountedFstabPoints.clear();
        volumes.types = {{"/", DriveType::Fixed}};
        RemoveTree(temp / "log");
        MakeTree(temp / "log", {});
        RemoveTree(temp / "src-a");
        RemoveTree(temp / "dst-a");
        const int row = AddSet("a");
        c.setUp(row);
        const std::string targetFolder = temp / "dst-a"; // where the set's target was made
        const Tree before = ReadTree(targetFolder);
        const std::string source = host.rows[0].set.source;
        const std::string target = host.rows[0].set.target;
        driver.SetUnattended(true);
        driver.ExeCopyLoop(true);

        EXPECT_EQ(driver.LastOutcome(), c.outcome);
        std::vector<std::string> expected;
        for (std::string line : c.report) {
            for (const auto& [mark, text] : {std::pair<std::string, std::string>{"%s", source},
                                             {"%t", target},
                                             {"%l", engine.LogPath()}}) {
                for (std::size_t at = line.find(mark); at != std::string::npos; at = line.find(mark)) {
                    line.replace(at, mark.size(), text);
                }
            }
            expected.push_back(line);
        }
        EXPECT_EQ(driver.Report(), expected);
        EXPECT_EQ(ReadTree(targetFolder) != before, c.targetTouched);
        EXPECT_EQ(host.unexpected, 0);
        EXPECT_EQ(LastRun(row) != " ", c.outcome != RunOutcome::Stopped);
    }
}

// Interactively the same checks speak through message boxes; a No keeps the target as it was.
TEST_F(RunDriverTest, RefusalsAndTheEmptySourceQuestionAreMessages)
{
    using A = MessageAnswer;
    struct Case
    {
        const char* name;
        std::function<void(int row)> setUp;
        std::vector<A> answers; // after the start confirmation
        std::vector<std::string> texts; // "%s", "%t" as above
        MessageButtons buttons;
        bool runs; // the set was mirrored
    };
    auto emptyTarget = [this](int row) {
        host.options[RunOption::Delete] = true;
        RemoveTree(Source(row));
        MakeTree(Source(row), {});
        MakeTree(Target(row), {{"keep.txt", "k"}});
    };
    const std::string question =
        "コピー元 '%s' は空です！\r\n\r\nコピー先 '%t' のファイルとフォルダをすべて削除していいですか？";
    const Case cases[] = {
        {"root target",
         [this](int row) { host.rows[static_cast<std::size_t>(row)].set.target = "/"; },
         {A::Ok},
         {"コピー先にルートフォルダ '/' は使えません！"},
         MessageButtons::Ok,
         false},
        {"unmounted fstab point",
         [this](int row) { volumes.unmountedFstabPoints = {Target(row)}; },
         {A::Ok},
         {"%t ドライブの準備ができていません!"},
         MessageButtons::Ok,
         false},
        {"empty source, No", emptyTarget, {A::No}, {question}, MessageButtons::YesNo, false},
        {"empty source, Yes", emptyTarget, {A::Yes}, {question}, MessageButtons::YesNo, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.rows.clear();
        host.messages.clear();
        host.options.clear();
        volumes.unmountedFstabPoints.clear();
        RemoveTree(temp / "src-a");
        RemoveTree(temp / "dst-a");
        const int row = AddSet("a", true);
        c.setUp(row);
        const std::string source = host.rows[0].set.source;
        const std::string target = host.rows[0].set.target;
        host.answers = {A::Ok};
        host.answers.insert(host.answers.end(), c.answers.begin(), c.answers.end());
        driver.ExeCopyLoop(false);

        ASSERT_EQ(host.messages.size(), 1 + c.texts.size());
        for (std::size_t i = 0; i < c.texts.size(); ++i) {
            std::string text = c.texts[i];
            for (std::size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s")) {
                text.replace(at, 2, source);
            }
            for (std::size_t at = text.find("%t"); at != std::string::npos; at = text.find("%t")) {
                text.replace(at, 2, target);
            }
            const Message& shown = host.messages[i + 1];
            EXPECT_EQ(shown.text, text);
            EXPECT_EQ(shown.buttons, c.buttons);
            EXPECT_EQ(shown.icon, MessageIcon::Exclamation);
            EXPECT_TRUE(shown.beep);
            EXPECT_EQ(shown.defaultNo, c.buttons == MessageButtons::YesNo);
        }
        EXPECT_EQ(host.unexpected, 0);
        if (target != "/") {
            EXPECT_EQ(Mirrored(row), c.runs);
        }
        EXPECT_EQ(driver.LastOutcome(), c.runs ? RunOutcome::Completed : RunOutcome::Stopped);
    }
}

// Another process's run holds the copy log's lock: no run starts beside it, and it is not
// waited for.
TEST_F(RunDriverTest, NoRunStartsWhileAnotherHoldsTheCopyLog)
{
    const int row = AddSet("a", true);
    WriteFile(engine.LogPath(), "the other run's lines\r\n");
    const int other = ::open(engine.LogPath().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);

    for (bool unattended : {true, false}) {
        SCOPED_TRACE(unattended ? "unattended" : "interactive");
        host.messages.clear();
        host.events.clear();
        host.answers = {MessageAnswer::Ok};
        driver.SetUnattended(unattended);
        EXPECT_FALSE(driver.ExeCopyLoop(false));
        EXPECT_EQ(driver.LastOutcome(), RunOutcome::Stopped);
        EXPECT_EQ(driver.Report(),
                  std::vector<std::string>{"コピーログ '" + engine.LogPath()
                                           + "' をほかのコピーが使用中のため、実行しませんでした"});
        if (unattended) {
            EXPECT_TRUE(host.messages.empty());
        } else {
            ASSERT_EQ(host.messages.size(), 1u) << "asked to start a run that can't";
            EXPECT_EQ(host.messages[0].text,
                      "ほかのコピーが実行中です！\r\n\r\n終わってから実行してください。");
            EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
        }
        EXPECT_EQ(host.Count("disable"), 0);
        EXPECT_TRUE(ReadTree(Target(row)).empty());
        EXPECT_EQ(Log(), "the other run's lines\r\n");
    }

    // Once the other run is over the lock is free, and this run holds it for its own length.
    ::close(other);
    driver.SetUnattended(true);
    const int probe = ::open(engine.LogPath().c_str(), O_RDONLY | O_CLOEXEC);
    int heldDuringRun = 0;
    host.onProcessEvents = [&] { heldDuringRun += ::flock(probe, LOCK_EX | LOCK_NB) != 0 ? 1 : 0; };
    EXPECT_TRUE(driver.ExeCopyLoop(true));
    host.onProcessEvents = nullptr;
    EXPECT_GT(heldDuringRun, 0) << "the run held no lock";
    EXPECT_EQ(driver.LastOutcome(), RunOutcome::Completed);
    EXPECT_TRUE(Mirrored(row));
    EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the lock outlived the run";
    ::close(probe);
}

// The lock makes the log when there is none; a run that stops before its first pass leaves no
// empty log behind, and never empties the previous one.
TEST_F(RunDriverTest, ARunStoppedBeforeItsFirstPassLeavesTheLogAsItWas)
{
    const int row = AddSet("a");
    volumes.labels = {{Target(row), "OTHER"}};
    driver.SetUnattended(true);
    for (bool previous : {false, true}) {
        SCOPED_TRACE(previous ? "a previous log" : "no log yet");
        if (previous) {
            WriteFile(engine.LogPath(), "previous\r\n");
        }
        host.answers = {MessageAnswer::No};
        driver.ExeCopyLoop(true);
        EXPECT_EQ(driver.LastOutcome(), RunOutcome::Stopped);
        EXPECT_EQ(ReadTree(temp / "log").count("velmor.log"), previous ? 1u : 0u);
        if (previous) {
            EXPECT_EQ(Log(), "previous\r\n");
        }
    }
}

} // namespace
} // namespace ostrel::test
