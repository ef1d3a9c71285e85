#include "FaultyFileSystem.h"

#include "TestTree.h"

namespace ostrel::test {

int FaultyFileSystem::InjectedError(FsCall call, const std::string& path)
{
    m_calls.push_back(call);
    for (Fault& fault : m_faults) {
        if (fault.call != call || fault.path != path || fault.remaining == 0) {
            continue;
        }
        if (fault.skip > 0) {
            --fault.skip;
            continue;
        }
        if (fault.remaining > 0) {
            --fault.remaining;
        }
        ++m_strikes;
        if (fault.action) {
            fault.action();
            return 0;
        }
        if (fault.vanish) {
            RemoveTree(fault.victim.empty() ? path : fault.victim);
            return 0;
        }
        return fault.error;
    }
    return 0;
}

} // namespace ostrel::test
