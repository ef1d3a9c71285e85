#pragma once

#include <string>
#include <string_view>

namespace brennick {

// Replaces the file at path with bytes, as ostrel::SaveFile does: a failure leaves the old file as
// it was. A symbolic link at path is replaced itself and never followed. An existing regular file
// keeps its permission bits, owner and hard links, and one whose owner write bit is clear is
// refused with EACCES; a new file gets newMode less the umask. Returns 0, or the errno value of
// the failure.
int ReplaceFile(const std::string& path, std::string_view bytes, unsigned newMode = 0666);

// Reads a whole file into bytes. Returns 0, or the errno value of the failure; anything but a plain
// file (a folder, a FIFO, a device) is refused without waiting, EISDIR for a folder, EINVAL else.
int ReadWholeFile(const std::string& path, std::string& bytes);

// The folder part of a path up to and including its last "/"; empty when it holds none.
std::string FolderOf(const std::string& path);

} // namespace brennick
