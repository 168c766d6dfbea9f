#pragma once

#include <atomic>
#include <cstdint>

#include "keyboard_filter.h"
#include "platform.h"

namespace velmora {

enum class GateState : std::uint8_t { Idle = 0, Pending = 1, Released = 2 };

// The click gate. The mouse filter and the click timer both run on the hook thread, so
// they never race; the atomics are there because other threads may look (tests, a
// debugger), not for ordering between the two.
extern std::atomic<GateState> click_gate;
// Set by each press that moves the gate from Idle to Pending.
extern std::atomic<MouseButton> pending_button;
// True while the shield lets pointer input through to the windows beneath it: from the
// re-injected press until its release has been routed.
extern std::atomic<bool> shield_open;
// The shield is to close again once the release that passed has surely been routed.
extern std::atomic<bool> shield_close_due;

inline constexpr unsigned click_hold_ms = 500;
// The system routes one input event completely before it calls the hooks for the next,
// so the shield closes at the next mouse event; this is the bound when none comes.
inline constexpr unsigned shield_close_ms = 250;

// Mouse messages the gate tells apart (the hook's wParam).
inline constexpr std::uint32_t wm_mousemove = 0x0200;
inline constexpr std::uint32_t wm_lbuttondown = 0x0201;
inline constexpr std::uint32_t wm_lbuttonup = 0x0202;
inline constexpr std::uint32_t wm_rbuttondown = 0x0204;
inline constexpr std::uint32_t wm_rbuttonup = 0x0205;

// The mouse hook's decision, free of Windows types. `injected` is LLMHF_INJECTED.
// A real press that finds the gate Idle arms the click timer.
HookVerdict mouse_filter(std::int32_t code, std::uint64_t message, bool injected);

// The click timer fired, on the hook thread: re-injects the held press if it is still
// held, and closes a shield that is due to close.
void click_timer_elapsed();

}  // namespace velmora
