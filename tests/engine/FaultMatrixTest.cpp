// Every kind of file-system call fails in turn at every entry of a small tree, under every set of
// run options, and each run is checked against the same fault-free run: the data, the log, and
// whether the run went on.

#include "FakeRunHost.h"
#include "FakeVolumes.h"
#include "FaultyFileSystem.h"
#include "TestTree.h"
#include "engine/MirrorEngine.h"
#include "engine/RunDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::test {
namespace {

constexpr const char* kFailed = "【失敗】";
const std::string kStars(65, '*');
constexpr const char* kPreviousLog = "previous run\r\n";

// Two copy sets. The first holds an addition (a), an overwrite (b), a target newer than its source
// (newer), an addition in a folder the target lacks (sub/c), a system file (sys), and what only
// the target has (gone, olddir). The second (src2) shows whether the run went on after the first.
// The sentinel lies beside them and must never change.
const Tree kInitial = {
    {"src/a", "A new"},       {"src/b", "B new"},        {"src/newer", "N old"},
    {"src/sub/c", "C new"},   {"src/sys", "S new"},      {"dst/b", "B old"},
    {"dst/newer", "N newer"}, {"dst/gone", "G"},         {"dst/olddir/x", "X"},
    {"dst/olddir/y/z", "Z"},  {"src2/one", "1"},         {"dst2/", ""},
    {"sentinel/s1", "1"},     {"sentinel/deep/s2", "2"}, {"log/velmor.log", kPreviousLog},
};
constexpr const char* kOlder = "2001-01-01 10:00:00";
constexpr const char* kNewer = "2002-02-02 10:00:00";
constexpr const char* kOther = "2000-05-05 12:00:00";
constexpr const char* kNow = "2003-03-03 09:00:00";

// What a fault does to the log line of an entry. An entry's key is the path of its line below the
// work folder, with "rm " in front for a delete line.
constexpr const char* kFail = "<fail>"; // the fault-free word with 【失敗】; no line where there was none
constexpr const char* kGone = "<gone>"; // no line
constexpr const char* kAny = "<any>"; // any line or none; the disk checks still hold
// Any other word: exactly one line with that word.

enum When : unsigned {
    kLasting = 1, // ENOSPC and EACCES: the call fails every time
    kOnce = 2, // EIO: the call fails once, as a passing fault would
    kVanished = 4, // the entry vanishes just before the call
    kErrors = kLasting | kOnce,
    kAll = kLasting | kOnce | kVanished,
};

struct Expect
{
    const char* key;
    const char* word;
    unsigned when;
};

// A call on one path. victim is what vanishes for the vanish kind (nullptr: no such kind here).
struct Site
{
    FsCall call;
    const char* path;
    const char* victim;
    std::vector<Expect> expects;
};

struct Kind
{
    const char* name;
    int error;
    unsigned when;
};

const Kind kKinds[] = {
    {"ENOSPC", ENOSPC, kLasting},
    {"EACCES", EACCES, kLasting},
    {"EIO", EIO, kOnce},
    {"vanish", 0, kVanished},
};

// Lines of the reverse pass (copies from the target, deletions in the source) appear only with
// the two-way option.
bool IsReverseKey(const std::string& key)
{
    return key.rfind("dst/", 0) == 0 || key.rfind("rm src/", 0) == 0;
}

const std::vector<Site>& Sites()
{
    static const std::vector<Site> sites = {
        // Listing folders.
        {FsCall::List,
         "src/",
         "src",
         {{"src/a", kGone, kAll},
          {"src/b", kGone, kAll},
          {"src/sub/c", kGone, kAll},
          {"src/sys", kGone, kAll},
          {"rm dst/gone", kGone, kAll},
          {"rm dst/olddir/", kGone, kAll},
          {"dst/b", "追加コピー", kVanished},
          {"dst/newer", "追加コピー", kVanished},
          {"dst/gone", "追加コピー", kAll},
          {"dst/olddir/x", "追加コピー", kAll},
          {"dst/olddir/y/z", "追加コピー", kAll}}},
        {FsCall::List, "src/sub/", "src/sub", {{"src/sub/c", kGone, kAll}}},
        {FsCall::List,
         "dst/",
         "dst",
         {{"rm dst/gone", kGone, kAll},
          {"rm dst/olddir/", kGone, kAll},
          {"dst/newer", kGone, kLasting | kVanished},
          {"dst/gone", "追加コピー", kOnce},
          {"dst/olddir/x", "追加コピー", kOnce},
          {"dst/olddir/y/z", "追加コピー", kOnce},
          {"src/b", "追加コピー", kVanished},
          {"src/newer", "追加コピー", kVanished}}},
        {FsCall::List,
         "dst/olddir/",
         "dst/olddir",
         {{"rm dst/olddir/", kFail, kAll},
          {"dst/olddir/x", "追加コピー", kOnce},
          {"dst/olddir/y/z", "追加コピー", kOnce}}},
        {FsCall::List,
         "dst/olddir/y/",
         "dst/olddir/y",
         {{"rm dst/olddir/", kFail, kErrors}, {"dst/olddir/y/z", "追加コピー", kOnce}}},
        // Reading file times before each decision, the source's and the target's. A source that
        // vanished since the listing fails its entry.
        {FsCall::ReadTime, "src/a", "src/a", {{"src/a", kFail, kAll}}},
        {FsCall::ReadTime,
         "src/b",
         "src/b",
         {{"src/b", kFail, kAll},
          {"dst/b", "追加コピー【失敗】", kLasting},
          {"rm dst/b", kAny, kVanished},
          {"dst/b", "追加コピー", kVanished}}},
        {FsCall::ReadTime,
         "src/newer",
         "src/newer",
         {{"src/newer", "上書きコピー【失敗】", kAll},
          {"dst/newer", "追加コピー【失敗】", kLasting},
          {"rm dst/newer", kAny, kVanished},
          {"dst/newer", "追加コピー", kVanished}}},
        {FsCall::ReadTime,
         "src/sub/c",
         "src/sub/c",
         {{"src/sub/c", kFail, kAll}, {"rm src/sub/", kAny, kVanished}}},
        {FsCall::ReadTime, "src/sys", "src/sys", {{"src/sys", kFail, kAll}}},
        {FsCall::ReadTime,
         "dst/b",
         "dst/b",
         {{"src/b", "追加コピー【失敗】", kErrors},
          {"dst/b", "上書きコピー【失敗】", kLasting},
          {"src/b", "追加コピー", kVanished}}},
        {FsCall::ReadTime,
         "dst/newer",
         "dst/newer",
         {{"src/newer", "追加コピー【失敗】", kErrors},
          {"dst/newer", kFail, kLasting},
          {"src/newer", "追加コピー", kVanished},
          {"dst/newer", kGone, kVanished}}},
        {FsCall::ReadTime, "src/gone", "src/gone", {}},
        // A copy at its start; the entry that vanishes is the file being copied.
        {FsCall::Copy, "dst/a", "src/a", {{"src/a", kFail, kAll}}},
        {FsCall::Copy, "dst/b", "src/b", {{"src/b", kFail, kAll}, {"dst/b", "追加コピー", kVanished}}},
        {FsCall::Copy, "dst/sub/c", "src/sub/c", {{"src/sub/c", kFail, kAll}}},
        {FsCall::Copy, "dst/sys", "src/sys", {{"src/sys", kFail, kAll}}},
        {FsCall::Copy, "src/newer", "dst/newer", {{"dst/newer", kFail, kAll}}},
        // Halfway, after the first block: a source that vanishes now is still copied whole.
        {FsCall::CopyWrite,
         "dst/a",
         "src/a",
         {{"src/a", kFail, kErrors}, {"dst/a", "追加コピー", kVanished}}},
        {FsCall::CopyWrite,
         "dst/b",
         "src/b",
         {{"src/b", kFail, kErrors}, {"dst/b", "追加コピー", kVanished}}},
        {FsCall::CopyWrite,
         "dst/sub/c",
         "src/sub/c",
         {{"src/sub/c", kFail, kErrors}, {"dst/sub/c", "追加コピー", kVanished}}},
        {FsCall::CopyWrite, "dst/sys", "src/sys", {{"src/sys", kFail, kErrors}}},
        {FsCall::CopyWrite, "src/newer", "dst/newer", {{"dst/newer", kFail, kErrors}}},
        // At the rename of the complete temporary file over the target.
        {FsCall::CopyRename,
         "dst/a",
         "src/a",
         {{"src/a", kFail, kErrors}, {"dst/a", "追加コピー", kVanished}}},
        {FsCall::CopyRename,
         "dst/b",
         "src/b",
         {{"src/b", kFail, kErrors}, {"dst/b", "追加コピー", kVanished}}},
        {FsCall::CopyRename,
         "dst/sub/c",
         "src/sub/c",
         {{"src/sub/c", kFail, kErrors}, {"dst/sub/c", "追加コピー", kVanished}}},
        {FsCall::CopyRename, "dst/sys", "src/sys", {{"src/sys", kFail, kErrors}}},
        {FsCall::CopyRename, "src/newer", "dst/newer", {{"dst/newer", kFail, kErrors}}},
        // Deleting, outright and through the trash.
        {FsCall::Delete,
         "dst/gone",
         "dst/gone",
         {{"rm dst/gone", kFail, kAll}, {"dst/gone", "追加コピー", kErrors}}},
        {FsCall::Delete,
         "dst/olddir/x",
         "dst/olddir/x",
         {{"rm dst/olddir/", kFail, kErrors}, {"dst/olddir/x", "追加コピー", kErrors}}},
        {FsCall::Delete,
         "dst/olddir/y/z",
         "dst/olddir/y/z",
         {{"rm dst/olddir/", kFail, kErrors}, {"dst/olddir/y/z", "追加コピー", kErrors}}},
        {FsCall::RemoveFolder, "dst/olddir/", "dst/olddir", {{"rm dst/olddir/", kFail, kAll}}},
        {FsCall::RemoveFolder, "dst/olddir/y/", "dst/olddir/y", {{"rm dst/olddir/", kFail, kErrors}}},
        {FsCall::Trash, "dst/gone", "dst/gone", {{"rm dst/gone", kFail, kAll}}},
        {FsCall::Trash, "dst/olddir", "dst/olddir", {{"rm dst/olddir/", kFail, kAll}}},
        {FsCall::TrashMove, "dst/gone", "dst/gone", {{"rm dst/gone", kFail, kAll}}},
        {FsCall::TrashMove, "dst/olddir", "dst/olddir", {{"rm dst/olddir/", kFail, kAll}}},
        // A folder for an addition; a passing fault is mended by the second try.
        {FsCall::CreateFolder, "dst/sub/", nullptr, {{"src/sub/c", kFail, kLasting}}},
    };
    return sites;
}

const char* CallName(FsCall call)
{
    switch (call) {
    case FsCall::List:
        return "List";
    case FsCall::ReadTime:
        return "ReadTime";
    case FsCall::Copy:
        return "Copy";
    case FsCall::CopyWrite:
        return "CopyWrite";
    case FsCall::CopyRename:
        return "CopyRename";
    case FsCall::Delete:
        return "Delete";
    case FsCall::CreateFolder:
        return "CreateFolder";
    case FsCall::RemoveFolder:
        return "RemoveFolder";
    case FsCall::Trash:
        return "Trash";
    case FsCall::TrashMove:
        return "TrashMove";
    case FsCall::LogOpen:
        return "LogOpen";
    case FsCall::LogWrite:
        return "LogWrite";
    default:
        return "other";
    }
}

struct OptionSet
{
    const char* name;
    std::vector<RunOption> on;
    bool Has(RunOption option) const { return std::find(on.begin(), on.end(), option) != on.end(); }
};

void PrintTo(const OptionSet& options, std::ostream* out)
{
    *out << options.name;
}

const OptionSet kOptionSets[] = {
    {"copy", {}},
    {"delete", {RunOption::Delete}},
    {"trash", {RunOption::Delete, RunOption::Trash}},
    {"two_way", {RunOption::Link, RunOption::Delete}},
    {"top_folder", {RunOption::SubFolder, RunOption::Delete}},
    {"system_files", {RunOption::SystemFile, RunOption::Delete}},
    {"log_only", {RunOption::LogOnly, RunOption::Delete}},
};

// One line of the copy log, with the pass it belongs to.
struct LogLine
{
    int pass = 0;
    std::size_t index = 0; // among all lines of the log
    std::string text;
    std::string key;
    std::string word;
    bool copy = false;
};

struct PassSummary
{
    std::string from;
    std::string to;
    long counts[4] = {};
};

struct ParsedLog
{
    std::vector<LogLine> lines;
    std::vector<PassSummary> summaries;
    std::vector<std::string> raw; // every line, summaries too
    std::vector<std::size_t> passEnds; // where each pass's lines end in raw
    bool truncated = false;
};

bool IsCopyWord(const std::string& word)
{
    return word.rfind("上書きコピー", 0) == 0 || word.rfind("追加コピー", 0) == 0;
}

bool IsFailure(const std::string& word)
{
    return word.size() > std::string(kFailed).size() && word.ends_with(kFailed);
}

class FaultMatrixTest : public ::testing::TestWithParam<OptionSet>
{
protected:
    // A run of both copy sets: the program's engine and run driver on the fault-injecting layer.
    struct Run
    {
        FaultyFileSystem fs;
        FakeRunHost host;
        FakeVolumes volumes;
        MirrorEngine engine;
        RunDriver driver;

