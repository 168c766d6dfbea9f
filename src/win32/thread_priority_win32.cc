// The seam's thread priority, on Windows.

#include <windows.h>

#include "platform.h"

namespace velmora {

// THREAD_PRIORITY_HIGHEST: base priority 10 in a normal-priority process, two above the
// programs that keep the cores busy, so a waiting key is served first. Microsoft's
// SetThreadPriority remarks: a thread that handles input may run above one that computes,
// but threads with a base priority above 11 interfere with the operating system (so not
// TIME_CRITICAL, 15). Both threads sleep until input comes and hold the core for
// microseconds per key, so they take nothing from the desktop. A low-level hook that
// answers too late (LowLevelHooksTimeout) is passed over and then removed silently.
void platform_raise_thread_priority() {
  // Nothing to do on failure: the thread runs as before, only later under load.
  (void)SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

}  // namespace velmora
