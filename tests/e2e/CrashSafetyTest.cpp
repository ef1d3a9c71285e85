#include "TestTree.h"
#include "platform/AtomicFile.h"
#include "store/CopySetFile.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ostrel::test {
namespace {

using Clock = std::chrono::steady_clock;

// A run of the real program that is killed outright may leave the temporary file of the copy it
// was making, named ".ostrel-<pid>-<n>", beside that copy's target. Nothing else may be half done.
bool IsCopyTemporary(const std::string& relative)
{
    static const std::regex pattern(R"((.*/)?\.ostrel-[0-9]+-[0-9]+)");
    return std::regex_match(relative, pattern);
}

std::string Describe(const std::string* content)
{
    return content ? std::to_string(content->size()) + " bytes" : std::string("absent");
}

// At most a few lines on how one tree differs from another; the contents themselves can be MiB.
std::string Difference(const Tree& actual, const Tree& expected)
{
    std::ostringstream text;
    int shown = 0;
    auto show = [&](const std::string& path, const std::string* is, const std::string* should) {
        if (++shown <= 8) {
            text << "\n  " << path << ": " << Describe(is) << ", expected " << Describe(should);
        }
    };
    for (const auto& [path, content] : actual) {
        auto at = expected.find(path);
        if (at == expected.end()) {
            show(path, &content, nullptr);
        } else if (at->second != content) {
            show(path, &content, &at->second);
        }
    }
    for (const auto& [path, content] : expected) {
        if (!actual.count(path)) {
            show(path, nullptr, &content);
        }
    }
    if (shown > 8) {
        text << "\n  ... " << shown - 8 << " more";
    }
    return text.str();
}

// The entries below a folder entry ("x/"), relative to it.
Tree Subtree(const Tree& tree, const std::string& folder)
{
    Tree below;
    for (auto at = tree.upper_bound(folder); at != tree.end() && at->first.starts_with(folder); ++at) {
        below[at->first.substr(folder.size())] = at->second;
    }
    return below;
}

void AddFolders(Tree& tree)
{
    Tree folders;
    for (const auto& [path, content] : tree) {
        for (std::size_t slash = path.find('/'); slash != std::string::npos && slash + 1 < path.size();
             slash = path.find('/', slash + 1)) {
            folders[path.substr(0, slash + 1)] = "";
        }
    }
    tree.merge(folders);
}

enum class Kind {
    New, // only in the source: a first copy
    Stale, // in both, the source newer with other content: an overwrite
    Same, // in both with the same time and content: left alone
    TargetNewer, // in both, the target newer: left alone one way, copied back both ways
    Extra, // only in the target: kept, deleted, trashed or copied back, as the options say
};

struct Options
{
    bool remove; // chkDelete
    bool trash; // chkTrash
    bool twoWay; // chkLink
};

struct Scenario
{
    const char* name;
    Options options;
    std::vector<Kind> kinds;
};

void PrintTo(const Scenario& scenario, std::ostream* out)
{
    *out << scenario.name;
}

// The trees a scenario starts from and the trees an uninterrupted run leaves.
struct Trees
{
    Tree source0, target0, sourceFinal, targetFinal;
    std::map<std::string, std::time_t> sourceTimes, targetTimes;
};

std::string RandomBytes(std::mt19937_64& random, std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t value = random();
        for (std::size_t j = i; j < std::min(size, i + 8); ++j, value >>= 8) {
            bytes[j] = static_cast<char>(value & 0xff);
        }
    }
    return bytes;
}

// An older version of a content: half of them of the same size with one byte changed, so that only
// a comparison of contents tells the two apart.
std::string OtherVersion(std::mt19937_64& random, const std::string& content)
{
    if (!content.empty() && random() % 2 == 0) {
        std::string other = content;
        std::size_t at = random() % other.size();
        other[at] = static_cast<char>(other[at] ^ 0x5a);
        return other;
    }
    return RandomBytes(random, random() % 6000 + 1);
}

