#include "keep_in_place_schedule.h"

namespace velmora {
namespace {

// The tick count wraps after 49.7 days; differences stay right across the wrap.
bool later(std::uint32_t time, std::uint32_t than) { return static_cast<std::int32_t>(time - than) > 0; }

// The input's time stamp and the hook's own clock reading may differ by a clock tick.
constexpr std::uint32_t tick_slack_ms = 50;

bool input_unseen(const KeepInPlaceSchedule& schedule, std::uint32_t last_hook_call) {
  if (!schedule.previous_input) return false;
  std::uint32_t seen = last_hook_call + tick_slack_ms;
  if (schedule.handled_input && later(*schedule.handled_input, seen)) seen = *schedule.handled_input;
  return later(*schedule.previous_input, seen);
}

}  // namespace

RoundSteps next_round(KeepInPlaceSchedule& schedule, std::optional<std::uint32_t> last_input,
                      std::uint32_t last_hook_call) {
  ++schedule.round;
  RoundSteps steps;
  steps.confine_cursor = true;
  steps.restack_shield = true;
  steps.retry_session = true;
  const bool unseen = input_unseen(schedule, last_hook_call);
  if (unseen) schedule.handled_input = schedule.previous_input;
  steps.refresh_hooks = unseen || schedule.round % hook_refresh_rounds == 0;
  steps.tell_removal = unseen && !schedule.removal_told;
  schedule.removal_told = schedule.removal_told || unseen;
  schedule.previous_input = last_input;
  return steps;
}

}  // namespace velmora
