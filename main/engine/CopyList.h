#pragma once

#include <cstdint>
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

// The copy list of a pass, kept compactly: each folder pair once, and for each file only its name.
// The two paths of an entry are built when they are needed.
class CompactCopyList
{
public:
    // Starts a folder pair (both with a trailing delimiter); later files are added to it.
    void BeginFolder(const std::string& from, const std::string& to);
    // Adds a file of the current folder pair.
    void Add(const std::string& name);

    std::size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    void clear();

    std::string Source(std::size_t index) const;
    std::string Target(std::size_t index) const;
    CopyEntry operator[](std::size_t index) const { return {Source(index), Target(index)}; }
    std::vector<CopyEntry> Entries() const;
    // The to folders of the folder pairs, in the order they began; a folder may come more than once.
    const std::vector<std::string>& TargetFolders() const { return m_to; }

private:
    struct Item
    {
        std::uint32_t folder;
        std::uint32_t nameOffset;
        std::uint32_t nameLength;
    };
    std::vector<std::string> m_from;
    std::vector<std::string> m_to;
    std::vector<Item> m_items;
    std::string m_names;
    bool m_folderUsed = true;
};

} // namespace ostrel
