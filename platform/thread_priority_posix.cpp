#include "platform/thread_priority.h"

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace hgt {

void LowerThreadPriority()
{
#ifdef __linux__
    static thread_local bool lowered = false;
    if (!lowered) {
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        lowered = true;
    }
#endif
}

} // namespace hgt
