#pragma once

namespace velmora {

// The watcher: a second process of the sidecar's executable that holds the instance lock
// for the run and, should the sidecar end without saying that everything is back (killed,
// crashed, failed fast), puts back everything it was told of. It has no hooks and no
// windows, and while the sidecar runs only waits on the pipe.

// Exit status of a run refused because another sidecar holds the locks.
inline constexpr int already_running_status = 103;

// How long a new run waits for each lock: the run lock of a run that is ending, then the
// instance lock of a killed run's watcher that may still be putting things back.
inline constexpr unsigned instance_lock_wait_ms = 3000;

// How long a watcher waits for the instance lock, which only another watcher that is
// putting things back can hold; it watches all the same once the wait is over.
inline constexpr unsigned watcher_lock_wait_ms = 10000;

// The turns of that wait: between two, the watcher reads what its pipe holds, so that a
// sidecar that ends meanwhile is heard within a turn, not at the end of the wait.
inline constexpr unsigned watcher_lock_turn_ms = 50;

// The watcher process's whole run, once connected to its sidecar; returns its exit status.
// It puts back on the instance lock alone if it took that lock while its sidecar still ran:
// the sidecar then held the run lock, so no new run had passed its wait for the instance
// lock, and none can until the watcher lets go. Otherwise it needs the run lock too.
int run_watcher();

// Reads the sidecar's records until its end of the pipe closes. Unless the last record said
// everything is back, puts back, in the shutdown order, what it holds and deletes the
// journal, but only while it holds the dead sidecar's run lock: a new run that has taken
// that lock already replays the journal itself, so a late watcher never undoes its changes.
void watch_sidecar();

}  // namespace velmora
