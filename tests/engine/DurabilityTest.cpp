#include "EngineFixture.h"
#include "Programs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace ostrel::test {
namespace {

// What a drive holds after a power cut: a copy of its image taken while it is mounted holds
// exactly what the file system had sent to the disk. Mounted, every file a pass touched must be
// its old or its new content, never empty or torn, at any moment of the pass and after it.
class DurabilityTest : public EngineTest, public ::testing::WithParamInterface<const char*>
{
protected:
    void Snapshot(const std::string& image, const std::string& copy)
    {
        std::ifstream in(image, std::ios::binary);
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        out << in.rdbuf();
    }

    // Mounts a snapshot and checks each file against its old and new content.
    void Check(const std::string& snapshot, const Tree& before, const Tree& after, bool complete)
    {
        const std::string place = temp / ("look-" + std::to_string(m_looks++));
        MakeTree(place, {});
        const std::string kind = GetParam();
        LoopDrive look(snapshot, place, kind == "xfs" ? "loop,nouuid" : "loop");
        ASSERT_TRUE(look.Mounted()) << look.Output();
        Tree found = ReadTree(place + "/backup");
        for (const auto& [path, content] : after) {
            SCOPED_TRACE(path);
            auto old = before.find(path);
            auto seen = found.find(path);
            if (complete) {
                EXPECT_TRUE(seen != found.end() && seen->second == content);
            } else if (seen != found.end()) {
                EXPECT_TRUE(seen->second == content || (old != before.end() && seen->second == old->second))
                    << "size " << seen->second.size();
            } else {
                EXPECT_TRUE(old == before.end()) << "an old file is gone";
            }
        }
    }

private:
    int m_looks = 0;
};

TEST_P(DurabilityTest, EveryFileIsItsOldOrItsNewContent)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a loop device needs root";
    }
    const std::string kind = GetParam();
    const std::string image = temp / "drive.img";
    std::string output;
    if (!MakeImage(image, kind, 300, output)) {
        GTEST_SKIP() << "no mkfs." << kind << ": " << output;
    }
    const std::string drive = temp / "drive";
    MakeTree(drive, {});
    LoopDrive mounted(image, drive);
    if (!mounted.Mounted()) {
        GTEST_SKIP() << "no loop devices here: " << mounted.Output();
    }

    Tree before;
    Tree after;
    for (int i = 0; i < 30; ++i) {
        const std::string name = "f" + std::to_string(100 + i);
        after[name] = std::string(static_cast<std::size_t>(40000 + i), static_cast<char>('a' + i % 26));
        if (i % 3 == 0) {
            before[name] = "old version " + name;
        }
    }
    src = temp / "src";
    dst = drive + "/backup";
    fs.SortListings(true);
    MakeTree(src, after);
    MakeTree(dst, before);
    for (const auto& [name, content] : before) {
        SetTime(dst + "/" + name, "2001-01-01 00:00:00");
    }
    ::sync();
    // The cut comes in the middle of the pass, and again just after it.
    fs.Before(FsCall::Copy, dst + "/f120", [&] { Snapshot(image, temp / "middle.img"); });
    RunPass();
    Snapshot(image, temp / "end.img");
    mounted.Unmount();
    Check(temp / "middle.img", before, after, false);
    Check(temp / "end.img", before, after, true);
}

INSTANTIATE_TEST_SUITE_P(FileSystems, DurabilityTest, ::testing::Values("ext4", "xfs"));

} // namespace
} // namespace ostrel::test
