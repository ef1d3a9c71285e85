#pragma once

#include "platform/PosixFileSystem.h"

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace ostrel::test {

// The real file system with faults injected on chosen calls and paths: a call fails with an errno
// value, or an entry vanishes just before the call. Listings can be sorted by name so that tests
// can state the enumeration order.
class FaultyFileSystem : public PosixFileSystem
{
public:
    struct Fault
    {
        FsCall call;
        std::string path;
        int error = 0; // the errno value to fail with; 0 with vanish
        bool vanish = false; // remove the victim before the call goes ahead
        int remaining = -1; // how many times it strikes; -1 for always
        int skip = 0; // how many matching calls go ahead before it strikes
        std::string victim; // what vanishes; empty for the path itself
        std::function<void()> action; // done once just before the call, which then goes ahead
    };

    void Fail(FsCall call, const std::string& path, int error)
    {
        m_faults.push_back({call, path, error, false, -1, 0, {}, {}});
    }
    // Fails the call on path once, after skip such calls went ahead (the log's writes, for example).
    void FailOnce(FsCall call, const std::string& path, int error, int skip = 0)
    {
        m_faults.push_back({call, path, error, false, 1, skip, {}, {}});
    }
    // Removes the entry at path, or victim when given, just before the call on path goes ahead.
    void Vanish(FsCall call, const std::string& path, const std::string& victim = {})
    {
        m_faults.push_back({call, path, 0, true, 1, 0, victim, {}});
    }
    // Does something to the files just before the call on path goes ahead, once: a race made
    // deterministic.
    void Before(FsCall call, const std::string& path, std::function<void()> action)
    {
        m_faults.push_back({call, path, 0, false, 1, 0, {}, std::move(action)});
    }
    void ClearFaults() { m_faults.clear(); }
    // How often a fault has struck.
    int Strikes() const { return m_strikes; }
    void SortListings(bool sorted) { m_sorted = sorted; }
    // Makes every folder report that its names ignore letter case, as on a FAT or exFAT drive; the
    // names themselves stay as the real file system takes them.
    void FoldCase(bool fold) { m_foldCase = fold; }
    bool FoldsCase(const std::string& folder, bool mayProbe = true) override
    {
        return m_foldCase || PosixFileSystem::FoldsCase(folder, mayProbe);
    }
    // Gives an entry the system attribute, as a FAT file system's system bit would.
    void MarkSystem(const std::string& path) { m_system.insert(path); }
    int Calls(FsCall call) const
    {
        return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), call));
    }

    FsResult ListFolder(const std::string& folder, std::vector<DirEntry>& entries,
                        ListDetail detail = ListDetail::Full) override
    {
        std::size_t first = entries.size();
        FsResult complete = PosixFileSystem::ListFolder(folder, entries, detail);
        std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
        for (std::size_t i = first; i < entries.size(); ++i) {
            entries[i].attributes.system =
                entries[i].attributes.system || m_system.count(prefix + entries[i].name);
        }
        if (m_sorted) {
            std::sort(entries.begin() + static_cast<std::ptrdiff_t>(first), entries.end(),
                      [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
        }
        return complete;
    }

    std::optional<Attributes> GetAttributes(const std::string& path,
                                            std::error_code* reason = nullptr) override
    {
        auto attributes = PosixFileSystem::GetAttributes(path, reason);
        if (attributes && m_system.count(path)) {
            attributes->system = true;
        }
        return attributes;
    }

protected:
    int InjectedError(FsCall call, const std::string& path) override;

private:
    std::vector<Fault> m_faults;
    std::vector<FsCall> m_calls;
    std::set<std::string> m_system;
    bool m_sorted = false;
    bool m_foldCase = false;
    int m_strikes = 0;
};

} // namespace ostrel::test
