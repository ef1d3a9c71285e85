#pragma once

#include "PosixFileSystem.h"

#include <algorithm>
#include <string>
#include <vector>

namespace ostrel::test {

// The real file system with faults injected on chosen calls and paths: a call fails with an errno
// value, or the entry vanishes just before the call. Listings can be sorted by name so that tests
// can state the enumeration order.
class FaultyFileSystem : public PosixFileSystem
{
public:
    struct Fault
    {
        FsCall call;
        std::string path;
        int error = 0;         // the errno value to fail with; 0 with vanish
        bool vanish = false;   // remove the entry before the call goes ahead
        int remaining = -1;    // how many times it strikes; -1 for always
    };

    void Fail(FsCall call, const std::string& path, int error) { m_faults.push_back({call, path, error, false, -1}); }
    void Vanish(FsCall call, const std::string& path) { m_faults.push_back({call, path, 0, true, 1}); }
    void SortListings(bool sorted) { m_sorted = sorted; }
    int Calls(FsCall call) const { return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), call)); }

    bool ListFolder(const std::string& folder, std::vector<DirEntry>& entries) override
    {
        bool complete = PosixFileSystem::ListFolder(folder, entries);
        if (m_sorted) {
            std::sort(entries.begin(), entries.end(),
                      [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
        }
        return complete;
    }

protected:
    int InjectedError(FsCall call, const std::string& path) override;

private:
    std::vector<Fault> m_faults;
    std::vector<FsCall> m_calls;
    bool m_sorted = false;
};

} // namespace ostrel::test
