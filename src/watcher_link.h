#pragma once

namespace velmora {

// The run's locks, and the sidecar's side of its watcher: the pipe through which the record
// of saved values reaches the watcher before anything changes, and after each restore pass.

enum class LinkStart { Locked, AlreadyRunning, OtherSession };

// Takes the run lock, then waits until no watcher of an earlier run is still putting things
// back, within one bounded wait; nothing else has been made when this refuses.
LinkStart take_run_locks();

// Outside diagnostic mode, starts the watcher without waiting for it, and from then on keeps
// the journal and tells the watcher every record of saved values. A watcher that cannot be
// had, or that runs where the parent's end takes it along, is said on standard error; the
// journal still covers a kill.
void launch_watcher_link(bool diagnostic);

// The run is over: deletes the journal, or keeps in it only what a restore could not put
// back, tells the watcher that it has nothing to do and closes the pipe, without waiting.
// From any thread; only the first call tells.
void tell_watcher_all_back();

// The end of the run, on the main thread: everything is back (as above), waits a bounded time
// for the watcher to exit, so that no process of the run outlives `bye`, and lets go of the
// run lock.
void end_watcher_link();

}  // namespace velmora
