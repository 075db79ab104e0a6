#include "core/ThreadPriority.h"

// The one place that knows how each system sets a thread's priority.
#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace patrimonio {

void giveWayToTheWindow() {
#if defined(_WIN32)
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#elif defined(__linux__)
    // On Linux the nice value belongs to each thread.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    const int now = ::getpriority(PRIO_PROCESS, thread);
    ::setpriority(PRIO_PROCESS, thread, now + 5);
#endif
}

}  // namespace patrimonio
