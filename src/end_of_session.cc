#include "end_of_session.h"

#include "cursor_clip.h"
#include "event_stream.h"
#include "platform.h"
#include "power_guard.h"
#include "process_state.h"
#include "sound_guard.h"

namespace velmora {

void restore_at_end_of_session() {
  if (diagnostic_mode.load()) return;
  session_ending.store(true);
  release_cursor();
  // The main thread's apartment cannot serve this thread; enter one of its own for the
  // audio restore, and leave it only if it was entered.
  const bool entered = platform_com_enter_apartment();
  restore_system_sounds();
  if (entered) platform_com_uninitialize();
  restore_beep();
  restore_power_actions();
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
