#pragma once

namespace velmora {

// The sidecar's side of its watcher: the instance lock for the run, and the pipe through
// which every saved value reaches the watcher before the setting changes.

enum class LinkStart { Locked, AlreadyRunning };

// Outside diagnostic mode, starts the watcher, which is to hold the instance lock, without
// waiting for it, so its start overlaps the hook thread's set-up.
void launch_watcher_link(bool diagnostic);

// Waits until this run holds the instance lock, before anything is changed: through the
// watcher, which is from then on told every record of saved values; or, when the watcher
// cannot be had (said on standard error) and in a diagnostic run (which changes nothing),
// by the sidecar itself.
LinkStart await_watcher_link(bool diagnostic);

// Everything is back: tells the watcher so and closes the pipe, without waiting. From any
// thread; only the first call tells.
void tell_watcher_all_back();

// The end of the run, on the main thread: tells the watcher that everything is back, waits a
// bounded time for it to exit, so that no process of the run outlives `bye`, and lets go of
// the instance lock if this process holds it.
void end_watcher_link();

}  // namespace velmora
