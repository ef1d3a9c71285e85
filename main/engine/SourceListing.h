#pragma once

#include "FileSystem.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ostrel {

// What the delete walk needs to know of a source entry of the same name as a target entry.
enum class SourceKind : std::uint8_t { File, Folder, Link };

// The names of one source folder as a listing found them, sorted for lookup and kept compactly:
// the names in one block, each with its kind. The copy walk keeps these for the delete walk, which
// then need not list the same folder a second time.
class SourceListing
{
public:
    SourceListing() = default;
    // complete tells whether the folder was read to its end.
    SourceListing(bool complete, const std::vector<DirEntry>& entries);

    bool IsComplete() const { return m_complete; }
    // The kind of the entry of that exact name; null when the listing has none.
    const SourceKind* Find(const std::string& name) const;

private:
    bool m_complete = false;
    std::string m_names; // each name followed by a NUL, which no name can hold
    std::vector<std::pair<std::uint32_t, SourceKind>> m_sorted; // name offset and kind, by name
};

} // namespace ostrel
