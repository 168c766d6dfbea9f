#pragma once

// The schedule of the keep-in-place timer on the hook thread: what each round puts back.
// Plain code, so that it is tested natively; src/win32/keep_in_place_win32.cc runs it.

#include <cstdint>
#include <optional>

namespace velmora {

inline constexpr unsigned keep_in_place_ms = 500;
// Every sixth round (3 seconds) a fresh pair of hooks: Windows removes a low-level hook
// that once took too long without telling the program.
inline constexpr unsigned hook_refresh_rounds = 6;

struct KeepInPlaceSchedule {
  unsigned round = 0;
  // The system's last input time as the previous round read it: the hooks have had a
  // whole round since to see that input.
  std::optional<std::uint32_t> previous_input;
  // Input up to this time was found unseen and the hooks put back for it already.
  std::optional<std::uint32_t> handled_input;
  bool removal_told = false;
};

struct RoundSteps {
  bool confine_cursor = false;
  bool restack_shield = false;
  bool retry_session = false;
  bool refresh_hooks = false;
  bool tell_removal = false;  // say on standard error, once per run, that a hook was lost
};

// One round. `last_input` is the system's time of the last input event (GetLastInputInfo;
// empty when it cannot be read), `last_hook_call` the time the hooks were last called or
// installed, both in the system's millisecond ticks. Input that reached the system a round
// ago and that no hook has seen since means that Windows removed a hook: the hooks are
// put back at once rather than at the next sixth round.
RoundSteps next_round(KeepInPlaceSchedule& schedule, std::optional<std::uint32_t> last_input,
                      std::uint32_t last_hook_call);

}  // namespace velmora
