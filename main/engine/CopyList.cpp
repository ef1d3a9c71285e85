#include "engine/CopyList.h"

namespace ostrel {

void CompactCopyList::BeginFolder(const std::string& from, const std::string& to)
{
    // A folder pair without files is dropped when the next one begins.
    if (!m_folderUsed) {
        m_from.back() = from;
        m_to.back() = to;
        return;
    }
    m_from.push_back(from);
    m_to.push_back(to);
    m_folderUsed = false;
}

void CompactCopyList::Add(const std::string& name)
{
    m_folderUsed = true;
    m_items.push_back({static_cast<std::uint32_t>(m_from.size() - 1),
                       static_cast<std::uint32_t>(m_names.size()), static_cast<std::uint32_t>(name.size())});
    m_names += name;
}

void CompactCopyList::clear()
{
    m_from.clear();
    m_to.clear();
    m_items.clear();
    m_names.clear();
    m_folderUsed = true;
}

std::string CompactCopyList::Source(std::size_t index) const
{
    const Item& item = m_items[index];
    return m_from[item.folder] + m_names.substr(item.nameOffset, item.nameLength);
}

std::string CompactCopyList::Target(std::size_t index) const
{
    const Item& item = m_items[index];
    return m_to[item.folder] + m_names.substr(item.nameOffset, item.nameLength);
}

std::vector<CopyEntry> CompactCopyList::Entries() const
{
    std::vector<CopyEntry> entries;
    entries.reserve(m_items.size());
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        entries.push_back((*this)[i]);
    }
    return entries;
}

} // namespace ostrel
