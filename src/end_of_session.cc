#include "end_of_session.h"

#include "event_stream.h"
#include "guard_table.h"
#include "platform.h"
#include "process_state.h"

namespace velmora {

void restore_at_end_of_session() {
  if (diagnostic_mode.load()) return;
  session_ending.store(true);
  restore_guards(Restorer::OtherThread);
}

bool wake_command_loop() {
  if (command_loop_ended.load()) return true;
  (void)platform_cancel_input_read();  // a miss is caught by the next try
  return false;
}

void end_run_here() {
  capture_active.store(false);
  emit_line(event_line("bye"));
  platform_exit(0);
}

}  // namespace velmora
