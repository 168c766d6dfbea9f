#include "end_of_session.h"

#include "event_stream.h"
#include "guard_table.h"
#include "platform.h"
#include "process_state.h"
#include "watcher_link.h"

namespace velmora {

void restore_at_end_of_session() {
  if (diagnostic_mode.load()) return;
  // From here on nothing more is applied; a pass under way on the main thread, applying or
  // restoring, is waited for, so every slot found empty is a setting already back.
  session_ending.store(true);
  restore_guards(Restorer::OtherThread);
  // The wake request left to the main thread persists nothing: the watcher and the journal
  // have no more to do.
  tell_watcher_all_back();
}

bool may_end_run_here() { return command_loop_started.load(); }

bool wake_command_loop() {
  if (command_loop_ended.load()) return true;
  (void)platform_cancel_input_read();  // a miss is caught by the next try
  return false;
}

void end_run_here() {
  capture_active.store(false);
  emit_last_line_and_exit(event_line("bye"), 0);
}

}  // namespace velmora
