#include "edge_swipes.h"

#include "cursor_clip.h"
#include "fatal_error.h"
#include "platform.h"

namespace velmora {
namespace {

void tell_swipes_stay_on(const char* why) {
  report_error("the shell's edge swipes stay on during this lock", why);
}

}  // namespace

bool has_touch_screen(std::uint32_t digitizer) {
  return (digitizer & nid_ready) != 0 && (digitizer & (nid_integrated_touch | nid_external_touch)) != 0;
}

EdgeSwipeBlock block_edge_swipes(std::uint64_t shield) {
  EdgeSwipeBlock block;
  if (shield == 0 || !has_touch_screen(platform_digitizer_status())) return block;
  // The property first: the shell looks at it when the window becomes active.
  if (!platform_set_edge_swipes_blocked(shield, true)) {
    tell_swipes_stay_on("the shield's property store refused the setting");
    return block;
  }
  block.shield = shield;
  block.previous_foreground = platform_foreground_window();
  platform_set_foreground_window(shield);
  block.foreground_taken = platform_foreground_window() == shield;
  if (!block.foreground_taken) {
    tell_swipes_stay_on("Windows did not let the shield take the foreground");
    return block;
  }
  keep_cursor_confined();
  return block;
}

void unblock_edge_swipes(const EdgeSwipeBlock& block, std::uint64_t (*parent_window)()) {
  if (block.shield == 0) return;
  (void)platform_set_edge_swipes_blocked(block.shield, false);
  if (!block.foreground_taken) return;
  // Only what the shield still holds is handed on: a window the user or the parent brought
  // forward meanwhile keeps the foreground.
  const std::uint64_t now = platform_foreground_window();
  if (now != block.shield && now != 0) return;
  std::uint64_t target = block.previous_foreground;
  if (target == 0 || !platform_window_answers(target)) target = parent_window();
  if (target != 0) platform_set_foreground_window(target);
}

}  // namespace velmora