// A tree of some 250 small files in nested folders, a few larger ones of some hundred KiB, and
// three of 12 MiB, so that kills land in the middle of copies too.
Trees MakeTrees(const Scenario& scenario, std::mt19937_64& random)
{
    const std::time_t oldTime = LocalSeconds("2020-05-01 10:00:00");
    const std::time_t newTime = LocalSeconds("2023-05-01 10:00:00");
    std::vector<std::pair<std::string, std::size_t>> files;
    std::vector<std::string> folders = {""};
    for (int d = 0; d < 8; ++d) {
        folders.push_back("d" + std::to_string(d) + "/");
        folders.push_back("d" + std::to_string(d) + "/e/");
    }
    for (const std::string& folder : folders) {
        for (int f = 0; f < 14; ++f) {
            files.push_back({folder + "f" + std::to_string(f) + ".txt", random() % 6000});
        }
    }
    for (const char* medium : {"m0.dat", "d2/m1.dat", "d3/e/m2.dat", "d5/m3.dat"}) {
        files.push_back({medium, 128 * 1024 + random() % (384 * 1024)});
    }
    const std::set<std::string> big = {"big0.bin", "d0/big1.bin", "d1/e/big2.bin"};
    for (const std::string& name : big) {
        files.push_back({name, 12 * 1024 * 1024});
    }

    std::vector<Kind> bigKinds;
    for (Kind kind : scenario.kinds) {
        if (kind == Kind::New || kind == Kind::Stale) {
            bigKinds.push_back(kind);
        }
    }
    Trees trees;
    int step = 0;
    auto place = [&](const std::string& path, Kind kind, const std::string& content) {
        const std::time_t later = newTime + 2 * step++;
        switch (kind) {
        case Kind::New:
            trees.source0[path] = trees.sourceFinal[path] = trees.targetFinal[path] = content;
            trees.sourceTimes[path] = later;
            break;
        case Kind::Stale:
            trees.source0[path] = trees.sourceFinal[path] = trees.targetFinal[path] = content;
            trees.target0[path] = OtherVersion(random, content);
            trees.sourceTimes[path] = later;
            trees.targetTimes[path] = oldTime;
            break;
        case Kind::Same:
            trees.source0[path] = trees.target0[path] = content;
            trees.sourceFinal[path] = trees.targetFinal[path] = content;
            trees.sourceTimes[path] = trees.targetTimes[path] = later;
            break;
        case Kind::TargetNewer:
            trees.target0[path] = trees.targetFinal[path] = content;
            trees.source0[path] = OtherVersion(random, content);
            trees.sourceFinal[path] = scenario.options.twoWay ? content : trees.source0[path];
            trees.sourceTimes[path] = oldTime;
            trees.targetTimes[path] = later;
            break;
        case Kind::Extra:
            trees.target0[path] = content;
            if (!scenario.options.remove) {
                trees.targetFinal[path] = content;
            }
            // Both ways with deletion, the forward pass deletes it before the reverse pass looks.
            if (scenario.options.twoWay && !scenario.options.remove) {
                trees.sourceFinal[path] = content;
            }
            trees.targetTimes[path] = later;
            break;
        }
    };
    for (const auto& [path, size] : files) {
        const std::vector<Kind>& kinds = big.count(path) ? bigKinds : scenario.kinds;
        place(path, kinds[random() % kinds.size()], RandomBytes(random, size));
    }
    // Whole folders that only the target has.
    if (std::count(scenario.kinds.begin(), scenario.kinds.end(), Kind::Extra)) {
        for (const char* path : {"x0/a.txt", "x0/b.txt", "x0/sub/c.txt", "x0/sub/d.txt", "d4/x1/e.txt",
                                 "d4/x1/f.txt", "x2/deep/er/g.txt"}) {
            place(path, Kind::Extra, RandomBytes(random, random() % 6000));
        }
    }
    for (Tree* tree : {&trees.source0, &trees.target0, &trees.sourceFinal, &trees.targetFinal}) {
        AddFolders(*tree);
    }
    return trees;
}

void WriteTree(const std::string& folder, const Tree& tree, const std::map<std::string, std::time_t>& times)
{
    RemoveTree(folder);
    MakeTree(folder, tree);
    for (const auto& [path, time] : times) {
        if (tree.count(path)) {
            struct timespec stamps[2]{};
            stamps[0].tv_sec = stamps[1].tv_sec = time;
            ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "/" + path).c_str(), stamps, 0), 0) << path;
        }
    }
}

