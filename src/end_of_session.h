#pragma once

namespace velmora {

// The end of the user's session (log-off, restart, shutdown) while the lock holds. The
// system may end the process at any moment once it has been told the session really
// ends, so everything changed is put back first, on the thread that was told, with the
// same restore operations as a normal shutdown: each setting goes back at most once,
// whichever thread comes first.

// Puts back the cursor, the system-sounds session, the beep and the power actions, and
// marks the session as ending so the command loop reads no more. Waits on neither
// standard stream. The wake request is left to the main thread, the only one that can
// end it; it persists nothing and ends with that thread. Nothing to do in diagnostic mode.
void restore_at_end_of_session();

// Nudges the main thread out of a blocked read of standard input, so that the run ends
// as at end of input. True once the command loop has ended; until then the caller tries
// again later, as the main thread may have been between two reads.
bool wake_command_loop();

// Whether the run may be ended from another thread: only once `ready` is written, so that
// `bye` never comes without it.
bool may_end_run_here();

// The run's end from this thread, for when the main thread could not be woken (a
// platform where a blocked pipe read cannot be cancelled): `bye`, then status 0, as at
// end of input. Everything was put back already; the wake request ends with the process.
[[noreturn]] void end_run_here();

}  // namespace velmora
