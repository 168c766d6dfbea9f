#include "edge_swipes.h"

#include <algorithm>

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

EdgeSwipeBlock block_edge_swipes(const std::vector<std::uint64_t>& shields, std::size_t touch_shield) {
  EdgeSwipeBlock block;
  if (touch_shield >= shields.size() || !has_touch_screen(platform_digitizer_status())) return block;
  // The property first, on every shield: the shell looks at it when a window becomes active.
  for (const std::uint64_t shield : shields) {
    if (platform_set_edge_swipes_blocked(shield, true)) block.shields.push_back(shield);
  }
  const std::uint64_t active = shields[touch_shield];
  if (std::find(block.shields.begin(), block.shields.end(), active) == block.shields.end()) {
    tell_swipes_stay_on("the shield's property store refused the setting");
    return block;
  }
  block.active = active;
  block.previous_foreground = platform_foreground_window();
  platform_set_foreground_window(active);
  block.foreground_taken = platform_foreground_window() == active;
  if (!block.foreground_taken) {
    tell_swipes_stay_on("Windows did not let the shield take the foreground");
    return block;
  }
  keep_cursor_confined();
  return block;
}

void unblock_edge_swipes(const EdgeSwipeBlock& block, std::uint64_t (*parent_window)()) {
  for (const std::uint64_t shield : block.shields) (void)platform_set_edge_swipes_blocked(shield, false);
  if (!block.foreground_taken) return;
  // Only what the shield still holds is handed on: a window the user or the parent brought
  // forward meanwhile keeps the foreground.
  const std::uint64_t now = platform_foreground_window();
  if (now != block.active && now != 0) return;
  std::uint64_t target = block.previous_foreground;
  if (target == 0 || !platform_window_answers(target)) target = parent_window();
  if (target != 0) platform_set_foreground_window(target);
}

}  // namespace velmora