// Makes a tree of hard links to the files of a pristine tree, so that a reset writes no data. The
// program never writes into an existing file: a copy puts a new file in its place, and a deletion
// or a move to the trash takes only the name. The test checks at its end that this held.
void LinkTree(const std::string& pristine, const std::string& folder)
{
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0) << folder;
    DIR* dir = ::opendir(pristine.c_str());
    ASSERT_NE(dir, nullptr) << pristine;
    while (struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (entry->d_type == DT_DIR) {
            LinkTree(pristine + "/" + name, folder + "/" + name);
        } else {
            EXPECT_EQ(::link((pristine + "/" + name).c_str(), (folder + "/" + name).c_str()), 0) << name;
        }
    }
    ::closedir(dir);
}

// What the desktop's trash holds: each trashed entry by the path it came from, read from its
// .trashinfo, and the entries whose .trashinfo gives no path.
struct Trash
{
    std::map<std::string, std::string> byOrigin; // original path -> name under files/
    std::set<std::string> files; // names under files/
    std::set<std::string> withoutOrigin; // names under files/ whose .trashinfo is empty or missing
    std::set<std::string> orphanInfos; // .trashinfo files with nothing under files/
};

Trash ReadTrash(const std::string& folder)
{
    Trash trash;
    for (const auto& [path, content] : ReadTree(folder + "/files")) {
        if (path.find('/') == std::string::npos || path.find('/') == path.size() - 1) {
            trash.files.insert(path.back() == '/' ? path.substr(0, path.size() - 1) : path);
        }
    }
    std::set<std::string> described;
    for (const auto& [name, content] : ReadTree(folder + "/info")) {
        const std::string suffix = ".trashinfo";
        if (!name.ends_with(suffix)) {
            continue;
        }
        std::string stem = name.substr(0, name.size() - suffix.size());
        auto at = content.find("\nPath=");
        if (!trash.files.count(stem)) {
            trash.orphanInfos.insert(name);
        } else if (at != std::string::npos) {
            auto end = content.find('\n', at + 1);
            QByteArray encoded = QByteArray::fromStdString(content.substr(at + 6, end - at - 6));
            trash.byOrigin[QByteArray::fromPercentEncoding(encoded).toStdString()] = stem;
            described.insert(stem);
        }
    }
    for (const std::string& name : trash.files) {
        if (!described.count(name)) {
            trash.withoutOrigin.insert(name);
        }
    }
    return trash;
}

struct Stats
{
    int kills = 0;
    int untouched = 0; // killed before anything had changed
    int partial = 0; // killed with part of the work done
    int leftTemporary = 0; // kills that left a new temporary file
    int largeTemporary = 0; // ... of at least 1 MiB: killed inside the copy of a larger file
    int finishedFirst = 0; // runs that ended before their kill came
    std::set<std::string> trashWithoutOrigin; // left by a kill inside the trash move, after the move
    std::set<std::string> orphanInfos; // left by a kill inside the trash move, before the move
    std::set<std::string> temporaries;
    std::set<std::string> savesCutShort; // temporary files of a copy-set file's save
};

std::uint64_t Seed()
{
    if (const char* text = std::getenv("OSTREL_CRASH_SEED")) {
        return std::strtoull(text, nullptr, 10);
    }
    return std::random_device{}() ^ (static_cast<std::uint64_t>(std::random_device{}()) << 32);
}

// Kills in a row on the same trees before a run goes to its end and the trees are reset.
constexpr int kKillsInARow = 3;

// Kills per scenario; six scenarios make 54 kills.
constexpr int kKillsPerScenario = 9;

