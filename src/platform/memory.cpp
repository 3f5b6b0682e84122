#include "platform/memory.h"

// Any C library header says which C library this is.
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tarnwick::platform {

void releaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace tarnwick::platform
