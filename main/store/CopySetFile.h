#pragma once

#include "CopySet.h"

#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The error number reported when a read ends before the data it was promised.
constexpr int kReadPastEnd = -1;

// Splits the bytes of a copy-set file into copy sets: one per line, fields split at the first
// three TABs. Lines end at LF or CR LF, a lone CR is dropped, a 0x1A byte ends the file.
std::vector<CopySet> ParseCopySets(std::string_view bytes);

// The bytes of a copy-set file: four fields joined by TABs, CR LF after every line.
std::string FormatCopySets(const std::vector<CopySet>& sets);

// Reads a copy-set file and appends its rows. Returns 0, or the errno value of the failure; the
// rows read before a failure are still appended.
int ReadCopySetFile(const std::string& path, std::vector<CopySet>& sets);

// Replaces a copy-set file through a temporary file beside it and a rename, so a failure leaves
// the old file as it was. Returns 0 or the errno value of the failure.
int WriteCopySetFile(const std::string& path, const std::vector<CopySet>& sets);

// The text of the error box for a file error: "ファイルが見つかりません" and its kind, or
// "I/O エラー (n)".
std::string IoErrorText(int error);

} // namespace ostrel
