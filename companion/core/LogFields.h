#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brennick {

// Splits the copy log into the entries the log viewer shows, field by field:
// - a field ends at a comma, at a line end (CR LF, LF or a lone CR) or at the end of the text, and
//   that comma or line end is not shown;
// - blanks at the start of a field are dropped;
// - a field that then begins with a double quote runs to the next double quote on its line (to the
//   line end when there is none), may hold commas, and is shown without the quotes; text between
//   the closing quote and the end of the field is kept after it;
// - so a line with k commas gives k + 1 entries and an empty line one empty entry; a line end at
//   the very end of the text opens no further entry.
std::vector<std::string> ReadLogFields(std::string_view text);

// The copy log that belongs to the main program at exePath, found by the rule the main program
// follows itself (AppFiles): velmor.log beside the executable the path resolves to where that
// folder is writable, otherwise in the user's state folder. Empty when the path names no folder.
std::string LogPathFor(const std::string& exePath);

} // namespace brennick
