#include "platform/FileSystem.h"

#if defined(__unix__)
#include "platform/PosixFileSystem.h"
#else
#error "No file system layer for this platform"
#endif

namespace ostrel {

std::unique_ptr<FileSystem> CreateFileSystem()
{
    return std::make_unique<PosixFileSystem>(true);
}

} // namespace ostrel
