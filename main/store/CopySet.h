#pragma once

#include <string>

namespace ostrel {

// One row of the main list: a source folder paired with a target folder, the last-run stamp
// (" " for a set never run, otherwise "yy/mm/dd hh:nn") and the target's volume name when the set
// was stored.
struct CopySet
{
    std::string source;
    std::string target;
    std::string lastRun = " ";
    std::string volumeName;
    bool operator==(const CopySet&) const = default;
};

// The copy sets of the main list, in list order: what a run reads, and where it writes each set's
// last-run stamp. The list keeps its order while a run is in progress.
class CopySetRows
{
public:
    virtual ~CopySetRows() = default;
    virtual int Count() const = 0;
    // The copy set of a row; an empty one for a row that is not there.
    virtual CopySet At(int row) const = 0;
    virtual void SetLastRun(int row, const std::string& stamp) = 0;
};

} // namespace ostrel
