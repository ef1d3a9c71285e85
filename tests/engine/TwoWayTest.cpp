#include "EngineFixture.h"
#include "FakeRunHost.h"
#include "FakeVolumes.h"
#include "Programs.h"
#include "engine/RunDriver.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace ostrel::test {
namespace {

DirEntry Entry(const std::string& name, bool folder = false)
{
    DirEntry entry;
    entry.name = name;
    entry.attributes.folder = folder;
    return entry;
}

TEST(SourceListingTest, NamesFoldAsAFileSystemThatIgnoresCaseFoldsThem)
{
    const struct
    {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"Thesis.txt", "thesis.txt", true},
        {"PHOTOS", "photos", true},
        {"Ärger.txt", "ärger.TXT", true},
        {"ΣΟΦΙΑ", "σοφια", true},
        {"日本語", "日本語", true},
        {"a.txt", "b.txt", false},
        {"ab", "abc", false},
        {"Ä", "a", false},
        {"x\xff", "x\xfe", false},
        {"[", "a", false}, // '[' lies between 'Z' and 'a': folding must not reorder it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        const int ab = CompareFolded(c.a, c.b);
        EXPECT_EQ(ab == 0, c.same);
        EXPECT_EQ(ab, -CompareFolded(c.b, c.a));
    }
    EXPECT_GT(CompareFolded("a", "["), 0);
    EXPECT_GT(CompareFolded("A", "["), 0);

    const SourceListing listing(
        true, {Entry("b.txt"), Entry("A.txt"), Entry("a.txt"), Entry("Dir", true), Entry("dir"), Entry("c")});
    const std::vector<bool> twins = {false, false, true, false, true, false};
    for (std::size_t i = 0; i < twins.size(); ++i) {
        EXPECT_EQ(listing.IsTwin(i), twins[i]) << i;
    }
    for (const char* name : {"b.txt", "A.txt", "a.txt", "Dir", "dir", "c"}) {
        EXPECT_NE(listing.Find(name), nullptr) << name;
    }
    EXPECT_EQ(listing.Find("B.txt"), nullptr);
    EXPECT_EQ(*listing.Find("Dir"), SourceKind::Folder);
    EXPECT_EQ(listing.FindFolded("B.TXT"), std::optional<std::string>("b.txt"));
    EXPECT_EQ(listing.FindFolded("a.txt"), std::optional<std::string>("A.txt"));
    EXPECT_EQ(listing.FindFolded("c"), std::nullopt);
    EXPECT_EQ(listing.FindFolded("d"), std::nullopt);
}

// A run of the driver over copy sets of the real file system, listings sorted by name, with both
// directions and deletion on unless a test says otherwise.
struct TwoWayRun
{
    explicit TwoWayRun(const std::string& base = "/tmp")
        : temp(base)
        , src(temp / "src")
        , dst(temp / "dst")
        , engine(fs, host, temp / "log")
        , driver(host, host, engine, volumes, [] { return std::time_t(1039305900); })
    {
        MakeTree(temp / "log", {});
        volumes.types["/"] = DriveType::Fixed;
        fs.SortListings(true);
        host.options[RunOption::Link] = true;
        host.options[RunOption::Delete] = true;
        host.rows.push_back({{src, dst, " ", ""}, true});
    }

    void Run()
    {
        host.answers = {MessageAnswer::Ok};
        driver.ExeCopyLoop(true);
    }
    std::string Log() { return ReadFile(engine.LogPath()); }

    TempFolder temp;
    std::string src;
    std::string dst;
    FaultyFileSystem fs;
    FakeRunHost host;
    FakeVolumes volumes;
    MirrorEngine engine;
    RunDriver driver;
};

