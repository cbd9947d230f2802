#include "link/platform/thread_priority.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kt::platform {

void lowerCurrentThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

} // namespace kt::platform
