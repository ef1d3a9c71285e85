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

} // namespace ostrel
