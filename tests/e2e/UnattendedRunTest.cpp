#include "TestTree.h"
#include "engine/RunDriver.h"
#include "store/CopySetFile.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

// The time zone of both the test and the program it runs, so that the file times the test sets and
// the stamps it expects read as the program writes them, wherever the test is started from.
constexpr const char* kTimeZone = "JST-9";

// Runs the real program as a user's scheduler or the launcher would: "Parvane FILE /A" on a copy
// of the executable in a temporary folder, so its log and default files land there.
class UnattendedRunTest : public ::testing::Test
{
protected:
    UnattendedRunTest()
    {
        ::setenv("TZ", kTimeZone, 1);
        ::tzset();
        program = temp / "Parvane";
        WriteFile(program, ReadFile(PARVANE_PATH));
        ::chmod(program.c_str(), 0755);
        config = temp / "config";
    }

    enum class Display { Offscreen, None };

    // Runs the program and waits at most 20 seconds for its end; standard output and error are kept.
    // Display::None starts it as a scheduler would, with no display and no platform chosen.
    int Run(const QStringList& arguments, Display display = Display::Offscreen)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        if (display == Display::Offscreen) {
            environment.insert("QT_QPA_PLATFORM", "offscreen");
        }
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
        environment.insert("XDG_DATA_HOME", QString::fromStdString(temp / "data"));
        environment.insert("TZ", kTimeZone);
        process.setProcessEnvironment(environment);
        process.start(QString::fromStdString(program), arguments);
        const bool ended = process.waitForFinished(20000);
        EXPECT_TRUE(ended) << "Parvane did not end by itself";
        if (!ended) {
            process.kill();
            process.waitForFinished();
        }
        output = process.readAllStandardError().toStdString();
        standardOutput = process.readAllStandardOutput().toStdString();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    TempFolder temp;
    std::string program;
    std::string config;
    std::string output; // standard error
    std::string standardOutput;
};

TEST_F(UnattendedRunTest, MirrorsEverySetWritesTheLogAndTheStampsAndExits)
{
    MakeTree(temp / "src1", {{"a.txt", "a"}, {"sub/b.txt", "b"}});
    MakeTree(temp / "dst1", {{"old.txt", "o"}});
    MakeTree(temp / "src 2", {{"c.txt", "c"}});
    SetTime(temp / "src1/a.txt", "2002-12-08 09:05:30");
    SetTime(temp / "src1/sub/b.txt", "2002-12-07 18:22:10");
    SetTime(temp / "src 2/c.txt", "2002-12-08 00:00:00");
    std::string setFile = temp / "my sets.dat";
    WriteFile(setFile,
              FormatCopySets({{temp / "src1", temp / "dst1/", " ", ""},
                              {temp / "src 2", temp / "dst 2", "99/01/01 00:00", ""}}));
    const std::string settings =
        "[Setting]\nchkDelete=-1\n\n[Startup]\nHeight=300\nLeft=5\nTop=6\nWidth=700\n";
    WriteFile(config + "/Kivora/Velmor.conf", settings);

    std::time_t before = std::time(nullptr);
    ASSERT_EQ(Run({QString::fromStdString(setFile), "/A"}), 0) << output;
    EXPECT_EQ(output, "") << "a good run has nothing to say";
    std::time_t after = std::time(nullptr);

    EXPECT_EQ(ReadTree(temp / "dst1"), ReadTree(temp / "src1"));
    EXPECT_EQ(ReadTree(temp / "dst 2"), ReadTree(temp / "src 2"));
    const std::string stars(65, '*');
    auto summary = [&](const std::string& from, const std::string& to, int total, int added, int deleted) {
        return "\r\n" + stars + "\r\n" + from + " --> " + to + "\r\nコピーファイル総数  ： "
            + std::to_string(total) + "\r\n上書きファイル数    ： 0\r\n追加　ファイル数    ： "
            + std::to_string(added) + "\r\n削除　ファイル数    ： " + std::to_string(deleted) + "\r\n" + stars
            + "\r\n\r\n\r\n";
    };
    std::string log = ReadFile(temp / "velmor.log");
    std::string first = temp / "src1/a.txt (2002/12/08 9:05:30)  追加コピー\r\n"
        + temp / "src1/sub/b.txt (2002/12/07 18:22:10)  追加コピー\r\n";
    std::string firstAlt = temp / "src1/sub/b.txt (2002/12/07 18:22:10)  追加コピー\r\n"
        + temp / "src1/a.txt (2002/12/08 9:05:30)  追加コピー\r\n";
    std::string rest = temp / "dst1/old.txt  削除\r\n" + summary(temp / "src1", temp / "dst1/", 2, 2, 1)
        + temp / "src 2/c.txt (2002/12/08)  追加コピー\r\n"
        + summary(temp / "src 2", temp / "dst 2", 1, 1, 0);
    EXPECT_TRUE(log == first + rest || log == firstAlt + rest) << log;

    std::vector<CopySet> sets;
    ASSERT_EQ(ReadCopySetFile(setFile, sets), 0);
    ASSERT_EQ(sets.size(), 2u);
    for (const CopySet& set : sets) {
        EXPECT_TRUE(set.lastRun == RunDriver::FormatStamp(before)
                    || set.lastRun == RunDriver::FormatStamp(after))
            << set.lastRun;
    }
    EXPECT_EQ(sets[0].target, temp / "dst1/");
    EXPECT_EQ(ReadFile(config + "/Kivora/Velmor.conf"), settings) << "an unattended run wrote the settings";
}

