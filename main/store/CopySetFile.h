#pragma once

#include "store/CopySet.h"

#include <cstddef>
#include <functional>
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

// Whether a copy set survives a write and a read unchanged. The line format has no escapes, so a
// TAB in the first three fields, or a LF, CR or 0x1A byte in any field, would come back as other
// fields or other rows. Such names are legal on Linux, so whatever adds a set asks this first.
bool CanStoreCopySet(const CopySet& set);

// A byte source that works like read(2): the number of bytes placed in buffer, 0 at the end, or
// -1 with errno set.
using ReadBytes = std::function<std::ptrdiff_t(char* buffer, std::size_t size)>;

// Reads copy sets from a byte source and appends them. Returns 0, or the errno value of the
// failure; the complete lines read before a failure are still appended.
int ReadCopySets(const ReadBytes& read, std::vector<CopySet>& sets);

// Reads a copy-set file and appends its rows. Returns 0, or the errno value of the failure; the
// rows read before a failure are still appended.
int ReadCopySetFile(const std::string& path, std::vector<CopySet>& sets);

// Replaces a copy-set file as SaveFile does, so a failure leaves the old file as it was. Returns 0
// or the errno value of the failure. An existing file keeps its permission bits, owner and hard
// links, and is written in place where its folder refuses a file beside it; a read-only one is
// refused with EACCES, a list holding a set that CanStoreCopySet refuses with EINVAL, both before
// anything is written. A symbolic link is followed, so the file it names is replaced and the link
// stays.
int WriteCopySetFile(const std::string& path, const std::vector<CopySet>& sets);

} // namespace ostrel
