#include "engine/SourceListing.h"

#include <QChar>

#include <algorithm>

namespace ostrel {

namespace {

// The next character of a UTF-8 name, folded to one case; a byte that starts no valid character
// stands for itself, above every character.
char32_t NextFolded(std::string_view text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        ++at;
        return lead >= 'A' && lead <= 'Z' ? static_cast<char32_t>(lead - 'A' + 'a') : lead;
    }
    const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
    char32_t code = length == 4 ? lead & 0x07u : length == 3 ? lead & 0x0fu : lead & 0x1fu;
    bool valid = length > 1 && at + length <= text.size();
    for (std::size_t i = 1; valid && i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        valid = (next & 0xc0) == 0x80;
        code = (code << 6) | (next & 0x3fu);
    }
    if (!valid) {
        ++at;
        return 0x110000 + lead;
    }
    at += length;
    return QChar::toCaseFolded(code);
}

bool SortsBefore(std::string_view a, std::string_view b)
{
    const int folded = CompareFolded(a, b);
    return folded != 0 ? folded < 0 : a < b;
}

} // namespace

SourceKind KindOf(const Attributes& attributes)
{
    return attributes.link ? SourceKind::Link : attributes.folder ? SourceKind::Folder : SourceKind::File;
}

int CompareFolded(std::string_view a, std::string_view b)
{
    // Most names are ASCII: compare byte by byte until the first byte that is not.
    const std::size_t common = std::min(a.size(), b.size());
    std::size_t at = 0;
    for (; at < common; ++at) {
        auto x = static_cast<unsigned char>(a[at]);
        auto y = static_cast<unsigned char>(b[at]);
        if ((x | y) >= 0x80) {
            break;
        }
        if (x != y) {
            x = x >= 'A' && x <= 'Z' ? static_cast<unsigned char>(x - 'A' + 'a') : x;
            y = y >= 'A' && y <= 'Z' ? static_cast<unsigned char>(y - 'A' + 'a') : y;
            if (x != y) {
                return x < y ? -1 : 1;
            }
        }
    }
    // Both names start a character here, since all before it was ASCII.
    std::size_t i = at;
    std::size_t j = at;
    while (i < a.size() && j < b.size()) {
        const char32_t x = NextFolded(a, i);
        const char32_t y = NextFolded(b, j);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return i < a.size() ? 1 : j < b.size() ? -1 : 0;
}

SourceListing::SourceListing(bool complete, const std::vector<DirEntry>& entries, std::int64_t listedAt)
    : m_complete(complete)
    , m_listedAt(listedAt)
    , m_listed(entries.size())
{
    std::size_t bytes = 0;
    for (const DirEntry& entry : entries) {
        bytes += entry.name.size();
    }
    m_names.reserve(bytes);
    m_sorted.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        m_sorted.push_back({static_cast<std::uint32_t>(m_names.size()), static_cast<std::uint32_t>(i),
                            static_cast<std::uint16_t>(entries[i].name.size()),
                            KindOf(entries[i].attributes)});
        m_names += entries[i].name;
    }
    std::sort(m_sorted.begin(), m_sorted.end(),
              [this](const Item& a, const Item& b) { return SortsBefore(NameOf(a), NameOf(b)); });
    // Names that differ only in case sort next to each other; all but the first listed are twins.
    for (std::size_t i = 0; i + 1 < m_sorted.size();) {
        std::size_t end = i + 1;
        while (end < m_sorted.size() && CompareFolded(NameOf(m_sorted[i]), NameOf(m_sorted[end])) == 0) {
            ++end;
        }
        if (end - i > 1) {
            m_twins.resize(entries.size());
            auto first = std::min_element(m_sorted.begin() + static_cast<std::ptrdiff_t>(i),
                                          m_sorted.begin() + static_cast<std::ptrdiff_t>(end),
                                          [](const Item& a, const Item& b) { return a.index < b.index; });
            for (std::size_t k = i; k < end; ++k) {
                m_twins[m_sorted[k].index] = m_sorted[k].index != first->index;
            }
        }
        i = end;
    }
}

std::string_view SourceListing::NameOf(const Item& item) const
{
    return std::string_view(m_names.data() + item.offset, item.length);
}

const SourceListing::Item* SourceListing::FindItem(const std::string& name) const
{
    auto at = std::lower_bound(
        m_sorted.begin(), m_sorted.end(), name,
        [this](const Item& item, const std::string& key) { return SortsBefore(NameOf(item), key); });
    return at != m_sorted.end() && NameOf(*at) == name ? &*at : nullptr;
}

const SourceKind* SourceListing::Find(const std::string& name) const
{
    const Item* item = FindItem(name);
    return item ? &item->kind : nullptr;
}

const SourceKind* SourceListing::FindListed(const std::string& name) const
{
    const Item* item = FindItem(name);
    return item && m_listed[item->index] ? &item->kind : nullptr;
}

std::optional<std::string> SourceListing::FindFolded(const std::string& name) const
{
    auto at = std::lower_bound(
        m_sorted.begin(), m_sorted.end(), name,
        [this](const Item& item, const std::string& key) { return CompareFolded(NameOf(item), key) < 0; });
    for (; at != m_sorted.end() && CompareFolded(NameOf(*at), name) == 0; ++at) {
        if (NameOf(*at) != name) {
            return std::string(NameOf(*at));
        }
    }
    return std::nullopt;
}

} // namespace ostrel