// The real program on one copy set from "source" to "target" in a temporary folder, run unattended
// ("Parvane FILE /A") with its settings, trash and log in that folder too.
class ParvaneRunTest : public ::testing::Test
{
protected:
    ParvaneRunTest()
    {
        program = temp / "Parvane";
        WriteFile(program, ReadFile(PARVANE_PATH));
        ::chmod(program.c_str(), 0755);
        source = temp / "source";
        target = temp / "target";
        setFile = temp / "sets.dat";
        trashFolder = temp / "data/Trash";
        ::mkdir((temp / "runtime").c_str(), 0700);
        WriteFile(setFile, FormatCopySets({{source, target, " ", ""}}));
        // Fontconfig leaks a little when the configuration folder's path is long (near 100 bytes),
        // which LeakSanitizer reports as a failure of the program; so the settings live in a folder
        // with a short name.
        std::string pattern = "/tmp/ostrel-config.XXXXXX";
        if (::mkdtemp(pattern.data())) {
            config = pattern;
        }
    }
    ~ParvaneRunTest() override
    {
        if (!config.empty()) {
            RemoveTree(config);
        }
    }
    ParvaneRunTest(const ParvaneRunTest&) = delete;
    ParvaneRunTest& operator=(const ParvaneRunTest&) = delete;

    void WriteSettings(const Options& options)
    {
        auto flag = [](bool on) { return on ? "-1" : "0"; };
        ASSERT_FALSE(config.empty()) << "no folder for the settings";
        WriteFile(config + "/Kivora/Velmor.conf",
                  std::string("[Setting]\nchkDelete=") + flag(options.remove)
                      + "\nchkTrash=" + flag(options.trash) + "\nchkLink=" + flag(options.twoWay) + "\n");
    }

    struct RunResult
    {
        bool killed = false;
        double seconds = 0;
    };

