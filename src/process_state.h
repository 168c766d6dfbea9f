#pragma once

#include <atomic>

#include "event_channel.h"

namespace velmora {

// Process-wide state shared with the hook procedures. Everything here is atomic because
// the hooks run on the hook thread while the main thread starts and stops the session.

// True from process start; cleared when the run begins to end (the shutdown, or the end of
// the session), and never set again.
extern std::atomic<bool> capture_active;

// Stored once by the session driver before any other thread exists.
extern std::atomic<bool> diagnostic_mode;

// Published once by the session driver and never released, so the keyboard filter can
// use it without any lifetime question.
extern std::atomic<EventSender*> event_sender;

// Set once the end of the user's session has been announced: the command loop then reads
// no more and the run ends as at end of input.
extern std::atomic<bool> session_ending;

// Set by the session driver once `ready` is written and its command loop begins, so that
// the end of the session never ends the run before `ready`.
extern std::atomic<bool> command_loop_started;

// Set by the session driver once its command loop has ended, so that nothing keeps
// trying to wake it.
extern std::atomic<bool> command_loop_ended;

}  // namespace velmora
