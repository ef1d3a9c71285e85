#include "FileSystem.h"

#if defined(__unix__)
#include "PosixFileSystem.h"
#else
#error "No file system layer for this platform"
#endif

namespace ostrel {

std::unique_ptr<FileSystem> CreateFileSystem()
{
    return std::make_unique<PosixFileSystem>();
}

} // namespace ostrel
