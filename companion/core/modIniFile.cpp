#include "companion/core/modIniFile.h"

#include "companion/core/FileReplace.h"
#include "platform/AppFiles.h"

#include <cerrno>
#include <cstdint>
#include <limits>
#include <vector>

namespace brennick {

namespace {

constexpr std::size_t kProfileBuffer = 256; // the read buffer, its last byte the terminating NUL
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char FoldCase(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

// One line of the file: its text without the line end, and the line end as it stands.
struct Line
{
    std::string_view text;
    std::string_view end;
};

std::vector<Line> SplitLines(std::string_view text)
{
    std::vector<Line> lines;
    while (!text.empty()) {
        std::size_t lf = text.find('\n');
        std::string_view line = lf == std::string_view::npos ? text : text.substr(0, lf);
        std::size_t endLength = lf == std::string_view::npos ? 0 : 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
            ++endLength;
        }
        lines.push_back({line, text.substr(line.size(), endLength)});
        text.remove_prefix(line.size() + endLength);
    }
    return lines;
}

// A lone CR after the last line is no line break: the next line would run on in it.
bool HasLineBreak(const Line& line)
{
    return line.end.find('\n') != std::string_view::npos;
}

// What a line needs after it before another line can follow: nothing when it ends with a line
// break, the LF of a CR LF when it stops after the CR, or else the file's line end.
std::string_view LineBreakAfter(const Line& line, std::string_view newLineEnd)
{
    if (HasLineBreak(line)) {
        return {};
    }
    return line.end.empty() ? newLineEnd : "\n";
}

// The name of a section header line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line)
{
    line = Trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(line.substr(1, close - 1));
}

bool IsComment(std::string_view line)
{
    line = Trim(line);
    return !line.empty() && line.front() == ';';
}

// The key of a key line; the whole trimmed line when it has no "=".
std::string_view KeyName(std::string_view line)
{
    std::size_t equals = line.find('=');
    return Trim(equals == std::string_view::npos ? line : line.substr(0, equals));
}

// Where the first section of a name begins and ends, as line indices: the header line and the
// line after the section's last line.
struct SectionSpan
{
    std::size_t header = 0;
    std::size_t end = 0;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view section)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::optional<std::string_view> name = SectionName(lines[i].text);
        if (name && SameName(*name, section)) {
            std::size_t end = i + 1;
            while (end < lines.size() && !SectionName(lines[end].text)) {
                ++end;
            }
            return SectionSpan{i, end};
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<Line>& lines, const SectionSpan& span,
                                   std::string_view key)
{
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        if (!IsComment(lines[i].text) && !Trim(lines[i].text).empty()
            && SameName(KeyName(lines[i].text), key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::string_view WithoutByteOrderMark(std::string_view text)
{
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    return text;
}

bool HasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The length of the UTF-8 sequence that a lead byte opens; 1 for anything else, so that stray
// bytes are cut like single characters.
std::size_t SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    return 1;
}

} // namespace

std::string GetIniPath(const std::string& companionFolder)
{
    return ostrel::AppFiles::ForProgramFolder(companionFolder).LauncherSettingsPath();
}

std::optional<std::string> FindIniValue(std::string_view text, std::string_view section, std::string_view key)
{
    std::vector<Line> lines = SplitLines(WithoutByteOrderMark(text));
    std::optional<SectionSpan> span = FindSection(lines, section);
    if (!span) {
        return std::nullopt;
    }
    std::optional<std::size_t> index = FindKey(lines, *span, key);
    if (!index) {
        return std::nullopt;
    }
    std::string_view line = lines[*index].text;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(Trim(line.substr(equals + 1)));
}

std::optional<std::string> SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                                       std::string_view value)
{
    if (HasLineBreakOrNul(section) || HasLineBreakOrNul(key) || HasLineBreakOrNul(value)
        || section.find(']') != std::string_view::npos || Trim(section) != section || section.empty()
        || key.find('=') != std::string_view::npos || Trim(key) != key || key.empty() || key.front() == '['
        || key.front() == ';') {
        return std::nullopt;
    }

    // A byte-order mark stays where it is; the lines after it are read as the readers see them, so
    // a section on the first line is found and not written a second time.
    std::string result(text.substr(0, text.size() - WithoutByteOrderMark(text).size()));
    std::vector<Line> lines = SplitLines(WithoutByteOrderMark(text));
    // New lines take the line end the file already uses; a new file gets CR LF.
    std::string_view newLineEnd = "\r\n";
    for (const Line& line : lines) {
        if (HasLineBreak(line)) {
            newLineEnd = line.end;
            break;
        }
    }
    const std::string keyLine = std::string(key) + "=" + std::string(value);

    auto append = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            result.append(lines[i].text);
            result.append(lines[i].end);
        }
    };

