#include "platform/thread_priority.h"

#include <windows.h>

namespace hgt {

void LowerThreadPriority()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

} // namespace hgt
