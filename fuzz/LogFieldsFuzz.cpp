// Fuzzes the log viewer's field reader on any copy log text. The reader walks the text once; the
// model below cuts the text into lines first and each line into fields, and the two must agree.
#include "FuzzSupport.h"
#include "companion/core/LogFields.h"

using namespace ostrel::fuzz;

namespace {

// The lines of a text: a line ends at CR LF, LF or a lone CR, and a line end at the very end of
// the text opens no further line.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t end = text.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            lines.push_back(text);
            break;
        }
        lines.push_back(text.substr(0, end));
        std::size_t length = text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        text.remove_prefix(end + length);
    }
    return lines;
}

// The fields of one line: blanks at a field's start dropped, a field opened by a double quote
// runs to the next one (or the line's end) and may hold commas, and what follows the closing
// quote up to the next comma stays with the field.
void AppendFields(std::string_view line, std::vector<std::string>& fields)
{
    for (;;) {
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        std::string field;
        if (!line.empty() && line.front() == '"') {
            std::size_t close = line.find('"', 1);
            field = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
            line.remove_prefix(close == std::string_view::npos ? line.size() : close + 1);
        }
        std::size_t comma = line.find(',');
        field += line.substr(0, comma);
        fields.push_back(std::move(field));
        if (comma == std::string_view::npos) {
            return;
        }
        line.remove_prefix(comma + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields = brennick::ReadLogFields(text);

    std::vector<std::string> expected;
    for (std::string_view line : Lines(text)) {
        AppendFields(line, expected);
    }
    FUZZ_CHECK(fields == expected);

    const bool valid = IsValidUtf8(text);
    std::size_t shown = 0;
    for (const std::string& field : fields) {
        FUZZ_CHECK(field.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(field.empty() || (field.front() != ' ' && field.front() != '\t')
                   || text.find('"') != std::string_view::npos);
        FUZZ_CHECK(!valid || IsValidUtf8(field));
        shown += field.size();
    }
    FUZZ_CHECK(shown <= text.size());
    FUZZ_CHECK(fields.empty() == text.empty());
    return 0;
}