        Run(const std::string& root, const OptionSet& options)
            : engine(fs, host, root + "/log")
            , driver(host, host, engine, volumes, [] { return static_cast<std::time_t>(LocalSeconds(kNow)); })
        {
            fs.SortListings(true);
            fs.MarkSystem(root + "/src/sys");
            volumes.types["/"] = DriveType::Fixed;
            host.rows = {{{root + "/src", root + "/dst", " ", ""}, false},
                         {{root + "/src2", root + "/dst2", " ", ""}, false}};
            host.answers = {MessageAnswer::Ok};
            for (RunOption option : options.on) {
                host.options[option] = true;
            }
        }
    };

    struct Outcome
    {
        Tree tree; // the whole work folder
        std::string log;
        ParsedLog parsed;
        std::vector<std::string> events;
        int messages = 0;
        int unexpected = 0;
        std::string stamps[2];
        int strikes = 0;
        int logWrites = 0;
        int logOpens = 0;
    };

    void SetUp() override
    {
        m_root = m_temp / "w";
        // The trash of the home folder is used only for files on the home folder's file system, so
        // the home folder moves beside the work folder too.
        for (auto& [name, old] : m_oldEnvironment) {
            const char* value = std::getenv(name);
            old = value ? std::optional<std::string>(value) : std::nullopt;
        }
        ::setenv("HOME", m_temp.Path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", (m_root + "/xdg").c_str(), 1);
        MakeWorld();
        m_sentinel = Below(ReadTree(m_root), "sentinel/");
        m_baseline = Perform([](Run&) {});
        m_stamp = RunDriver::FormatStamp(static_cast<std::time_t>(LocalSeconds(kNow)));
    }

    void TearDown() override
    {
        for (const auto& [name, old] : m_oldEnvironment) {
            if (old) {
                ::setenv(name, old->c_str(), 1);
            } else {
                ::unsetenv(name);
            }
        }
    }

    const OptionSet& Options() const { return GetParam(); }
    bool LogOnly() const { return Options().Has(RunOption::LogOnly); }

    static const char* InitialTime(const std::string& path)
    {
        if (path == "src/b" || path == "dst/newer") {
            return kNewer;
        }
        return path == "dst/b" || path == "src/newer" ? kOlder : kOther;
    }

    void MakeWorld()
    {
        RemoveTree(m_root);
        MakeTree(m_root, kInitial);
        for (const auto& [path, content] : kInitial) {
            if (!path.ends_with("/")) {
                SetTime(m_root + "/" + path, InitialTime(path));
            }
        }
    }

    // The part of a tree below a folder ("sentinel/"), and a tree without the trash's records,
    // which carry the moment of each deletion.
    static Tree Below(const Tree& tree, const std::string& folder)
    {
        Tree part;
        for (const auto& [path, content] : tree) {
            if (path.rfind(folder, 0) == 0) {
                part[path] = content;
            }
        }
        return part;
    }
    static Tree WithoutTrashRecords(Tree tree)
    {
        std::erase_if(tree, [](const auto& item) { return item.first.rfind("xdg/Trash/info/", 0) == 0; });
        return tree;
    }

    template <typename Arm>
    Outcome Perform(Arm arm)
    {
        MakeWorld();
        Run run(m_root, Options());
        arm(run);
        run.driver.ExeCopyLoop(true);
        Outcome outcome;
        outcome.tree = ReadTree(m_root);
        outcome.log = ReadFile(m_root + "/log/velmor.log");
        outcome.parsed = Parse(outcome.log);
        outcome.events = run.host.events;
        outcome.messages = static_cast<int>(run.host.messages.size());
        outcome.unexpected = run.host.unexpected;
        outcome.stamps[0] = run.host.rows[0].set.lastRun;
        outcome.stamps[1] = run.host.rows[1].set.lastRun;
        outcome.strikes = run.fs.Strikes();
        outcome.logWrites = run.fs.Calls(FsCall::LogWrite);
        outcome.logOpens = run.fs.Calls(FsCall::LogOpen);
        return outcome;
    }

    // Lines with the work folder left out, one a line, for readable differences.
    std::string Join(const std::vector<std::string>& lines) const
    {
        std::string text;
        for (const std::string& line : lines) {
            std::string shown = line;
            for (std::size_t at; (at = shown.find(m_root + "/")) != std::string::npos;) {
                shown.erase(at, m_root.size() + 1);
            }
            text += shown + "\n";
        }
        return text;
    }

    std::string Rel(const std::string& path) const
    {
        const std::string prefix = m_root + "/";
        return path.rfind(prefix, 0) == 0 ? path.substr(prefix.size()) : "?" + path;
    }

    ParsedLog Parse(const std::string& log)
    {
        ParsedLog parsed;
        // A run that failed before its first pass leaves the previous run's log.
        std::size_t at = log.rfind(kPreviousLog, 0) == 0 ? std::string(kPreviousLog).size() : 0;
        while (at < log.size()) {
            std::size_t end = log.find("\r\n", at);
            if (end == std::string::npos) {
                ADD_FAILURE() << "a log line without CR LF: " << log.substr(at);
                break;
            }
            parsed.raw.push_back(log.substr(at, end - at));
            at = end + 2;
        }
        const std::vector<std::string>& raw = parsed.raw;
        int pass = 0;
        for (std::size_t i = 0; i < raw.size();) {
            if (raw[i].empty()) {
                if (i + 10 > raw.size()) {
                    parsed.truncated = true; // a log that failed within a summary block
                    break;
                }
                if (raw[i + 1] != kStars || raw[i + 7] != kStars || !raw[i + 8].empty()
                    || !raw[i + 9].empty()) {
                    ADD_FAILURE() << "a broken summary block at line " << i;
                    break;
                }
                PassSummary summary;
                const std::string& folders = raw[i + 2];
                std::size_t arrow = folders.find(" --> ");
                summary.from = folders.substr(0, arrow);
                summary.to = arrow == std::string::npos ? "" : folders.substr(arrow + 5);
                const char* labels[4] = {"コピーファイル総数  ： ", "上書きファイル数    ： ",
                                         "追加　ファイル数    ： ", "削除　ファイル数    ： "};
                for (int c = 0; c < 4; ++c) {
                    const std::string& line = raw[i + 3 + static_cast<std::size_t>(c)];
                    EXPECT_EQ(line.rfind(labels[c], 0), 0u) << line;
                    summary.counts[c] = std::atol(line.substr(std::string(labels[c]).size()).c_str());
                }
                parsed.summaries.push_back(summary);
                ++pass;
                i += 10;
                parsed.passEnds.push_back(i);
                continue;
            }
            LogLine line;
            line.pass = pass;
            line.index = i;
            line.text = raw[i];
            std::size_t blanks = raw[i].rfind("  ");
            if (blanks == std::string::npos) {
                ADD_FAILURE() << "a log line without a word: " << raw[i];
                ++i;
                continue;
            }
            line.word = raw[i].substr(blanks + 2);
            std::string head = raw[i].substr(0, blanks);
            line.copy = IsCopyWord(line.word);
            if (line.copy) {
                std::size_t bracket = head.rfind(" (");
                EXPECT_TRUE(bracket != std::string::npos && head.ends_with(")")) << raw[i];
                line.key = Rel(head.substr(0, bracket));
            } else {
                line.key = "rm " + Rel(head);
            }
            parsed.lines.push_back(line);
            ++i;
        }
        return parsed;
    }

    static std::optional<std::string> At(const Tree& tree, const std::string& path)
    {
        auto it = tree.find(path);
        return it == tree.end() ? std::nullopt : std::optional<std::string>(it->second);
    }

    static bool Under(const std::string& path, const char* victim)
    {
        if (!victim) {
            return false;
        }
        std::string v = victim;
        return path == v || path.rfind(v + "/", 0) == 0;
    }

    // The other side of a copy line's source, and the pass's to folder for a key.
    static std::string TargetOf(const std::string& source)
    {
        if (source.rfind("src2/", 0) == 0) {
            return "dst2/" + source.substr(5);
        }
        if (source.rfind("src/", 0) == 0) {
            return "dst/" + source.substr(4);
        }
        return "src/" + source.substr(4);
    }

    // Whether a path (a file, or a folder given with its "/") is there with anything below it.
    static bool Exists(const Tree& tree, const std::string& path)
    {
        auto it = tree.lower_bound(path);
        return it != tree.end() && it->first.rfind(path, 0) == 0;
    }

    // Checks that hold after any run: no temporary file, nothing touched outside the pass's
    // folders, every file its old content or the complete new one, the newest content of every
    // file kept unless the run was asked to delete it, summaries that count their lines, and no
    // message beyond the start confirmation.
    void CheckInvariants(const Outcome& outcome, const char* victim)
    {
        const Tree& tree = outcome.tree;
        std::set<std::string> top;
        for (const auto& [path, content] : tree) {
            const std::string name = path.substr(path.rfind('/', path.size() - 2) + 1);
            EXPECT_NE(name.rfind(".ostrel-", 0), 0u) << "temporary file left: " << path;
            top.insert(path.substr(0, path.find('/')));
            if (path.ends_with("/") || path.rfind("xdg/", 0) == 0 || path.rfind("log/", 0) == 0) {
                continue;
            }
            const std::string side = path.substr(0, path.find('/') + 1);
            if (side == "src/" || side == "dst/" || side == "src2/" || side == "dst2/") {
                const std::string rel = path.substr(side.size());
                const bool second = side.size() == 5;
                auto mine = At(kInitial, (second ? "src2/" : "src/") + rel);
                auto theirs = At(kInitial, (second ? "dst2/" : "dst/") + rel);
                EXPECT_TRUE((mine && *mine == content) || (theirs && *theirs == content))
                    << path << " holds " << content << ", neither its old nor its new content";
            }
        }
        for (const std::string& name : top) {
            static const std::set<std::string> known = {"src", "dst", "log", "sentinel", "src2", "dst2"};
            EXPECT_TRUE(known.count(name) || (name == "xdg" && Options().Has(RunOption::Trash)))
                << "touched outside the pass's folders: " << name;
        }
        EXPECT_EQ(Below(tree, "sentinel/"), m_sentinel) << "the sentinel tree changed";
        for (const auto& [path, content] : tree) {
            if (path.rfind("log/", 0) == 0 && path != "log/") {
                EXPECT_EQ(path, "log/velmor.log");
            }
            const std::string info = "xdg/Trash/info/";
            if (path.rfind(info, 0) == 0 && path.ends_with(".trashinfo")) {
                const std::string stem = path.substr(info.size(), path.size() - info.size() - 10);
                EXPECT_TRUE(tree.count("xdg/Trash/files/" + stem)
                            || tree.count("xdg/Trash/files/" + stem + "/"))
                    << "an info file without its entry: " << path;
            }
            if (path.rfind("xdg/Trash/files/", 0) == 0 && !path.ends_with("/")) {
                bool known = false;
                for (const auto& [initial, old] : kInitial) {
                    known = known || (initial.rfind("dst/", 0) == 0 && old == content);
                }
                EXPECT_TRUE(known) << "the trash holds what the target never had: " << path;
            }
        }

        // The newest content of every file is still somewhere, unless the fault-free run deletes it
        // from both sides or the fault took it away.
        std::set<std::string> rels;
        for (const auto& [path, content] : kInitial) {
            if (!path.ends_with("/") && (path.rfind("src/", 0) == 0 || path.rfind("dst/", 0) == 0)) {
                rels.insert(path.substr(4));
            }
        }
        for (const std::string& rel : rels) {
            if (Under("src/" + rel, victim) || Under("dst/" + rel, victim)) {
                continue;
            }
            if (!At(m_baseline.tree, "src/" + rel) && !At(m_baseline.tree, "dst/" + rel)) {
                continue;
            }
            auto mine = At(kInitial, "src/" + rel);
            auto theirs = At(kInitial, "dst/" + rel);
            const bool theirsNewer = !mine
                || (theirs
                    && LocalSeconds(InitialTime("dst/" + rel)) > LocalSeconds(InitialTime("src/" + rel)));
            const std::string newest = theirsNewer ? *theirs : *mine;
            EXPECT_TRUE(At(tree, "src/" + rel) == newest || At(tree, "dst/" + rel) == newest)
                << "lost the newest content of " << rel << " (" << newest << ")";
        }

        for (std::size_t p = 0; p < outcome.parsed.summaries.size(); ++p) {
            long counts[4] = {};
            for (const LogLine& line : outcome.parsed.lines) {
                if (line.pass != static_cast<int>(p)) {
                    continue;
                }
                if (line.copy) {
                    ++counts[0];
                    counts[1] += line.word == "上書きコピー" ? 1 : 0;
                    counts[2] += line.word == "追加コピー" ? 1 : 0;
                } else {
                    counts[3] += line.word == "削除" ? 1 : 0;
                }
            }
            for (int c = 0; c < 4; ++c) {
                EXPECT_EQ(outcome.parsed.summaries[p].counts[c], counts[c])
                    << "summary " << p << " count " << c;
            }
        }
        EXPECT_EQ(outcome.messages, 1) << "a message beyond the start confirmation";
        EXPECT_EQ(outcome.unexpected, 0);
        ASSERT_FALSE(outcome.events.empty());
        EXPECT_EQ(outcome.events.back(), "enable");
    }

    // Each entry line against the disk: a success has the two sides alike, a failure left the
    // target as it was before the pass. In log-only mode nothing at all changes.
    void CheckLinesAgainstDisk(const std::vector<LogLine>& lines, const Tree& tree, const char* victim)
    {
        if (LogOnly()) {
            for (const auto& [path, content] : kInitial) {
                if (!Under(path, victim) && path.rfind("log/", 0) != 0) {
                    EXPECT_EQ(At(tree, path), content) << "a log-only run changed " << path;
                }
            }
            for (const auto& [path, content] : tree) {
                EXPECT_TRUE(kInitial.count(path) || path.rfind("log/", 0) == 0 || path.rfind("xdg/", 0) == 0
                            || (path.ends_with("/") && Exists(kInitial, path)))
                    << "a log-only run made " << path;
            }
            return;
        }
        for (const LogLine& line : lines) {
            if (line.copy) {
                const std::string& source = line.key;
                const std::string target = TargetOf(source);
                if (Under(source, victim) || Under(target, victim)) {
                    continue;
                }
                if (!IsFailure(line.word)) {
                    EXPECT_TRUE(At(tree, target).has_value() && At(tree, target) == At(tree, source))
                        << line.text << ": the target does not hold the source's content";
                } else {
                    EXPECT_EQ(At(tree, target), At(kInitial, target))
                        << line.text << ": a failed copy changed it";
                }
            } else {
                const std::string path = line.key.substr(3);
                if (Under(path.ends_with("/") ? path.substr(0, path.size() - 1) : path, victim)) {
                    continue;
                }
                if (!IsFailure(line.word)) {
                    EXPECT_FALSE(Exists(tree, path)) << line.text << ": still there";
                    if (Options().Has(RunOption::Trash)) {
                        std::string name = path.substr(4);
                        EXPECT_TRUE(Exists(tree, "xdg/Trash/files/" + name))
                            << line.text << ": not in the trash";
                    }
                } else {
                    EXPECT_TRUE(Exists(tree, path)) << line.text << ": reported as failed, but gone";
                }
            }
        }
    }

    // A fault in a file-system call of an entry: the run goes on to its end, the entry's line
    // carries the word expected, and every other line is the fault-free run's.
    void CheckEntryFault(const Outcome& outcome, const Site& site, const Kind& kind)
    {
        const char* victim = kind.when == kVanished ? site.victim : nullptr;
        CheckInvariants(outcome, victim);
        EXPECT_NE(std::find(outcome.events.begin(), outcome.events.end(), "result"), outcome.events.end())
            << "the run did not reach its end";
        const std::string stamp = LogOnly() ? " " : m_stamp;
        EXPECT_EQ(outcome.stamps[0], stamp);
        EXPECT_EQ(outcome.stamps[1], stamp);
        EXPECT_EQ(At(outcome.tree, "dst2/one"), LogOnly() ? std::nullopt : std::optional<std::string>("1"))
            << "the second copy set was not carried out";
        if (outcome.strikes == 0) {
            EXPECT_EQ(outcome.log, m_baseline.log);
            EXPECT_EQ(WithoutTrashRecords(outcome.tree), WithoutTrashRecords(m_baseline.tree));
            return;
        }

        const bool twoWay = Options().Has(RunOption::Link);
        std::set<std::string> affected;
        for (const Expect& expect : site.expects) {
            if (expect.when & kind.when) {
                affected.insert(expect.key);
            }
        }
        const ParsedLog& base = m_baseline.parsed;
        const ParsedLog& got = outcome.parsed;
        EXPECT_FALSE(got.truncated);
        ASSERT_EQ(got.summaries.size(), base.summaries.size()) << "passes written";
        for (std::size_t p = 0; p < base.summaries.size(); ++p) {
            EXPECT_EQ(got.summaries[p].from, base.summaries[p].from);
            EXPECT_EQ(got.summaries[p].to, base.summaries[p].to);
            std::vector<std::string> expected;
            std::vector<std::string> actual;
            for (const LogLine& line : base.lines) {
                if (line.pass == static_cast<int>(p) && !affected.count(line.key)) {
                    expected.push_back(line.text);
                }
            }
            for (const LogLine& line : got.lines) {
                if (line.pass == static_cast<int>(p) && !affected.count(line.key)) {
                    actual.push_back(line.text);
                }
            }
            EXPECT_EQ(Join(actual), Join(expected))
                << "lines of pass " << p << " that the fault does not concern";
        }
        for (const Expect& expect : site.expects) {
            if (!(expect.when & kind.when) || std::string(expect.word) == kAny
                || (IsReverseKey(expect.key) && !twoWay)) {
                continue;
            }
            std::vector<std::string> words;
            for (const LogLine& line : got.lines) {
                if (line.key == expect.key) {
                    words.push_back(line.word);
                }
            }
            std::vector<std::string> wanted;
            if (std::string(expect.word) == kFail) {
                for (const LogLine& line : base.lines) {
                    if (line.key == expect.key) {
                        wanted.push_back(line.word + kFailed);
                    }
                }
            } else if (std::string(expect.word) != kGone) {
                wanted.push_back(expect.word);
            }
            EXPECT_EQ(words, wanted) << "words of " << expect.key;
        }
        CheckLinesAgainstDisk(got.lines, outcome.tree, victim);
    }

    // A log that can't be opened or written ends the pass and the run: the lines before stay, the
    // actions before stay, nothing after is done, and no result is shown.
    void CheckLogFault(const Outcome& outcome, FsCall call, int index)
    {
        CheckInvariants(outcome, nullptr);
        ASSERT_GT(outcome.strikes, 0);
        const ParsedLog& base = m_baseline.parsed;
        // How many of the fault-free log's lines were written, and the first pass that did not end.
        std::size_t written = 0;
        int brokenPass = 0;
        std::string expected;
        if (call == FsCall::LogWrite) {
            written = static_cast<std::size_t>(index);
            while (base.passEnds[static_cast<std::size_t>(brokenPass)] <= written) {
                ++brokenPass;
            }
        } else {
            brokenPass = index;
            written = index == 0 ? 0 : base.passEnds[static_cast<std::size_t>(index - 1)];
            expected = index == 0 ? kPreviousLog : "";
        }
        for (std::size_t i = 0; i < written; ++i) {
            expected += base.raw[i] + "\r\n";
        }
        EXPECT_EQ(outcome.log, expected) << "the log keeps exactly the lines written before the failure";
        EXPECT_EQ(std::find(outcome.events.begin(), outcome.events.end(), "result"), outcome.events.end())
            << "a run whose log failed showed its result";
        // Each copy set has one pass, or two with the two-way option.
        const int setOnePasses = Options().Has(RunOption::Link) ? 2 : 1;
        EXPECT_EQ(outcome.stamps[0], brokenPass >= setOnePasses && !LogOnly() ? m_stamp : " ");
        EXPECT_EQ(outcome.stamps[1], " ");

        // Entries whose lines were written, and the one whose line failed, were carried out;
        // nothing after them was.
        std::vector<LogLine> done;
        std::vector<LogLine> notDone;
        for (const LogLine& line : base.lines) {
            const bool carriedOut = call == FsCall::LogWrite ? line.index <= written : line.index < written;
            (carriedOut ? done : notDone).push_back(line);
        }
        CheckLinesAgainstDisk(done, outcome.tree, nullptr);
        for (const LogLine& line : notDone) {
            std::string path = line.copy ? TargetOf(line.key) : line.key.substr(3);
            if (line.copy) {
                EXPECT_EQ(At(outcome.tree, path), At(kInitial, path)) << line.text << " was carried out";
            } else {
                EXPECT_TRUE(Exists(outcome.tree, path)) << line.text << " was carried out";
            }
        }
    }

    // Some 1,700 runs each build and remove a tree: in memory they take a fraction of the time.
    TempFolder m_temp{MemoryFolder()};
    std::string m_root;
    std::pair<const char*, std::optional<std::string>> m_oldEnvironment[2] = {{"HOME", {}},
                                                                              {"XDG_DATA_HOME", {}}};
    Tree m_sentinel;
    Outcome m_baseline;
    std::string m_stamp;
};

int g_totalCases = 0;

TEST_P(FaultMatrixTest, EveryCallFailsInTurnAtEveryEntry)
{
    // The fault-free run itself: every entry acted on as the options say, and true to the disk.
    const OptionSet& options = Options();
    std::map<std::string, std::string> wanted = {
        {"src/a", "追加コピー"}, {"src/b", "上書きコピー"}, {"src2/one", "追加コピー"}};
    if (!options.Has(RunOption::SubFolder)) {
        wanted["src/sub/c"] = "追加コピー";
    }
    if (options.Has(RunOption::SystemFile)) {
        wanted["src/sys"] = "追加コピー";
    }
    if (options.Has(RunOption::Delete)) {
        wanted["rm dst/gone"] = "削除";
        wanted["rm dst/olddir/"] = "フォルダ削除";
    }
    if (options.Has(RunOption::Link)) {
        wanted["dst/newer"] = "上書きコピー";
    }
    std::map<std::string, std::string> words;
    for (const LogLine& line : m_baseline.parsed.lines) {
        words[line.key] = line.word;
    }
    EXPECT_EQ(words, wanted);
    CheckInvariants(m_baseline, nullptr);
    CheckLinesAgainstDisk(m_baseline.parsed.lines, m_baseline.tree, nullptr);
    ASSERT_EQ(m_baseline.parsed.summaries.size(), Options().Has(RunOption::Link) ? 4u : 2u);
    ASSERT_NE(m_baseline.log.rfind(kPreviousLog, 0), 0u) << "the run did not start the log afresh";
    ASSERT_FALSE(HasFailure());

    int cases = 0;
    int struck = 0;
    int failedCases = 0;
    auto failures = [] {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    };
    auto record = [&](const std::string& name, const Outcome& outcome, int failuresBefore) {
        ++cases;
        struck += outcome.strikes > 0 ? 1 : 0;
        if (failures() != failuresBefore) {
            ++failedCases;
            std::cout << "  failing case: " << name << "\n";
        }
    };

    for (const Site& site : Sites()) {
        for (const Kind& kind : kKinds) {
            if (kind.when == kVanished && !site.victim) {
                continue;
            }
            const std::string name = std::string(CallName(site.call)) + " " + site.path + " " + kind.name;
            SCOPED_TRACE(std::string(Options().name) + ": " + name);
            const int failuresBefore = failures();
            Outcome outcome = Perform([&](Run& run) {
                const std::string path = m_root + "/" + site.path;
                if (kind.when == kVanished) {
                    run.fs.Vanish(site.call, path, m_root + "/" + site.victim);
                } else if (kind.when == kOnce) {
                    run.fs.FailOnce(site.call, path, kind.error);
                } else {
                    run.fs.Fail(site.call, path, kind.error);
                }
            });
            CheckEntryFault(outcome, site, kind);
            record(name, outcome, failuresBefore);
            if (failedCases >= 10) {
                FAIL() << "stopped after ten failing cases";
            }
        }
    }

    // The log, at every opening and every line. A log that vanished while open would still take
    // its lines (into the removed file), so only errors are struck here.
    const struct
    {
        FsCall call;
        int count;
    } logCalls[] = {{FsCall::LogOpen, m_baseline.logOpens}, {FsCall::LogWrite, m_baseline.logWrites}};
    EXPECT_EQ(m_baseline.logWrites, static_cast<int>(m_baseline.parsed.raw.size()));
    for (const auto& logCall : logCalls) {
        for (int index = 0; index < logCall.count; ++index) {
            for (int error : {ENOSPC, EACCES, EIO}) {
                const std::string name = std::string(CallName(logCall.call)) + " #" + std::to_string(index)
                    + " errno " + std::to_string(error);
                SCOPED_TRACE(std::string(Options().name) + ": " + name);
                const int failuresBefore = failures();
                Outcome outcome = Perform([&](Run& run) {
                    run.fs.FailOnce(logCall.call, m_root + "/log/velmor.log", error, index);
                });
                CheckLogFault(outcome, logCall.call, index);
                record(name, outcome, failuresBefore);
                if (failedCases >= 10) {
                    FAIL() << "stopped after ten failing cases";
                }
            }
        }
    }

    g_totalCases += cases;
    std::cout << "fault matrix [" << Options().name << "]: " << cases << " cases, " << struck
              << " struck a call\n";
    RecordProperty("cases", cases);
    RecordProperty("struck", struck);
}

INSTANTIATE_TEST_SUITE_P(OptionSets, FaultMatrixTest, ::testing::ValuesIn(kOptionSets),
                         [](const ::testing::TestParamInfo<OptionSet>& param) { return param.param.name; });

// The whole matrix's count, once every option set has run.
class CaseCount : public ::testing::Environment
{
public:
    void TearDown() override
    {
        if (g_totalCases > 0) {
            std::cout << "fault matrix: " << g_totalCases << " cases\n";
        }
    }
};

const auto* const kCaseCount = ::testing::AddGlobalTestEnvironment(new CaseCount);

} // namespace
} // namespace ostrel::test
