#pragma once

#include <QString>

#include <string>

namespace brennick {

// File names and paths are bytes: the companion keeps, compares, stores and passes on the bytes
// the file system holds, and only shows them as text. A name that is not valid UTF-8 shows with
// U+FFFD in place of what can't be read, but is still found, run and deleted by its bytes.

// The text shown for a name or path.
inline QString ShownText(const std::string& bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The bytes behind a text that the user may have edited: the original bytes as long as the text
// still shows exactly them, otherwise the text as UTF-8.
inline std::string BytesOf(const QString& text, const std::string& original)
{
    return text == ShownText(original) ? original : text.toStdString();
}

} // namespace brennick
