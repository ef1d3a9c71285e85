#include "EngineFixture.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <functional>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace ostrel::test {
namespace {

// The real file system, able to hand out instances for a second thread, where every copy onto a
// target whose name holds "fail" fails. The rule holds the same in every instance.
class FailingParallelFileSystem : public PosixFileSystem
{
public:
    explicit FailingParallelFileSystem(bool parallel)
        : PosixFileSystem(parallel)
        , m_parallel(parallel)
    {
    }
    std::unique_ptr<FileSystem> ForWorker() override
    {
        return m_parallel ? std::make_unique<FailingParallelFileSystem>(true) : nullptr;
    }

protected:
    int InjectedError(FsCall call, const std::string& path) override
    {
        return call == FsCall::Copy && path.find("fail") != std::string::npos ? EIO : 0;
    }

private:
    bool m_parallel;
};

// Source and target trees with every kind of copy-list entry, spread over many folders so that
// both threads get work: new files in new and in existing folders, older targets, newer and
// equally new targets, failing copies, a target that is a folder, and a source dated before
// 1980. With an empty target folder name only the source is made.
void MakeMixedTrees(const std::string& src, const std::string& dst)
{
    auto write = [](const std::string& path, const std::string& content, const char* time) {
        if (!path.empty()) {
            WriteFile(path, content);
            SetTime(path, time);
        }
    };
    const bool source = dst.empty();
    for (int folder = 0; folder < 8; ++folder) {
        const std::string sub = "/d" + std::to_string(folder) + "/";
        for (int file = 0; file < 24; ++file) {
            const std::string name = sub + "f" + std::to_string(file) + (file % 9 == 4 ? "-fail" : "");
            write(source ? src + name : "", "new" + name, "2020-06-01 12:00:00");
            if (source || folder % 3 == 0) {
                continue; // the whole folder is new in the target
            }
            switch (file % 5) {
            case 0: // older target: overwritten
                write(dst + name, "old", "2019-01-01 00:00:00");
                break;
            case 1: // newer target: kept
                write(dst + name, "newer", "2021-01-01 00:00:00");
                break;
            case 2: // as new: kept
                write(dst + name, "same time", "2020-06-01 12:00:00");
                break;
            default: // missing in an existing folder
                write(dst + sub + "keep", "k", "2020-01-01 00:00:00");
                break;
            }
        }
    }
    if (source) {
        write(src + "/d1/clash", "a file here", "2020-06-01 12:00:00");
        write(src + "/d2/ancient", "1970", "1975-01-01 00:00:00");
    } else {
        MakeTree(dst, {{"d1/clash/", ""}});
        write(dst + "/d2/ancient", "old", "2019-01-01 00:00:00");
    }
}

struct PassResult
{
    std::string log;
    Tree target;
};

// A forward pass from one source into a fresh target, by one thread or two.
class ParallelCopy : public ::testing::Test
{
protected:
    ParallelCopy() { MakeMixedTrees(src, ""); }

    PassResult RunForwardPass(bool parallel, const std::function<void(MirrorEngine&)>& onEvents = {})
    {
        const std::string dst = temp / ("dst" + std::to_string(++m_passes));
        MakeMixedTrees(src, dst);
        FailingParallelFileSystem fs(parallel);
        FakeHost host;
        MirrorEngine engine(fs, host, temp.Path());
        engine.GetCopyFiles(src, dst);
        if (onEvents) {
            host.onProcessEvents = [&] { onEvents(engine); };
        }
        engine.ExeCopyFiles(true, src, dst, false);
        // The target folder's name is made the same for every pass, so that logs compare.
        std::string log = ReadFile(engine.LogPath());
        for (std::size_t at = log.find(dst); at != std::string::npos; at = log.find(dst)) {
            log.replace(at, dst.size(), "<dst>");
        }
        return {log, ReadTree(dst)};
    }