// What a scheduled job sees where there is no display: each of these ends within seconds, with its
// exit code and its lines on standard error, and creates no file.
TEST_F(UnattendedRunTest, WithoutADisplayNothingWaitsAndNothingIsCreated)
{
    MakeTree(temp / "src", {{"a.txt", "a"}});
    MakeTree(temp / "dst", {});
    WriteFile(temp / "volume.dat", FormatCopySets({{temp / "src", temp / "dst", " ", "BACKUP"}}));
    const std::string usageHead = "使い方: Parvane [コピーセットファイル [/A]]\n";
    const struct
    {
        const char* name;
        QStringList arguments;
        int exitCode;
        std::string out; // the start of standard output
        std::vector<std::string> errors; // the lines of standard error, or their start when ending with "*"
    } cases[] = {
        {"help", {"--help"}, 0, usageHead, {}},
        {"short help", {"-h"}, 0, usageHead, {}},
        {"version", {"--version"}, 0, "Parvane (Ostrel) 1.0.0\n", {}},
        {"short version", {"-v"}, 0, "Parvane (Ostrel) 1.0.0\n", {}},
        {"unknown option",
         {"--bogus"},
         3,
         "",
         {"Parvane: 不明なオプションです: --bogus", "", "使い方: Parvane*"}},
        {"unknown option before a file", {"-A", "x.dat"}, 3, "", {"Parvane: 不明なオプションです: -A", "*"}},
        {"missing copy-set file",
         {QString::fromStdString(temp / "missing.dat"), "/A"},
         3,
         "",
         {"Parvane: '" + temp / "missing.dat" + "' が見つかりません！"}},
        {"volume-name question",
         {QString::fromStdString(temp / "volume.dat"), "/a"},
         2,
         "",
         {"Parvane: "
          "コピーセットに登録されているコピー先ボリューム名とコピー先媒体のボリューム名が異なります！",
          "Parvane: このままコピーを実行していいですか？",
          "Parvane: '" + temp / "src" + "' から '" + temp / "dst"
              + "' へのコピーを中止しました: コピー先のボリューム名 '' が登録されている 'BACKUP' "
                "と異なります"}},
        {"no display and no /A",
         {QString::fromStdString(temp / "volume.dat")},
         3,
         "",
         {"Parvane: ディスプレイがないため、ウィンドウを開けません。無人で実行するには: Parvane "
          "コピーセットファイル /A"}},
    };
    const Tree before = ReadTree(temp.Path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(Run(c.arguments, Display::None), c.exitCode) << output;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(standardOutput.substr(0, c.out.size()), c.out);
        EXPECT_EQ(c.out.empty(), standardOutput.empty()) << standardOutput;
        std::vector<std::string> lines;
        for (std::size_t start = 0; start < output.size();) {
            std::size_t end = output.find('\n', start);
            lines.push_back(output.substr(start, end - start));
            start = end == std::string::npos ? output.size() : end + 1;
        }
        ASSERT_GE(lines.size(), c.errors.size()) << output;
        for (std::size_t i = 0; i < c.errors.size(); ++i) {
            const std::string& want = c.errors[i];
            if (!want.empty() && want.back() == '*') {
                EXPECT_EQ(lines[i].substr(0, want.size() - 1), want.substr(0, want.size() - 1)) << output;
                lines.resize(c.errors.size()); // the rest is the usage
            } else {
                EXPECT_EQ(lines[i], want);
            }
        }
        EXPECT_EQ(lines.size(), c.errors.size()) << output;
        EXPECT_EQ(ReadTree(temp.Path()), before) << "a file was made or changed";
    }
}

