#include <windows.h>

#include "platform.h"
#include "session_driver.h"

// A GUI-subsystem program, so no console window appears; the parent supplies the
// standard streams as pipes.
int main() {
  const int status = velmora::run_session();
  // End at once: the detached key-event pump may still be blocked in a write, and static
  // destructors must not run under it.
  velmora::platform_exit(status);
}