    TempFolder temp;
    const std::string src = temp / "src";

private:
    int m_passes = 0;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(ParallelCopy, GivesTheSameLogAndTargetAsOneThread)
{
    PassResult alone = RunForwardPass(false);
    PassResult together = RunForwardPass(true);
    EXPECT_EQ(together.log, alone.log);
    EXPECT_EQ(together.target, alone.target);
    // The trees hold every kind of line, so the comparison means something.
    for (const char* word :
         {"上書きコピー\r", "追加コピー\r", "上書きコピー【失敗】", "追加コピー【失敗】"}) {
        EXPECT_NE(alone.log.find(word), std::string::npos) << word;
    }
}

TEST_F(ParallelCopy, AnAbortStopsWhereOneThreadWouldStop)
{
    const std::vector<std::string> full = Lines(RunForwardPass(false).log);
    for (long abortAfter : {1, 10, 60}) {
        SCOPED_TRACE(abortAfter);
        std::string logAtAbort;
        PassResult result = RunForwardPass(true, [&](MirrorEngine& engine) {
            std::string log = ReadFile(engine.LogPath());
            if (logAtAbort.empty() && std::count(log.begin(), log.end(), '\n') >= abortAfter) {
                logAtAbort = log;
                engine.SetAborted(true);
            }
        });
        // Nothing was carried out after the press was handled, and the lines are the first lines
        // of the whole pass's log, without gap or summary.
        EXPECT_EQ(Lines(result.log), Lines(logAtAbort));
        const std::vector<std::string> lines = Lines(result.log);
        ASSERT_LT(lines.size(), full.size());
        EXPECT_TRUE(std::equal(lines.begin(), lines.end(), full.begin()));
        // A target file that a copy wrote (its content starts "new/") has its line in the log.
        for (const auto& [path, content] : result.target) {
            if (content.rfind("new/", 0) == 0) {
                EXPECT_NE(result.log.find(src + "/" + path + " ("), std::string::npos) << path;
            }
        }
    }
}

// Whichever thread copies a large file, an abort pressed while it is under way stops it between
// two steps: the old target stays, its temporary file goes, and nothing is logged for it.
TEST(ParallelCopyLarge, AnAbortStopsALargeCopyInEitherThread)
{
    TempFolder temp;
    const std::string src = temp / "src";
    const std::string dst = temp / "dst";
    Tree small;
    for (int i = 0; i < 100; ++i) {
        small["a/f" + std::to_string(i)] = "small " + std::to_string(i);
    }
    // The small files are up to date, so neither thread is busy elsewhere while the large file is
    // copied: the one copying it hears the press, or the other waits for it and hears it.
    MakeTree(src, small);
    MakeTree(dst, small);
    for (const auto& [path, content] : small) {
        SetTime(src + "/" + path, "2020-01-01 00:00:00");
        SetTime(dst + "/" + path, "2020-01-01 00:00:00");
    }
    WriteFile(src + "/a/big", std::string(16 * PosixFileSystem::kCopyStep, 'n'));
    WriteFile(dst + "/a/big", "old");
    SetTime(dst + "/a/big", "2001-01-01 00:00:00");
    FailingParallelFileSystem fs(true);
    FakeHost host;
    MirrorEngine engine(fs, host, temp.Path());
    engine.GetCopyFiles(src, dst);
    // Pressed once the copy of the large file has written its first steps.
    auto temporarySize = [&dst] {
        off_t size = 0;
        if (DIR* dir = ::opendir((dst + "/a").c_str())) {
            while (struct dirent* entry = ::readdir(dir)) {
                struct stat info = {};
                if (std::string(entry->d_name).rfind(".ostrel-", 0) == 0
                    && ::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0) {
                    size = std::max(size, info.st_size);
                }
            }
            ::closedir(dir);
        }
        return static_cast<std::size_t>(size);
    };
    host.onProcessEvents = [&] {
        if (temporarySize() >= PosixFileSystem::kCopyStep) {
            engine.SetAborted(true);
        }
    };
    engine.ExeCopyFiles(true, src, dst, false);
    ASSERT_TRUE(engine.IsAborted());
    EXPECT_EQ(ReadFile(dst + "/a/big"), "old");
    EXPECT_EQ(temporarySize(), 0u);
    const std::string log = ReadFile(engine.LogPath());
    EXPECT_EQ(log.find(src + "/a/big ("), std::string::npos);
    EXPECT_EQ(log.find(std::string(65, '*')), std::string::npos);
}

TEST(ParallelCopyReverse, AFailedCopyIsNeverDeletedByTheReversePass)
{
    TempFolder temp;
    const std::string src = temp / "src";
    const std::string dst = temp / "dst";
    MakeMixedTrees(src, "");
    MakeMixedTrees(src, dst);
    FailingParallelFileSystem fs(true);
    FakeHost host;
    host.options[RunOption::Delete] = true;
    MirrorEngine engine(fs, host, temp.Path());
    engine.GetCopyFiles(src, dst);
    engine.GetDeleteFiles(src, dst);
    engine.ExeCopyFiles(true, src, dst, false);

    engine.ClearLists();
    engine.GetCopyFiles(dst, src);
    engine.GetDeleteFiles(dst, src);
    std::set<std::string> deleted(engine.DeleteList().begin(), engine.DeleteList().end());
    EXPECT_EQ(deleted.count(src + "/d0/f4-fail"), 0u);
    EXPECT_EQ(deleted.count(src + "/d4/f13-fail"), 0u);
}

} // namespace
} // namespace ostrel::test
