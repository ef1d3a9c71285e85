#include "CopySetFile.h"
#include "RunDriver.h"
#include "TestTree.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>

namespace ostrel::test {
namespace {

// Runs the real program as a user's scheduler or the launcher would: "Parvane FILE /A" on a copy
// of the executable in a temporary folder, so its log and default files land there.
class UnattendedRunTest : public ::testing::Test
{
protected:
    UnattendedRunTest()
    {
        program = temp / "Parvane";
        WriteFile(program, ReadFile(PARVANE_PATH));
        ::chmod(program.c_str(), 0755);
        config = temp / "config";
    }

    int Run(const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
        environment.insert("XDG_DATA_HOME", QString::fromStdString(temp / "data"));
        environment.insert("TZ", "JST-9");
        process.setProcessEnvironment(environment);
        process.start(QString::fromStdString(program), arguments);
        EXPECT_TRUE(process.waitForFinished(120000)) << "Parvane did not end by itself";
        output = process.readAllStandardError().toStdString();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    TempFolder temp;
    std::string program;
    std::string config;
    std::string output;
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

TEST_F(UnattendedRunTest, AMissingCopySetFileNeverRunsUnattended)
{
    // With a missing file the program tells the user and stays open; it must not run or exit.
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
    process.setProcessEnvironment(environment);
    process.start(QString::fromStdString(program), {QString::fromStdString(temp / "missing.dat"), "/A"});
    ASSERT_TRUE(process.waitForStarted());
    EXPECT_FALSE(process.waitForFinished(1500)) << "the program ended without its user";
    process.kill();
    process.waitForFinished();
    EXPECT_EQ(ReadTree(temp.Path()).count("velmor.log"), 0u);
}

} // namespace
} // namespace ostrel::test