    std::optional<SectionSpan> span = FindSection(lines, section);
    if (!span) {
        append(0, lines.size());
        if (!lines.empty()) {
            result.append(LineBreakAfter(lines.back(), newLineEnd));
        }
        result.append("[").append(section).append("]").append(newLineEnd);
        result.append(keyLine).append(newLineEnd);
        return result;
    }

    if (std::optional<std::size_t> index = FindKey(lines, *span, key)) {
        // The key keeps its own spelling and indentation; only what follows "=" changes.
        std::string_view line = lines[*index].text;
        std::size_t equals = line.find('=');
        append(0, *index);
        if (equals == std::string_view::npos) {
            result.append(line).append("=");
        } else {
            result.append(line.substr(0, equals + 1));
        }
        result.append(value);
        result.append(lines[*index].end);
        append(*index + 1, lines.size());
        return result;
    }

    // A new key goes after the section's last line that holds anything, so the blank lines that
    // separate it from the next section stay where they are.
    std::size_t last = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        if (!Trim(lines[i].text).empty()) {
            last = i;
        }
    }
    append(0, last + 1);
    result.append(LineBreakAfter(lines[last], newLineEnd));
    result.append(keyLine).append(newLineEnd);
    append(last + 1, lines.size());
    return result;
}

int LeadingInteger(std::string_view value, int defaultValue)
{
    value = Trim(value);
    if (value.empty()) {
        return defaultValue;
    }
    // Only a minus sign may lead the digits: "+35" has no leading integer and reads as 0.
    const bool negative = value.front() == '-';
    if (negative) {
        value.remove_prefix(1);
    }
    std::int64_t number = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<int>::max()} + 1;
    for (char c : value) {
        if (c < '0' || c > '9') {
            break;
        }
        number = number * 10 + (c - '0');
        if (number > kLimit) {
            number = kLimit;
        }
    }
    if (negative) {
        number = -number;
    }
    if (number > std::numeric_limits<int>::max()) {
        number = std::numeric_limits<int>::max();
    }
    return static_cast<int>(number);
}

std::string CutProfileString(std::string value)
{
    constexpr std::size_t kLimit = kProfileBuffer - 1;
    if (value.size() <= kLimit) {
        return value;
    }
    // Walk whole characters so that the cut never leaves half a character behind.
    std::size_t keep = 0;
    while (keep < value.size()) {
        std::size_t length = SequenceLength(static_cast<unsigned char>(value[keep]));
        if (keep + length > kLimit) {
            break;
        }
        keep += length;
    }
    value.resize(keep);
    return value;
}

int GetIniInt(const std::string& iniPath, std::string_view section, std::string_view key, int defaultValue)
{
    std::string text;
    if (ReadWholeFile(iniPath, text) != 0) {
        return defaultValue;
    }
    std::optional<std::string> value = FindIniValue(text, section, key);
    return value ? LeadingInteger(*value, defaultValue) : defaultValue;
}

std::string GetIniStr(const std::string& iniPath, std::string_view section, std::string_view key,
                      std::string_view defaultValue)
{
    std::string text;
    std::optional<std::string> value;
    if (ReadWholeFile(iniPath, text) == 0) {
        value = FindIniValue(text, section, key);
    }
    return CutProfileString(value ? *value : std::string(defaultValue));
}

bool PutIniStr(const std::string& iniPath, std::string_view section, std::string_view key,
               std::string_view value)
{
    std::string text;
    int error = ReadWholeFile(iniPath, text);
    if (error != 0 && error != ENOENT) {
        // Writing over a file that could not be read would lose every other value in it.
        return false;
    }
    std::optional<std::string> updated = SetIniValue(text, section, key, value);
    return updated && ostrel::AppFiles::MakeFolderFor(iniPath) == 0 && ReplaceFile(iniPath, *updated) == 0;
}

} // namespace brennick
