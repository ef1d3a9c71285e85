#include "SourceListing.h"

#include <algorithm>
#include <string_view>

namespace ostrel {

SourceListing::SourceListing(bool complete, const std::vector<DirEntry>& entries)
    : m_complete(complete)
{
    std::size_t bytes = 0;
    for (const DirEntry& entry : entries) {
        bytes += entry.name.size() + 1;
    }
    m_names.reserve(bytes);
    m_sorted.reserve(entries.size());
    for (const DirEntry& entry : entries) {
        const Attributes& attributes = entry.attributes;
        SourceKind kind = attributes.link ? SourceKind::Link
            : attributes.folder           ? SourceKind::Folder
                                          : SourceKind::File;
        m_sorted.emplace_back(static_cast<std::uint32_t>(m_names.size()), kind);
        m_names += entry.name;
        m_names += '\0';
    }
    const char* names = m_names.data();
    std::sort(m_sorted.begin(), m_sorted.end(), [names](const auto& a, const auto& b) {
        return std::string_view(names + a.first) < std::string_view(names + b.first);
    });
}

const SourceKind* SourceListing::Find(const std::string& name) const
{
    const char* names = m_names.data();
    auto at = std::lower_bound(m_sorted.begin(), m_sorted.end(), name,
                               [names](const auto& item, const std::string& key) {
                                   return std::string_view(names + item.first) < key;
                               });
    return at != m_sorted.end() && std::string_view(names + at->first) == name ? &at->second : nullptr;
}

} // namespace ostrel
