// Fuzzes the companion's settings file: reading a value from any text, setting one and reading
// everything back, the integer and length rules of the profile reads, and the same through a
// real file with GetIniStr, GetIniInt and PutIniStr.
//
// Input: section NUL key NUL value NUL file text (the text may hold further NULs).
#include "FuzzSupport.h"
#include "companion/core/modIniFile.h"

#include <climits>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

using namespace ostrel::fuzz;

namespace {

// The rules of the settings file written out again here, on purpose apart from the code under
// test, so that the target checks that code against an independent reading of them.
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

bool SameName(std::string_view a, std::string_view b)
{
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

// The leading integer of a value worked out another way: all its digits as a decimal text,
// compared with the limits as texts.
int ReferenceInteger(std::string_view value, int defaultValue)
{
    value = Trim(value);
    if (value.empty()) {
        return defaultValue;
    }
    bool negative = value.front() == '-';
    if (negative) {
        value.remove_prefix(1);
    }
    std::string digits;
    for (char c : value) {
        if (c < '0' || c > '9') {
            break;
        }
        if (!(digits.empty() && c == '0')) {
            digits += c;
        }
    }
    const std::string limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
        return negative ? INT_MIN : INT_MAX;
    }
    long long number = digits.empty() ? 0 : std::stoll(digits);
    return static_cast<int>(negative ? -number : number);
}

// The section and key names the text holds, as a reader could ask for them.
std::vector<std::pair<std::string, std::string>> NamesIn(std::string_view text)
{
    std::vector<std::string> sections;
    std::vector<std::string> keys;
    for (std::string_view rest = text; !rest.empty();) {
        std::size_t lf = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, lf));
        rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') {
            line = Trim(line.substr(0, line.size() - 1));
        }
        if (!line.empty() && line.front() == '[' && line.find(']') != std::string_view::npos) {
            sections.emplace_back(Trim(line.substr(1, line.rfind(']') - 1)));
        } else if (std::size_t equals = line.find('='); equals != std::string_view::npos) {
            keys.emplace_back(Trim(line.substr(0, equals)));
        }
    }
    std::vector<std::pair<std::string, std::string>> names;
    for (std::size_t s = 0; s < sections.size() && s < 8; ++s) {
        for (std::size_t k = 0; k < keys.size() && k < 16; ++k) {
            names.emplace_back(sections[s], keys[k]);
        }
    }
    return names;
}

// The profile cut: at most 255 bytes, a prefix, whole characters of valid text kept whole, and
// no more cut than a character needs.
void CheckCut(const std::string& value)
{
    std::string cut = brennick::CutProfileString(value);
    FUZZ_CHECK(cut.size() <= 255);
    FUZZ_CHECK(value.compare(0, cut.size(), cut) == 0);
    if (value.size() <= 255) {
        FUZZ_CHECK(cut == value);
    } else {
        FUZZ_CHECK(cut.size() + 3 >= 255);
    }
    if (IsValidUtf8(value)) {
        FUZZ_CHECK(IsValidUtf8(cut));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> parts =
        SplitAtNul(std::string_view(reinterpret_cast<const char*>(data), size), 4);
    const std::string& section = parts[0];
    const std::string& key = parts[1];
    const std::string& value = parts[2];
    const std::string& text = parts[3];
    const bool validText = IsValidUtf8(text);

    // Reading from any text.
    std::optional<std::string> found = brennick::FindIniValue(text, section, key);
    if (found) {
        FUZZ_CHECK(found->find_first_of("\n") == std::string::npos);
        FUZZ_CHECK(Trim(*found) == *found);
        FUZZ_CHECK(!validText || IsValidUtf8(*found));
        FUZZ_CHECK(brennick::LeadingInteger(*found, 4000) == ReferenceInteger(*found, 4000));
        CheckCut(*found);
    }
    FUZZ_CHECK(brennick::LeadingInteger(value, -7) == ReferenceInteger(value, -7));
    CheckCut(value);

    // Setting a value: it reads back, nothing else changes, and setting it again changes nothing.
    std::optional<std::string> updated = brennick::SetIniValue(text, section, key, value);
    if (updated) {
        FUZZ_CHECK(brennick::FindIniValue(*updated, section, key) == std::string(Trim(value)));
        FUZZ_CHECK(brennick::SetIniValue(*updated, section, key, value) == updated);
        if (validText && IsValidUtf8(section) && IsValidUtf8(key) && IsValidUtf8(value)) {
            FUZZ_CHECK(IsValidUtf8(*updated));
        }
        for (const auto& [otherSection, otherKey] : NamesIn(text)) {
            if (SameName(otherSection, section) && SameName(otherKey, key)) {
                continue;
            }
            FUZZ_CHECK(brennick::FindIniValue(*updated, otherSection, otherKey)
                       == brennick::FindIniValue(text, otherSection, otherKey));
        }
    }

    // The same through a real file.
    const std::string path = brennick::GetIniPath(ScratchFolder::Path());
    PutFileBytes(path, text);
    FUZZ_CHECK(brennick::GetIniStr(path, section, key, value)
               == brennick::CutProfileString(found ? *found : value));
    FUZZ_CHECK(brennick::GetIniInt(path, section, key, 4000)
               == (found ? brennick::LeadingInteger(*found, 4000) : 4000));
    bool stored = brennick::PutIniStr(path, section, key, value);
    FUZZ_CHECK(stored == updated.has_value());
    if (stored) {
        FUZZ_CHECK(FileBytes(path) == *updated);
        FUZZ_CHECK(brennick::GetIniStr(path, section, key, "")
                   == brennick::CutProfileString(std::string(Trim(value))));
        FUZZ_CHECK(brennick::GetIniInt(path, section, key, 4000) == ReferenceInteger(value, 4000));
    } else {
        FUZZ_CHECK(FileBytes(path) == text);
    }
    ::unlink(path.c_str());
    // With no file, every read gives its default and the first write creates the file.
    FUZZ_CHECK(brennick::GetIniStr(path, section, key, value) == brennick::CutProfileString(value));
    FUZZ_CHECK(brennick::GetIniInt(path, section, key, -3) == -3);
    if (brennick::PutIniStr(path, section, key, value)) {
        FUZZ_CHECK(brennick::GetIniStr(path, section, key, "x")
                   == brennick::CutProfileString(std::string(Trim(value))));
        ::unlink(path.c_str());
    }
    return 0;
}
