#include "companion/core/LogFields.h"

#include "companion/core/FileReplace.h"
#include "platform/AppFiles.h"

namespace brennick {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

} // namespace

std::vector<std::string> ReadLogFields(std::string_view text)
{
    std::vector<std::string> fields;
    std::size_t at = 0;
    while (at < text.size()) {
        std::string field;
        while (at < text.size() && IsBlank(text[at])) {
            ++at;
        }
        if (at < text.size() && text[at] == '"') {
            ++at;
            while (at < text.size() && text[at] != '"' && !IsLineEnd(text[at])) {
                field += text[at++];
            }
            if (at < text.size() && text[at] == '"') {
                ++at;
            }
        }
        while (at < text.size() && text[at] != ',' && !IsLineEnd(text[at])) {
            field += text[at++];
        }
        fields.push_back(std::move(field));
        if (at < text.size()) {
            // The delimiter goes with its field; CR LF counts as one line end.
            if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') {
                ++at;
            }
            bool comma = text[at] == ',';
            ++at;
            if (comma && at == text.size()) {
                // A comma at the very end still closes a field after it.
                fields.emplace_back();
            }
        }
    }
    return fields;
}

std::string LogPathFor(const std::string& exePath)
{
    if (FolderOf(exePath).empty()) {
        return {};
    }
    return ostrel::AppFiles::ForExecutable(exePath).CopyLogPath();
}

} // namespace brennick
