#include "FileSystem.h"
#include "Volumes.h"

#if defined(__unix__)
#include "PosixFileSystem.h"
#include "PosixVolumes.h"
#else
#error "No file system layer for this platform"
#endif

namespace ostrel {

std::unique_ptr<FileSystem> CreateFileSystem()
{
    return std::make_unique<PosixFileSystem>(true);
}

std::unique_ptr<Volumes> CreateVolumes()
{
    return std::make_unique<PosixVolumes>();
}

} // namespace ostrel
