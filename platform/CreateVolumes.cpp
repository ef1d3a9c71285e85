#include "platform/Volumes.h"

#if defined(__unix__)
#include "platform/PosixVolumes.h"
#else
#error "No drive layer for this platform"
#endif

namespace ostrel {

// Apart from CreateFileSystem, so that a program that only asks about drives links nothing of
// the file system layer.
std::unique_ptr<Volumes> CreateVolumes()
{
    return std::make_unique<PosixVolumes>();
}

} // namespace ostrel