// The exit code tells a scheduler how the run went, and standard error why; a good run says nothing.
TEST_F(UnattendedRunTest, TheExitCodeTellsHowTheRunWent)
{
    const std::string absent = "/mnt/ostrel-absent-" + std::to_string(::getpid());
    const std::string log = temp / "velmor.log";
    struct Case
    {
        const char* name;
        std::function<void()> setUp; // after a source with one file and an empty target were made
        CopySet set;
        int exitCode;
        std::vector<std::string> errors;
        bool previousLogKept;
    };
    const std::string stop =
        "Parvane: '" + temp / "src" + "' から '" + temp / "dst" + "' へのコピーを中止しました: ";
    int locked = -1;
    const Case cases[] = {
        {"clean", [] {}, {temp / "src", temp / "dst", " ", ""}, 0, {}, false},
        {"a copy fails: the user protected the target",
         [&] {
             WriteFile(temp / "dst/a.txt", "old");
             SetTime(temp / "dst/a.txt", "2001-01-01 00:00:00");
             ::chmod((temp / "dst/a.txt").c_str(), 0444);
         },
         {temp / "src", temp / "dst", " ", ""},
         1,
         {"Parvane: 1 件のエントリが失敗しました (コピーログ: " + log + ")",
          "Parvane: '" + temp / "src/a.txt" + "': Permission denied"},
         false},
        {"the source stick is unplugged",
         [] {},
         {absent + "/src", temp / "dst", " ", ""},
         2,
         {"Parvane: '" + absent + "/src' から '" + temp / "dst"
          + "' へのコピーを中止しました: コピー元のドライブ '" + absent + "' は見つかりませんでした"},
         true},
        {"the log can't be written",
         [&] {
             RemoveTree(log);
             MakeTree(log, {});
         },
         {temp / "src", temp / "dst", " ", ""},
         2,
         {stop + "コピーログに書き込めません (" + log + ": Is a directory)"},
         false},
        {"another run holds the log",
         [&] {
             locked = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
             ASSERT_EQ(::flock(locked, LOCK_EX | LOCK_NB), 0);
         },
         {temp / "src", temp / "dst", " ", ""},
         2,
         {"Parvane: コピーログ '" + log + "' をほかのコピーが使用中のため、実行しませんでした"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::chmod((temp / "dst/a.txt").c_str(), 0644);
        RemoveTree(temp / "src");
        RemoveTree(temp / "dst");
        RemoveTree(log);
        MakeTree(temp / "src", {{"a.txt", "a"}});
        MakeTree(temp / "dst", {});
        WriteFile(log, "previous run\r\n");
        c.setUp();
        WriteFile(temp / "sets.dat", FormatCopySets({c.set}));

        EXPECT_EQ(Run({QString::fromStdString(temp / "sets.dat"), "/A"}, Display::None), c.exitCode)
            << output;
        std::string expected;
        for (const std::string& line : c.errors) {
            expected += line + "\n";
        }
        EXPECT_EQ(output, expected);
        if (c.previousLogKept) {
            EXPECT_EQ(ReadFile(log), "previous run\r\n");
        }
        if (locked >= 0) {
            ::close(locked);
            locked = -1;
        }
    }
}
} // namespace
} // namespace ostrel::test
