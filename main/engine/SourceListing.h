#pragma once

#include "platform/FileSystem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// What the delete walk needs to know of a source entry of the same name as a target entry.
enum class SourceKind : std::uint8_t { File, Folder, Link };

// The kind of a listed entry.
SourceKind KindOf(const Attributes& attributes);

// Compares two names as a file system that ignores letter case does: below zero, zero or above.
int CompareFolded(std::string_view a, std::string_view b);

// The names of one source folder as a listing found them, sorted for lookup and kept compactly:
// the names in one block, each with its kind. The copy walk keeps these for the delete walk, which
// then need not list the same folder a second time, and for the next pass of the copy set, which
// deletes from this folder only what the copy walk listed.
class SourceListing
{
public:
    SourceListing() = default;
    // complete tells whether the folder was read to its end; listedAt is when the listing began,
    // in nanoseconds since the epoch.
    SourceListing(bool complete, const std::vector<DirEntry>& entries, std::int64_t listedAt = 0);

    bool IsComplete() const { return m_complete; }
    std::int64_t ListedAt() const { return m_listedAt; }
    // The kind of the entry of that exact name; null when the listing has none.
    const SourceKind* Find(const std::string& name) const;
    // The name of an entry that differs from name only in letter case; empty when there is none.
    std::optional<std::string> FindFolded(const std::string& name) const;

    // Marks the entry at this place of the listing as listed for copying, or entered.
    void MarkListed(std::size_t index) { m_listed[index] = true; }
    // The kind of the entry of that exact name when the copy walk listed it; null otherwise.
    const SourceKind* FindListed(const std::string& name) const;
    // Whether the entry at this place has a name that differs only in letter case from an entry
    // listed before it.
    bool IsTwin(std::size_t index) const { return !m_twins.empty() && m_twins[index]; }

private:
    struct Item
    {
        std::uint32_t offset; // of the name in m_names
        std::uint32_t index; // place in the listing
        std::uint16_t length; // of the name; a name has at most 255 bytes
        SourceKind kind;
    };
    const Item* FindItem(const std::string& name) const;
    std::string_view NameOf(const Item& item) const;

    bool m_complete = false;
    std::int64_t m_listedAt = 0;
    std::string m_names; // the names one after the other
    std::vector<Item> m_sorted; // by folded name, then by name
    std::vector<bool> m_listed; // by place in the listing
    std::vector<bool> m_twins; // by place in the listing; empty when there is none
};

} // namespace ostrel
