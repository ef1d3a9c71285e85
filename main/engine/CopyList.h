#pragma once

#include "FileSystem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// A file of the from tree and the path it has under the to folder.
struct CopyEntry
{
    std::string source;
    std::string target;
    bool operator==(const CopyEntry&) const = default;
};

// The copy list of a pass, kept compactly: each folder pair once, and for each file only its name
// and the file time the listing read. The two paths of an entry are built when they are needed.
class CompactCopyList
{
public:
    // Starts a folder pair (both with a trailing delimiter); later files are added to it.
    void BeginFolder(const std::string& from, const std::string& to);
    // Adds a file of the current folder pair with the file time the listing read, if any.
    void Add(const std::string& name, std::optional<DosTime> time);

    std::size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    void clear();

    std::string Source(std::size_t index) const;
    std::string Target(std::size_t index) const;
    // The source's file time as the listing read it; empty when it could not be read.
    std::optional<DosTime> SourceTime(std::size_t index) const;
    CopyEntry operator[](std::size_t index) const { return {Source(index), Target(index)}; }
    std::vector<CopyEntry> Entries() const;

private:
    struct Item
    {
        std::uint32_t folder;
        std::uint32_t nameOffset;
        std::uint32_t nameLength;
        DosTime time;
        bool timeKnown;
    };
    std::vector<std::string> m_from;
    std::vector<std::string> m_to;
    std::vector<Item> m_items;
    std::string m_names;
    bool m_folderUsed = true;
};

} // namespace ostrel