std::uint64_t Inode(const std::string& path)
{
    struct stat info
    {
    };
    return ::lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

void Rename(const std::string& from, const std::string& to)
{
    ASSERT_EQ(std::rename(from.c_str(), to.c_str()), 0) << from;
}

TEST(TwoWayTest, TheReversePassDeletesOnlyWhatTheForwardPassMirrored)
{
    const struct
    {
        const char* name;
        Tree source;
        Tree target;
        std::function<void(TwoWayRun&)> arrange;
        Tree sourceAfter;
        Tree targetAfter;
    } cases[] = {
        {"a subfolder that is not searched",
         {{"a.txt", "a"}, {"sub/", ""}, {"sub/b.txt", "b"}},
         {},
         [](TwoWayRun& run) { run.host.options[RunOption::SubFolder] = true; },
         {{"a.txt", "a"}, {"sub/", ""}, {"sub/b.txt", "b"}},
         {{"a.txt", "a"}}},
        {"empty folders, which both sides then hold",
         {{"empty/", ""}, {"outer/", ""}, {"outer/inner/", ""}},
         {},
         {},
         {{"empty/", ""}, {"outer/", ""}, {"outer/inner/", ""}},
         {{"empty/", ""}, {"outer/", ""}, {"outer/inner/", ""}}},
        {"a file saved while the run goes on",
         {{"a.txt", "a"}},
         {},
         [](TwoWayRun& run) {
             run.fs.Before(FsCall::Copy, run.dst + "/a.txt",
                           [&run] { WriteFile(run.src + "/notes.txt", "saved"); });
         },
         {{"a.txt", "a"}, {"notes.txt", "saved"}},
         {{"a.txt", "a"}}},
        {"a folder renamed while the run goes on, with a new photo in it",
         {{"photos/", ""}, {"photos/1.jpg", "1"}},
         {},
         [](TwoWayRun& run) {
             run.fs.Before(FsCall::Copy, run.dst + "/photos/1.jpg", [&run] {
                 Rename(run.src + "/photos", run.src + "/pictures");
                 WriteFile(run.src + "/pictures/2.jpg", "2");
             });
         },
         // The copy reads through the folder it had open; the target's copy comes back under the
         // old name, and nothing of the source is lost.
         {{"photos/", ""},
          {"photos/1.jpg", "1"},
          {"pictures/", ""},
          {"pictures/1.jpg", "1"},
          {"pictures/2.jpg", "2"}},
         {{"photos/", ""}, {"photos/1.jpg", "1"}}},
        {"a file saved again after the forward listing, which the target then lost",
         {{"a.txt", "a"}},
         {{"old.txt", "o"}},
         [](TwoWayRun& run) {
             run.fs.Before(FsCall::Delete, run.dst + "/old.txt", [&run] {
                 RemoveTree(run.dst + "/a.txt");
                 WriteFile(run.src + "/a.txt", "saved");
             });
         },
         {{"a.txt", "saved"}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TwoWayRun run;
        MakeTree(run.src, c.source);
        MakeTree(run.dst, c.target);
        if (c.arrange) {
            c.arrange(run);
        }
        run.Run();
        EXPECT_EQ(ReadTree(run.src), c.sourceAfter);
        EXPECT_EQ(ReadTree(run.dst), c.targetAfter);
    }
}

// What the forward pass mirrored and the target lost during the run still goes from the source.
TEST(TwoWayTest, AMirroredFileTheTargetLostIsDeletedFromTheSource)
{
    TwoWayRun run;
    // What the target keeps spares the reverse pass the question for a target that looks empty.
    MakeTree(run.src, {{"a.txt", "a"}, {"gone/", ""}, {"gone/b.txt", "b"}, {"keep.txt", "k"}});
    MakeTree(run.dst, {{"old.txt", "o"}});
    // Changes as old as the listing itself count as made after it; these are older.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    run.fs.Before(FsCall::Delete, run.dst + "/old.txt", [&run] {
        RemoveTree(run.dst + "/a.txt");
        RemoveTree(run.dst + "/gone");
    });
    run.Run();
    EXPECT_EQ(ReadTree(run.src), (Tree{{"keep.txt", "k"}}));
    const std::string log = run.Log();
    EXPECT_NE(log.find(run.src + "/a.txt  削除\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(run.src + "/gone/  フォルダ削除\r\n"), std::string::npos) << log;
}

// On a target that ignores letter case (here the fake's mode), a source entry renamed in case only
// is the target's entry renamed, never a deletion of it; a second name that differs from an earlier
// one only in case can't be copied there and says so.
TEST(TwoWayTest, NamesCompareAsATargetThatIgnoresCaseComparesThem)
{
    const std::string time = "2024-05-06 07:08:10";
    const std::string timeText = "2024/05/06 7:08:10";
    Tree photos;
    Tree renamedPhotos;
    for (int i = 0; i < 100; ++i) {
        photos["Photos/" + std::to_string(i) + ".jpg"] = std::to_string(i);
        renamedPhotos["photos/" + std::to_string(i) + ".jpg"] = std::to_string(i);
    }
    photos["Photos/"] = "";
    renamedPhotos["photos/"] = "";
    const struct
    {
        const char* name;
        Tree source;
        Tree target;
        const char* renamed; // a target entry that must keep its identity under the new name
        Tree targetAfter;
        std::string forwardLines; // "SRC" stands for the source folder
        long total;
        long added;
        long deleted = 0;
        std::string deleteLines = {}; // "DST" stands for the target folder
    } cases[] = {
        {"a file",
         {{"thesis.txt", "t"}},
         {{"Thesis.txt", "t"}},
         "thesis.txt",
         {{"thesis.txt", "t"}},
         "SRC/thesis.txt (" + timeText + ")  追加コピー\r\n",
         1,
         1},
        {"a folder of 100 files", renamedPhotos, photos, "photos", renamedPhotos, "", 0, 0},
        {"case twins",
         {{"A.txt", "upper"}, {"a.txt", "lower"}},
         {},
         nullptr,
         {{"A.txt", "upper"}},
         "SRC/A.txt (" + timeText + ")  追加コピー\r\nSRC/a.txt (" + timeText + ")  追加コピー【失敗】\r\n",
         2,
         1},
        {"folder twins",
         {{"Photos/", ""}, {"Photos/x", "1"}, {"photos/", ""}, {"photos/y", "2"}},
         {},
         nullptr,
         {{"Photos/", ""}, {"Photos/x", "1"}},
         "SRC/Photos/x (" + timeText + ")  追加コピー\r\nSRC/photos/y (" + timeText
             + ")  追加コピー【失敗】\r\n",
         2,
         1},
        {"a folder with a file gone from the source",
         {{"photos/", ""}, {"photos/a", "a"}},
         {{"Photos/", ""}, {"Photos/a", "a"}, {"Photos/old", "o"}},
         "photos",
         {{"photos/", ""}, {"photos/a", "a"}},
         "",
         0,
         0,
         1,
         "DST/photos/old  削除\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TwoWayRun run;
        run.fs.FoldCase(true);
        MakeTree(run.src, c.source);
        MakeTree(run.dst, c.target);
        for (const auto& tree : {std::make_pair(run.src, c.source), std::make_pair(run.dst, c.target)}) {
            for (const auto& [path, content] : tree.second) {
                if (path.back() != '/') {
                    SetTime(tree.first + "/" + path, time);
                }
            }
        }
        std::uint64_t before = 0;
        if (c.renamed) {
            for (const auto& [path, content] : c.target) {
                before = before ? before : Inode(run.dst + "/" + path.substr(0, path.find('/')));
            }
        }
        run.Run();
        EXPECT_EQ(ReadTree(run.src), c.source);
        EXPECT_EQ(ReadTree(run.dst), c.targetAfter);
        if (c.renamed) {
            EXPECT_EQ(Inode(run.dst + "/" + c.renamed), before) << "not renamed but copied";
        }
        std::string lines = c.forwardLines + c.deleteLines;
        for (std::size_t at = lines.find("SRC"); at != std::string::npos; at = lines.find("SRC")) {
            lines.replace(at, 3, run.src);
        }
        for (std::size_t at = lines.find("DST"); at != std::string::npos; at = lines.find("DST")) {
            lines.replace(at, 3, run.dst);
        }
        EXPECT_EQ(run.Log(),
                  lines + Summary(run.src, run.dst, c.total, 0, c.added, c.deleted)
                      + Summary(run.dst, run.src, 0, 0, 0, 0));
    }
}

// The same on a real exFAT stick, through the FUSE driver that users' systems mount it with; a
// log-only run beforehand logs the same.
TEST(TwoWayTest, OnAnExfatStickACaseOnlyRenameLosesNothingAndTwinsFail)
{
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a loop device needs root";
    }
    TempFolder images;
    const std::string image = images / "stick.img";
    std::string output;
    if (!MakeImage(image, "exfat", 32, output)) {
        GTEST_SKIP() << "no mkfs.exfat (exfatprogs): " << output;
    }
    TwoWayRun run;
    MakeTree(run.dst, {});
    FuseExfatDrive drive(image, run.dst);
    if (!drive.Mounted()) {
        GTEST_SKIP() << "no FUSE exFAT driver (exfat-fuse) or loop device: " << drive.Output();
    }
    Tree photos;
    for (int i = 0; i < 100; ++i) {
        photos["Photos/" + std::to_string(i) + ".jpg"] = std::to_string(i);
    }
    photos["Photos/"] = "";
    MakeTree(run.src, photos);
    run.Run();
    ASSERT_EQ(ReadTree(run.dst), photos);

    Rename(run.src + "/Photos", run.src + "/photos");
    WriteFile(run.src + "/Note.txt", "upper");
    WriteFile(run.src + "/note.txt", "lower");
    Tree renamed;
    for (const auto& [path, content] : photos) {
        renamed["p" + path.substr(1)] = content;
    }
    Tree sourceAfter = renamed;
    sourceAfter["Note.txt"] = "upper";
    sourceAfter["note.txt"] = "lower";
    run.host.options[RunOption::LogOnly] = true;
    run.Run();
    const std::string preview = run.Log();
    EXPECT_EQ(ReadTree(run.dst), photos);
    run.host.options[RunOption::LogOnly] = false;
    run.Run();
    EXPECT_EQ(run.Log(), preview);
    EXPECT_EQ(ReadTree(run.src), sourceAfter);
    renamed["Note.txt"] = "upper";
    EXPECT_EQ(ReadTree(run.dst), renamed);
    const std::string log = run.Log();
    EXPECT_EQ(log.find("  削除"), std::string::npos) << log;
    EXPECT_EQ(log.find("フォルダ削除"), std::string::npos) << log;
    EXPECT_NE(log.find(run.src + "/note.txt ("), std::string::npos) << log;
    EXPECT_NE(log.find(")  追加コピー【失敗】\r\n"), std::string::npos) << log;
}

// A log-only run of a two-way copy set with deletion logs what the real run then does, byte for
// byte, and changes nothing.
TEST(TwoWayTest, ALogOnlyRunLogsExactlyWhatTheRunDoes)
{
    TwoWayRun run;
    const Tree source = {
        {"a.txt", {"new", "2024-01-02 10:00:00"}},   {"back.txt", {"old", "2024-01-01 10:00:00"}},
        {"new.txt", {"n", "2023-06-01 08:00:00"}},   {"sub/", ""},
        {"sub/b.txt", {"b", "2023-06-02 08:00:00"}}, {"empty/", ""}};
    const Tree target = {
        {"a.txt", {"old", "2024-01-01 10:00:00"}},    {"back.txt", {"newer", "2024-01-02 10:00:00"}},
        {"old.txt", {"o", "2023-06-03 08:00:00"}},    {"gone/", ""},
        {"gone/x.txt", {"x", "2023-06-04 08:00:00"}}, {"only/", ""}};
    MakeTree(run.src, source);
    MakeTree(run.dst, target);
    run.host.options[RunOption::LogOnly] = true;
    run.Run();
    const std::string preview = run.Log();
    EXPECT_EQ(ReadTimedTree(run.src), source);
    EXPECT_EQ(ReadTimedTree(run.dst), target);

    run.host.options[RunOption::LogOnly] = false;
    run.Run();
    EXPECT_EQ(run.Log(), preview);
    EXPECT_EQ(ReadTimedTree(run.src), ReadTimedTree(run.dst));
    EXPECT_EQ(ReadFile(run.src + "/back.txt"), "newer");
    EXPECT_EQ(ReadTree(run.src).count("old.txt"), 0u);
}

// The failed copies of one copy set keep nothing in the next one, which mirrors onto that source.
TEST(TwoWayTest, FailedCopiesAreForgottenAtEachNewCopySet)
{
    TwoWayRun run;
    run.host.options[RunOption::Link] = false;
    const std::string other = run.temp / "other";
    const std::string otherTarget = run.temp / "other-target";
    MakeTree(run.src, {{"x.txt", "x"}});
    MakeTree(other, {{"keep.txt", "k"}});
    MakeTree(otherTarget, {});
    run.host.rows = {{{run.src, otherTarget, " ", ""}, true}, {{other, run.src, " ", ""}, true}};
    run.fs.Fail(FsCall::Copy, otherTarget + "/x.txt", ENOSPC);
    run.Run();
    EXPECT_EQ(ReadTree(run.src), (Tree{{"keep.txt", "k"}}));
    EXPECT_NE(run.Log().find(run.src + "/x.txt  削除\r\n"), std::string::npos);
}

} // namespace
} // namespace ostrel::test