    // Runs the program to its end, or kills it after a delay in seconds.
    RunResult Run(std::optional<double> killAfter)
    {
        std::vector<std::string> settings = {
            "QT_QPA_PLATFORM=offscreen",
            "XDG_CONFIG_HOME=" + config,
            "XDG_DATA_HOME=" + temp / "data",
            "XDG_RUNTIME_DIR=" + temp / "runtime",
            "TZ=JST-9",
        };
        std::vector<std::string> environment = settings;
        for (char** entry = environ; *entry; ++entry) {
            std::string text = *entry;
            std::string key = text.substr(0, text.find('=') + 1);
            if (std::none_of(settings.begin(), settings.end(),
                             [&](const std::string& set) { return set.starts_with(key); })) {
                environment.push_back(text);
            }
        }
        std::vector<char*> envp;
        for (std::string& text : environment) {
            envp.push_back(text.data());
        }
        envp.push_back(nullptr);
        std::string all = "/A";
        std::vector<char*> argv = {program.data(), setFile.data(), all.data(), nullptr};

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string output = temp / "parvane.out";
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        const Clock::time_point start = Clock::now();
        int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        RunResult result;
        if (spawned != 0) {
            ADD_FAILURE() << "Parvane could not be started: " << spawned;
            return result;
        }
        int status = 0;
        if (killAfter) {
            std::this_thread::sleep_until(start + std::chrono::duration<double>(*killAfter));
            ::kill(pid, SIGKILL); // a program that ended already is a zombie until the wait below
            ::waitpid(pid, &status, 0);
        } else {
            while (::waitpid(pid, &status, WNOHANG) == 0) {
                if (Clock::now() - start > std::chrono::seconds(300)) {
                    ::kill(pid, SIGKILL);
                    ::waitpid(pid, &status, 0);
                    ADD_FAILURE() << "Parvane did not end by itself";
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        if (!result.killed && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
            ADD_FAILURE() << "Parvane ended with status " << status << "\n" << ReadFile(output);
        }
        return result;
    }

    static bool IsFolder(const std::string& path)
    {
        struct stat info
        {
        };
        return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }

    TempFolder temp;
    std::string config;
    std::string program;
    std::string source;
    std::string target;
    std::string setFile;
    std::string trashFolder;
};

// The real program, killed with SIGKILL at random moments of its unattended run over a generated
// tree. After every kill each file of both trees must be absent, the old version or a complete
// copy, nothing may be lost, and a run to its end must finish the mirror.
class CrashSafetyTest : public ParvaneRunTest, public ::testing::WithParamInterface<Scenario>
{
protected:
    void Reset()
    {
        if (!IsFolder(temp / "pristine")) {
            WriteTree(temp / "pristine/source", trees.source0, trees.sourceTimes);
            WriteTree(temp / "pristine/target", trees.target0, trees.targetTimes);
        }
        RemoveTree(target);
        LinkTree(temp / "pristine/target", target);
        // One way, the source is never written; a run that did write it fails its check.
        if (GetParam().options.twoWay || !IsFolder(source)) {
            RemoveTree(source);
            LinkTree(temp / "pristine/source", source);
        }
        RemoveTree(trashFolder);
    }

    // Every entry of a tree is its old version or its final one; whatever both versions have is
    // still there. Temporary files are gathered, and allowed only where this run writes.
    void CheckTree(const char* which, const Tree& now, const Tree& initial, const Tree& final,
                   bool temporariesAllowed, std::vector<std::string>& temporaries)
    {
        int faults = 0;
        auto fault = [&](const std::string& text) {
            if (++faults <= 8) {
                ADD_FAILURE() << which << ": " << text;
            }
        };
        for (const auto& [path, content] : now) {
            if (IsCopyTemporary(path)) {
                if (!temporariesAllowed) {
                    fault(path + " is a temporary file where this run never copies to");
                }
                temporaries.push_back(path);
                continue;
            }
            auto old = initial.find(path);
            auto done = final.find(path);
            if (old == initial.end() && done == final.end()) {
                fault(path + " should not exist (" + std::to_string(content.size()) + " bytes)");
            } else if (!(old != initial.end() && old->second == content)
                       && !(done != final.end() && done->second == content)) {
                fault(path + " is neither the old version ("
                      + Describe(old == initial.end() ? nullptr : &old->second) + ") nor a complete copy ("
                      + Describe(done == final.end() ? nullptr : &done->second)
                      + "): " + std::to_string(content.size()) + " bytes");
            }
        }
        for (const auto& [path, content] : initial) {
            if (final.count(path) && !now.count(path)) {
                fault(path + " is lost");
            }
        }
    }

    // The entries a deletion takes away whole: in the starting target, not in the final one, and
    // directly in a folder that stays.
    std::vector<std::string> DeletedUnits() const
    {
        std::vector<std::string> units;
        for (const auto& [path, content] : trees.target0) {
            if (trees.targetFinal.count(path)) {
                continue;
            }
            std::string trimmed = path.back() == '/' ? path.substr(0, path.size() - 1) : path;
            auto slash = trimmed.rfind('/');
            if (slash == std::string::npos || trees.targetFinal.count(trimmed.substr(0, slash + 1))) {
                units.push_back(path);
            }
        }
        return units;
    }

    // Every entry the run deletes to the trash is either whole in the target or whole in the trash
    // with the .trashinfo that tells where it came from; nothing else is in the trash.
    void CheckTrash(const Tree& now, bool allMoved, Stats& stats)
    {
        Trash trash = ReadTrash(trashFolder);
        for (const std::string& name : trash.orphanInfos) {
            stats.orphanInfos.insert(std::to_string(round) + "/" + name);
        }
        if (!GetParam().options.trash) {
            EXPECT_TRUE(trash.files.empty()) << "the trash is used without the option";
            return;
        }
        std::set<std::string> accounted;
        for (const std::string& unit : DeletedUnits()) {
            const bool folder = unit.back() == '/';
            const std::string trimmed = folder ? unit.substr(0, unit.size() - 1) : unit;
            const Tree before = folder ? Subtree(trees.target0, unit) : Tree{};
            if (now.count(unit)) {
                EXPECT_FALSE(allMoved) << unit << " is still in the target";
                if (folder && Subtree(now, unit) != before) {
                    ADD_FAILURE() << unit << " is in the target with only part of its content:"
                                  << Difference(Subtree(now, unit), before);
                }
                continue;
            }
            auto matches = [&](const std::string& name) {
                const std::string path = trashFolder + "/files/" + name;
                return folder ? ReadTree(path) == before && IsFolder(path)
                              : !IsFolder(path) && ReadFile(path) == trees.target0.at(unit);
            };
            auto origin = trash.byOrigin.find(target + "/" + trimmed);
            if (origin != trash.byOrigin.end()) {
                EXPECT_TRUE(matches(origin->second)) << unit << " is not whole in the trash";
                accounted.insert(origin->second);
                continue;
            }
            // A kill inside the trash move can leave the entry in the trash before its .trashinfo
            // is written; the content must still be there.
            auto found = std::find_if(trash.withoutOrigin.begin(), trash.withoutOrigin.end(), matches);
            if (found != trash.withoutOrigin.end()) {
                stats.trashWithoutOrigin.insert(std::to_string(round) + "/" + *found);
                accounted.insert(*found);
            } else {
                ADD_FAILURE() << unit << " is lost: neither in the target nor in the trash";
            }
        }
        for (const std::string& name : trash.files) {
            EXPECT_TRUE(accounted.count(name))
                << "the trash holds " << name << ", which was not to be deleted";
        }
    }

    // The copy-set file, saved at the end of the run through a temporary file and a rename, is
    // always whole.
    void CheckCopySetFile()
    {
        std::vector<CopySet> sets;
        EXPECT_EQ(ReadCopySetFile(setFile, sets), 0);
        ASSERT_EQ(sets.size(), 1u) << "the copy-set file is damaged";
        EXPECT_EQ(sets[0].source, source);
        EXPECT_EQ(sets[0].target, target);
    }

    // The temporary files of saves of the copy-set file that a kill cut short.
    std::set<std::string> SaveTemporaries()
    {
        std::set<std::string> names;
        if (DIR* dir = ::opendir(temp.Path().c_str())) {
            while (struct dirent* entry = ::readdir(dir)) {
                if (IsTemporaryName(entry->d_name)) {
                    names.insert(entry->d_name);
                }
            }
            ::closedir(dir);
        }
        return names;
    }

    void CheckAfterKill(Stats& stats)
    {
        const Tree sourceNow = ReadTree(source);
        const Tree targetNow = ReadTree(target);
        std::vector<std::string> temporaries;
        CheckTree("target", targetNow, trees.target0, trees.targetFinal, true, temporaries);
        CheckTree("source", sourceNow, trees.source0, trees.sourceFinal, GetParam().options.twoWay,
                  temporaries);
        CheckTrash(targetNow, false, stats);
        CheckCopySetFile();
        for (const std::string& name : SaveTemporaries()) {
            stats.savesCutShort.insert(std::to_string(round) + "/" + name);
        }

        ++stats.kills;
        if (sourceNow == trees.source0 && targetNow == trees.target0) {
            ++stats.untouched;
        } else if (sourceNow != trees.sourceFinal || targetNow != trees.targetFinal) {
            ++stats.partial;
        }
        bool fresh = false;
        bool large = false;
        for (const std::string& path : temporaries) {
            if (stats.temporaries.insert(path).second) {
                fresh = true;
                const Tree& tree = targetNow.count(path) ? targetNow : sourceNow;
                large = large || tree.at(path).size() >= 1024 * 1024;
            }
        }
        stats.leftTemporary += fresh ? 1 : 0;
        stats.largeTemporary += large ? 1 : 0;
    }

    // After a run to its end both trees are exactly what an uninterrupted run makes: no temporary
    // file is left, and none has been copied to the other side.
    void CheckFinal(Stats& stats)
    {
        const Tree sourceNow = ReadTree(source);
        const Tree targetNow = ReadTree(target);
        EXPECT_TRUE(targetNow == trees.targetFinal) << "target:" << Difference(targetNow, trees.targetFinal);
        EXPECT_TRUE(sourceNow == trees.sourceFinal) << "source:" << Difference(sourceNow, trees.sourceFinal);
        CheckTrash(targetNow, true, stats);
        CheckCopySetFile();
        EXPECT_TRUE(SaveTemporaries().empty()) << "a save cut short left its temporary file for good";
    }

    Trees trees;
    int round = 0; // the trees are reset for each round of kills
};

TEST_P(CrashSafetyTest, KillsAtRandomMomentsLoseNothing)
{
    const Scenario& scenario = GetParam();
    const std::uint64_t seed = Seed();
    std::cout << "[   seed   ] " << seed << " (OSTREL_CRASH_SEED=" << seed << " replays it)" << std::endl;
    RecordProperty("seed", std::to_string(seed));
    SCOPED_TRACE("OSTREL_CRASH_SEED=" + std::to_string(seed));
    std::mt19937_64 random(seed ^ std::hash<std::string>{}(scenario.name));
    trees = MakeTrees(scenario, random);
    WriteSettings(scenario.options);

    // An uninterrupted run first: it must mirror, and its duration spreads the kills.
    Stats stats;
    Reset();
    double span = Run(std::nullopt).seconds;
    CheckFinal(stats);
    ASSERT_FALSE(HasFailure()) << "an uninterrupted run does not mirror";

    Reset();
    int killsThisRound = 0;
    while (stats.kills < kKillsPerScenario) {
        const double delay = std::uniform_real_distribution<double>(0, span)(random);
        SCOPED_TRACE("kill " + std::to_string(stats.kills + 1) + " after " + std::to_string(delay) + " s");
        RunResult run = Run(delay);
        if (run.killed) {
            CheckAfterKill(stats);
            ASSERT_FALSE(HasFailure());
            // The runs that follow a kill are killed too, up to three in a row, before one goes to
            // its end; a run that ends before its kill is that last one.
            if (++killsThisRound < kKillsInARow) {
                continue;
            }
            run = Run(std::nullopt);
            ASSERT_FALSE(run.killed);
        } else {
            ++stats.finishedFirst;
            if (killsThisRound == 0) {
                span = run.seconds; // a run from the start that nothing stopped: a fresh measure
            }
        }
        CheckFinal(stats);
        ASSERT_FALSE(HasFailure());
        Reset();
        ++round;
        killsThisRound = 0;
    }
    EXPECT_TRUE(ReadTree(temp / "pristine/source") == trees.source0) << "a run wrote into a source file";
    EXPECT_TRUE(ReadTree(temp / "pristine/target") == trees.target0) << "a run wrote into a target file";
    std::cout << "[  kills   ] " << scenario.name << ": runs of " << span << " s; " << stats.kills
              << " kills survived (" << stats.untouched << " before any change, " << stats.partial
              << " with part of the work done, " << stats.leftTemporary << " leaving a temporary file, "
              << stats.largeTemporary << " of them inside a copy of 1 MiB or more); " << stats.finishedFirst
              << " runs ended before their kill; " << stats.trashWithoutOrigin.size()
              << " trashed entries without .trashinfo, " << stats.orphanInfos.size()
              << " orphan .trashinfo files; " << stats.savesCutShort.size()
              << " saves of the copy-set file cut short" << std::endl;
    RecordProperty("kills", stats.kills);
}

const Scenario kScenarios[] = {
    {"FirstCopies", {false, false, false}, {Kind::New}},
    {"Overwrites", {false, false, false}, {Kind::Stale}},
    {"DeleteOutright", {true, false, false}, {Kind::New, Kind::Stale, Kind::Same, Kind::Extra}},
    {"DeleteToTrash", {true, true, false}, {Kind::New, Kind::Stale, Kind::Same, Kind::Extra}},
    {"BothWays", {false, false, true}, {Kind::New, Kind::Stale, Kind::Same, Kind::TargetNewer, Kind::Extra}},
    {"BothWaysWithDelete",
     {true, false, true},
     {Kind::New, Kind::Stale, Kind::Same, Kind::TargetNewer, Kind::Extra}},
};

INSTANTIATE_TEST_SUITE_P(Kills, CrashSafetyTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& param) { return param.param.name; });

// The id of a process that has ended.
pid_t EndedProcess()
{
    pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

Tree WithoutTemporaries(const Tree& tree)
{
    Tree rest;
    for (const auto& [path, content] : tree) {
        if (!IsCopyTemporary(path)) {
            rest[path] = content;
        }
    }
    return rest;
}

std::set<std::string> Temporaries(const Tree& tree)
{
    std::set<std::string> names;
    for (const auto& [path, content] : tree) {
        if (IsCopyTemporary(path)) {
            names.insert(path);
        }
    }
    return names;
}

struct LeftoverCase
{
    const char* name;
    Options options;
};

void PrintTo(const LeftoverCase& row, std::ostream* out)
{
    *out << row.name;
}

// What killed runs left in both trees: never copied to the other tree, never deleted or trashed as
// the user's file, never in the log; gone once a pass looks into its folder in the tree it copies
// to, unless its process lives.
class LeftoverTest : public ParvaneRunTest, public ::testing::WithParamInterface<LeftoverCase>
{
};

TEST_P(LeftoverTest, NeverCopiedAndGoneAfterACopy)
{
    const Options options = GetParam().options;
    const std::string ended = std::to_string(EndedProcess());
    const std::string living = std::to_string(::getpid());
    const std::string sourceLeftover = "sub/.ostrel-" + ended + "-4";
    const std::string swept[] = {".ostrel-" + ended + "-2", "sub/.ostrel-" + ended + "-1",
                                 "quiet/.ostrel-" + ended + "-3"};
    const std::string kept = "keep/.ostrel-" + living + "-5";
    MakeTree(
        source,
        {{"a", "new"}, {"sub/b", "new b"}, {"keep/k", "k"}, {"quiet/q", "q"}, {sourceLeftover, "half of r"}});
    MakeTree(target,
             {{swept[0], ""},
              {swept[1], "half of"},
              {kept, "still being written"},
              {swept[2], "left in a folder where nothing is copied"},
              {"quiet/q", "q"},
              {"sub/r", "only in the target"}});
    SetTime(source + "/quiet/q", "2020-01-01 00:00:00");
    SetTime(target + "/quiet/q", "2020-01-01 00:00:00");
    WriteSettings(options);
    const std::string savedList = ".ostrel-" + ended + "-0"; // a save of the list cut short
    WriteFile(temp / savedList, "half a list");
    RemoveTree(trashFolder);
    RunResult run = Run(std::nullopt);
    ASSERT_FALSE(run.killed);

    // The reverse pass copies "r" into the source's "sub" unless the forward pass deleted it; either
    // way it looks into the source's "sub".
    const bool reverseCopies = options.twoWay && !options.remove;
    Tree mirrored = {{"a", "new"},    {"sub/", ""},   {"sub/b", "new b"}, {"keep/", ""},
                     {"keep/k", "k"}, {"quiet/", ""}, {"quiet/q", "q"}};
    Tree expectedSource = mirrored;
    Tree expectedTarget = mirrored;
    if (!options.remove) {
        expectedTarget["sub/r"] = "only in the target";
    }
    if (reverseCopies) {
        expectedSource["sub/r"] = "only in the target";
    }
    const Tree sourceNow = ReadTree(source);
    const Tree targetNow = ReadTree(target);
    EXPECT_EQ(WithoutTemporaries(sourceNow), expectedSource);
    EXPECT_EQ(WithoutTemporaries(targetNow), expectedTarget);

    std::set<std::string> targetLeft = Temporaries(targetNow);
    for (const std::string& path : swept) {
        EXPECT_EQ(targetLeft.count(path), 0u)
            << path << " is still there after a pass looked into its folder";
    }
    EXPECT_EQ(targetLeft.count(kept), 1u) << "the temporary file of a living process is gone";
    const std::set<std::string> planted = {swept[0], swept[1], swept[2], kept};
    for (const std::string& path : targetLeft) {
        EXPECT_EQ(planted.count(path), 1u) << path << " was copied into the target";
    }
    std::set<std::string> sourceLeft = Temporaries(sourceNow);
    EXPECT_EQ(sourceLeft, options.twoWay ? std::set<std::string>{} : std::set<std::string>{sourceLeftover})
        << "a temporary file was copied into the source, or stayed after a pass looked into its folder";
    EXPECT_TRUE(Temporaries(ReadTree(trashFolder + "/files")).empty())
        << "a temporary file went to the trash";
    EXPECT_EQ(ReadFile(temp / "velmor.log").find(".ostrel-"), std::string::npos)
        << ReadFile(temp / "velmor.log");
    EXPECT_NE(::access((temp / savedList).c_str(), F_OK), 0)
        << "the program saved its copy-set file beside what a killed save left, and kept it";
}

const LeftoverCase kLeftoverCases[] = {
    {"OneWay", {false, false, false}},           {"Delete", {true, false, false}},
    {"DeleteToTrash", {true, true, false}},      {"BothWays", {false, false, true}},
    {"BothWaysWithDelete", {true, false, true}}, {"BothWaysDeleteToTrash", {true, true, true}},
};

INSTANTIATE_TEST_SUITE_P(Options, LeftoverTest, ::testing::ValuesIn(kLeftoverCases),
                         [](const ::testing::TestParamInfo<LeftoverCase>& param) {
                             return param.param.name;
                         });

} // namespace
} // namespace ostrel::test
