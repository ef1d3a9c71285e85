#pragma once

#include <string>

namespace brennick {

// The user's desktop folder (XDG_DESKTOP_DIR, by default ~/Desktop), only when it exists; it is
// never created. Empty when there is none.
std::string GetDesktopPath();

} // namespace brennick
