#include "end_of_session_win32.h"

#include "end_of_session.h"

namespace velmora {
namespace {

// How often a missed wake-up of the command loop is tried again, and how often at most
// before this thread ends the run itself (half a second).
constexpr UINT wake_retry_ms = 20;
constexpr int wake_tries = 25;

int wake_tries_left = 0;     // used on the hook thread only
bool session_ended = false;  // every shield (one per monitor) hears the end; one acts on it

void CALLBACK wake_timer_proc(HWND /*window*/, UINT /*message*/, UINT_PTR timer, DWORD /*time*/) {
  if (wake_command_loop()) {
    (void)KillTimer(nullptr, timer);
    return;
  }
  // Wine 8 cannot cancel a blocked pipe read (CancelSynchronousIo finds nothing to cancel).
  // A main thread still starting up reaches its command loop and ends by itself.
  if (may_end_run_here() && --wake_tries_left <= 0) end_run_here();
}

}  // namespace

std::optional<LRESULT> handle_end_of_session(UINT message, WPARAM wparam) {
  if (message == WM_QUERYENDSESSION) return TRUE;  // the lock never holds up a log-off
  if (message != WM_ENDSESSION) return std::nullopt;
  // FALSE: the end was called off and the lock goes on.
  if (wparam != FALSE && !session_ended) {
    session_ended = true;
    restore_at_end_of_session();
    // The main thread may be between two reads; a thread timer of this thread keeps
    // trying without holding up the reply.
    if (!wake_command_loop()) {
      wake_tries_left = wake_tries;
      (void)SetTimer(nullptr, 0, wake_retry_ms, wake_timer_proc);
    }
  }
  return 0;
}

}  // namespace velmora
