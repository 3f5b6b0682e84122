#include "engine/thread_priority.h"

#include <cerrno>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarnwick::engine {

void lowerCurrentThreadPriority()
{
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, tid);
    if (errno == 0 && current < 5)
        setpriority(PRIO_PROCESS, tid, 5);
}

} // namespace tarnwick::engine
