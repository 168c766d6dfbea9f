#pragma once

namespace velmora {

// The watcher: a second process of the sidecar's executable that holds the instance lock
// for the run and, should the sidecar end without saying that everything is back (killed,
// crashed, failed fast), puts back everything it was told of. It has no hooks and no
// windows, writes nothing to disk, and while the sidecar runs only waits on the pipe.

// Exit status of a run refused because another sidecar holds the instance lock.
inline constexpr int already_running_status = 103;

// How long a new run waits for the instance lock: a previous run's watcher may still be
// putting things back.
inline constexpr unsigned instance_lock_wait_ms = 3000;

// The watcher process's whole run, once connected to its sidecar; returns its exit status
// (already_running_status when the lock is held by another run).
int run_watcher();

// Reads the sidecar's records until its end of the pipe closes, then puts back, in the
// shutdown order, what the last record holds, unless that record said everything is back.
void watch_sidecar();

}  // namespace velmora
