#pragma once

#include "FakeHost.h"
#include "FaultyFileSystem.h"
#include "TestTree.h"
#include "engine/MirrorEngine.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace ostrel::test {

// A source and a target folder in a fresh temporary folder, the log folder beside them, and an
// engine working on the real file system through the fault-injecting layer.
class EngineTest : public ::testing::Test
{
protected:
    EngineTest()
        : src(temp / "src")
        , dst(temp / "dst")
        , logFolder(temp / "log")
        , engine(fs, host, logFolder)
    {
        ::mkdir(logFolder.c_str(), 0777);
    }

    // Lists both ways as a run's forward pass does with the current options and carries it out.
    void RunPass(bool firstOfRun = true, bool logOnly = false)
    {
        engine.ClearLists();
        engine.GetCopyFiles(src, dst);
        if (host.options[RunOption::Delete]) {
            engine.GetDeleteFiles(src, dst);
        }
        engine.ExeCopyFiles(firstOfRun, src, dst, logOnly);
    }

    std::string Log() const { return ReadFile(engine.LogPath()); }

    TempFolder temp;
    std::string src;
    std::string dst;
    std::string logFolder;
    FaultyFileSystem fs;
    FakeHost host;
    MirrorEngine engine;
};

// The summary block of a pass, as the log holds it.
inline std::string Summary(const std::string& from, const std::string& to, long total, long overwritten,
                           long added, long deleted)
{
    const std::string stars(65, '*');
    return "\r\n" + stars + "\r\n" + from + " --> " + to + "\r\n" + "コピーファイル総数  ： "
        + std::to_string(total) + "\r\n" + "上書きファイル数    ： " + std::to_string(overwritten) + "\r\n"
        + "追加　ファイル数    ： " + std::to_string(added) + "\r\n" + "削除　ファイル数    ： "
        + std::to_string(deleted) + "\r\n" + stars + "\r\n\r\n\r\n";
}

} // namespace ostrel::test
