#pragma once

#include <QString>

#include <initializer_list>
#include <string>
#include <string_view>

namespace ostrel {

// A translated window text with %1, %2, ... filled by byte strings. Paths and volume names are
// spliced in as bytes after the text is turned into UTF-8, so a name that is not valid UTF-8
// reaches the window exactly as it is on disk, and an argument holding "%2" stays as it is.
inline std::string TrBytes(const QString& translated, std::initializer_list<std::string_view> args = {})
{
    const std::string text = translated.toStdString();
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            const std::size_t n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

} // namespace ostrel
