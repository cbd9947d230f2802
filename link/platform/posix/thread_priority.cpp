#include "link/platform/thread_priority.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kt::platform {

void lowerCurrentThreadPriority() {
    // Linux keeps a nice value per thread.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0) (void)::setpriority(PRIO_PROCESS, tid, current + 1);
}

} // namespace kt::platform
