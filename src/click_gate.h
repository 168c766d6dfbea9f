#pragma once

#include <cstdint>
#include <optional>

#include "keyboard_filter.h"

namespace velmora {

enum class GateState : std::uint8_t { Idle = 0, Pending = 1, Released = 2 };
enum class MouseButton : std::uint8_t { Left = 0, Right = 1 };

// The click gate: a state machine that the mouse hook and the click timer drive, both on
// the hook thread, one call at a time. It makes no system call itself: each step returns
// what the hook thread must then do.
struct ClickGate {
  GateState state = GateState::Idle;
  MouseButton pending = MouseButton::Left;  // set by each press that moves Idle to Pending
  // True while the shield lets pointer input through to the windows beneath it: from the
  // re-injected press until its release has been routed.
  bool shield_open = false;
  // The shield is to close again once the release that passed has surely been routed.
  bool shield_close_due = false;
};

// What the hook thread does after a step, in this order: switch the shield, inject the
// press, arm the timer.
struct GateEffects {
  std::optional<bool> shield_pass_through;  // true: let input through; false: take it again
  std::optional<MouseButton> inject_press;  // at the current cursor position
  std::optional<unsigned> arm_timer_ms;     // the one-shot click timer, replacing one armed
  bool operator==(const GateEffects&) const = default;
};

struct MouseDecision {
  HookVerdict verdict = HookVerdict::Pass;
  GateEffects effects;
};

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

// Where a mouse event comes from: the device, another program's SendInput
// (LLMHF_INJECTED), or the gate's own re-injected press, which carries gate_press_tag.
enum class MouseSource : std::uint8_t { Physical, Injected, Gate };

// The dwExtraInfo of the press the gate re-injects, so the hook tells it from others.
inline constexpr std::uint64_t gate_press_tag = 0x56454C4D4F524131ULL;

// The mouse hook's decision, free of Windows types. A real press that finds the gate Idle
// arms the click timer.
MouseDecision mouse_filter(ClickGate& gate, std::int32_t code, std::uint64_t message, MouseSource source);

// The click timer fired: re-inject the held press if it is still held, and close a shield
// that is due to close.
GateEffects click_timer_elapsed(ClickGate& gate);

}  // namespace velmora
