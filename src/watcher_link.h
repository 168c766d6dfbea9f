#pragma once

namespace velmora {

// The sidecar's side of its watcher: the instance lock for the run, and the pipe through
// which every saved value reaches the watcher before the setting changes.

enum class LinkStart { Locked, AlreadyRunning };

// Takes the instance lock for this run before anything is changed. Outside diagnostic mode
// it starts the watcher, which holds the lock, and from then on tells it every record of
// saved values; a watcher that cannot be started is said on standard error, and the sidecar
// holds the lock itself, as a diagnostic run (which changes nothing) always does.
LinkStart start_watcher_link(bool diagnostic);

// Everything is back: tells the watcher so and closes the pipe, without waiting. From any
// thread; only the first call tells.
void tell_watcher_all_back();

// The end of the run, on the main thread: tells the watcher that everything is back, waits a
// bounded time for it to exit, so that no process of the run outlives `bye`, and lets go of
// the instance lock if this process holds it.
void end_watcher_link();

}  // namespace velmora
