#pragma once

namespace velmora {

// The run's locks, and the sidecar's side of its watcher: the pipe through which the record
// of saved values reaches the watcher before anything changes, and after each restore pass.

enum class LinkStart { Locked, AlreadyRunning, OtherSession };

// Takes the run lock, then waits until no watcher of an earlier run is still putting things
// back, within one bounded wait; nothing else has been made when this refuses.
LinkStart take_run_locks();

// Outside diagnostic mode, opens the pipe to the watcher, and from then on keeps the journal
// and writes every record of saved values into the pipe, which holds them until the watcher
// reads. A pipe that cannot be had is said on standard error; the journal still covers a kill.
void open_watcher_link(bool diagnostic);

// Starts the watcher on the pipe opened before, off the path to `ready`: the record is in the
// journal and the pipe already, so a kill before the watcher holds its lock is still put back
// (by the watcher as the holder of the run lock, or by the next run's replay). Nothing once
// everything is back. A watcher that cannot be had, or that runs where the parent's end takes
// it along, is said on standard error.
void launch_watcher();

// The run is over: deletes the journal, or keeps in it only what a restore could not put
// back, tells the watcher that it has nothing to do and closes the pipe, without waiting.
// From any thread; only the first call tells.
void tell_watcher_all_back();

// The end of the run, on the main thread: everything is back (as above), waits a bounded time
// for the watcher to exit, and lets go of the run lock. Each wait is bounded, also for a link
// that the hook thread holds at the end of the session.
void end_watcher_link();

}  // namespace velmora
