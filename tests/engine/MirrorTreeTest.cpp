#include "EngineFixture.h"

#include <random>

namespace ostrel::test {
namespace {

// A generated tree of 10,000 files in nested folders, with seeded names, sizes and contents.
Tree GenerateTree(unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::string> folders = {""};
    Tree tree;
    for (int i = 0; i < 120; ++i) {
        std::string parent = folders[random() % folders.size()];
        std::string folder = parent + "d" + std::to_string(i) + (i % 7 == 0 ? " with blank" : "") + "/";
        folders.push_back(folder);
        tree[folder] = "";
    }
    for (int i = 0; i < 10000; ++i) {
        std::string folder = folders[random() % folders.size()];
        std::string name = folder + "f" + std::to_string(i) + (i % 11 == 0 ? ".日本語" : ".dat");
        tree[name] = std::string(random() % 64, static_cast<char>('a' + random() % 26));
    }
    return tree;
}

TEST(MirrorTree, MirrorsAGeneratedTreeAndASecondPassFindsNothingToDo)
{
    TempFolder temp;
    std::string src = temp / "source";
    std::string dst = temp / "target";
    PosixFileSystem fs(true); // with a second copy thread, as the program has it
    FakeHost host;
    host.options[RunOption::Delete] = true;
    MirrorEngine engine(fs, host, temp.Path());
    Tree tree = GenerateTree(20261209);
    MakeTree(src, tree);

    engine.GetCopyFiles(src, dst);
    engine.GetDeleteFiles(src, dst);
    EXPECT_EQ(engine.CopyList().size(), 10000u);
    engine.ExeCopyFiles(true, src, dst, false);
    EXPECT_EQ(ReadTree(dst), ReadTree(src));
    std::string log = ReadFile(engine.LogPath());
    EXPECT_NE(log.find(Summary(src, dst, 10000, 0, 10000, 0)), std::string::npos);

    engine.ClearLists();
    engine.GetCopyFiles(src, dst);
    engine.GetDeleteFiles(src, dst);
    engine.ExeCopyFiles(true, src, dst, false);
    EXPECT_EQ(ReadFile(engine.LogPath()), Summary(src, dst, 0, 0, 0, 0));
}

} // namespace
} // namespace ostrel::test
