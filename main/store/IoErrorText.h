#pragma once

#include <string>

namespace ostrel {

// The text of the error box for a file error (an errno value, or kReadPastEnd of CopySetFile.h):
// "ファイルが見つかりません" and its kind, or "I/O エラー (n)"; through the translation.
std::string IoErrorText(int error);

} // namespace ostrel
