#pragma once

#include <string>
#include <string_view>

#include "event_channel.h"

namespace velmora {

// Compact JSON object with the single member "event", e.g. {"event":"ready"}.
std::string event_line(std::string_view event_name);

// {"down":true,"event":"key","vk":65}
std::string key_event_line(KeyEvent event);

// Writes one line and a line feed to standard output as a whole, under the process-wide
// standard-output lock, from any thread. Write errors are dropped: a parent that stopped
// reading loses lines, never the session.
void emit_line(std::string text);

// The run's last line (`bye`), then the exit with `status`, with the standard-output lock
// held through the exit, so that no other line can start and be cut off by it.
[[noreturn]] void emit_last_line_and_exit(std::string text, int status);

// An exit that writes no last line, with the standard-output lock held the same way; it
// waits a bounded time for a write under way.
[[noreturn]] void exit_holding_stdout(int status);

// Lets the event pump write. Until then it holds back what it receives, so that a run refused
// for want of the instance lock writes nothing on standard output.
void open_event_output();

// Body of the event pump thread: one `key` line per KeyEvent and one line per counted
// event (`session-lock`), until the channel ends.
void event_pump(EventReceiver receiver);

}  // namespace velmora
