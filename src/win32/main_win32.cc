#include <windows.h>

#include "hook_thread_win32.h"
#include "platform.h"
#include "session_driver.h"

// A GUI-subsystem program, so no console window appears; the parent supplies the
// standard streams as pipes.
int main() {
  const int status = velmora::run_session(velmora::hook_thread_body);
  // End at once: the detached event pump may still be blocked in a write, and static
  // destructors must not run under it.
  velmora::platform_exit(status);
}
