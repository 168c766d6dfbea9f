#include "keep_in_place_schedule.h"

namespace velmora {
namespace {

// The tick count wraps after 49.7 days; differences stay right across the wrap.
bool later(std::uint32_t time, std::uint32_t than) { return static_cast<std::int32_t>(time - than) > 0; }

bool hook_lost(const KeepInPlaceSchedule& schedule, const InputClock& clock) {
  if (!clock.raw_input) return false;
  std::uint32_t seen = clock.hook_call;
  if (schedule.refreshed_at && later(*schedule.refreshed_at, seen)) seen = *schedule.refreshed_at;
  return later(*clock.raw_input, seen + hook_silence_ms);
}

}  // namespace

RoundSteps next_round(KeepInPlaceSchedule& schedule, std::uint32_t now, const InputClock& keyboard,
                      const InputClock& mouse) {
  ++schedule.round;
  RoundSteps steps;
  steps.confine_cursor = true;
  steps.restack_shield = true;
  steps.retry_session = true;
  const bool lost = hook_lost(schedule, keyboard) || hook_lost(schedule, mouse);
  steps.refresh_hooks = lost || schedule.round % hook_refresh_rounds == 0;
  if (steps.refresh_hooks) schedule.refreshed_at = now;
  steps.tell_removal = lost && !schedule.removal_told;
  schedule.removal_told = schedule.removal_told || lost;
  return steps;
}

}  // namespace velmora
