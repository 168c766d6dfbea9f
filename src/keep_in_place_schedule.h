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
// Raw input of a class of device that keeps coming for longer than this after its hook
// procedure last ran means that the hook is gone.
inline constexpr std::uint32_t hook_silence_ms = 1000;

// One class of device (keyboard or mouse), in the system's millisecond ticks.
struct InputClock {
  // When raw input of the class last arrived; empty when none has (or raw input could not
  // be registered). Touch and pen make none.
  std::optional<std::uint32_t> raw_input;
  std::uint32_t hook_call = 0;  // when its hook procedure last ran, or the hooks were installed
};

struct KeepInPlaceSchedule {
  unsigned round = 0;
  std::optional<std::uint32_t> refreshed_at;  // a fresh pair counts as a call of both hooks
  bool removal_told = false;
};

struct RoundSteps {
  bool confine_cursor = false;
  bool restack_shield = false;
  bool retry_session = false;
  bool refresh_hooks = false;
  bool tell_removal = false;  // say on standard error, once per run, that a hook was lost
};

// One round at time `now`. A hook counts as lost only when raw input of its class arrived
// more than hook_silence_ms after the hook last ran: whether Windows still delivers raw
// input that a hook swallowed is not settled, so raw input alone proves nothing, and the
// system's last-input time (which touch and pen advance without any mouse hook seeing
// them) is not looked at. A lost hook puts the pair back at once rather than at the next
// sixth round.
RoundSteps next_round(KeepInPlaceSchedule& schedule, std::uint32_t now, const InputClock& keyboard,
                      const InputClock& mouse);

}  // namespace velmora
