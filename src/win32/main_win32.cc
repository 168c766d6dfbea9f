#include <windows.h>

#include "hook_thread_win32.h"
#include "platform.h"
#include "session_driver.h"
#include "watcher.h"

// A GUI-subsystem program, so no console window appears; the parent supplies the
// standard streams as pipes. The same executable is the sidecar's watcher when the sidecar
// starts it with the watcher's command line; any other command line runs the sidecar.
int main() {
  switch (velmora::platform_connect_to_sidecar()) {
    case velmora::WatcherRole::Connected:
      velmora::platform_exit(velmora::run_watcher());
    case velmora::WatcherRole::SidecarGone:
      velmora::platform_exit(0);  // told nothing, so nothing to put back
    case velmora::WatcherRole::NotWatcher:
      break;
  }
  // Ends in ExitProcess, never by returning: the detached event pump may still be blocked in
  // a write, and static destructors must not run under it.
  velmora::run_session(velmora::hook_thread_body);
}
