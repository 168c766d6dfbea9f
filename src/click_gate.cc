#include "click_gate.h"

#include "process_state.h"

namespace velmora {

std::atomic<GateState> click_gate{GateState::Idle};
std::atomic<MouseButton> pending_button{MouseButton::Left};
std::atomic<bool> shield_open{false};
std::atomic<bool> shield_close_due{false};

namespace {

void close_shield_if_due() {
  if (!shield_close_due.exchange(false)) return;
  shield_open.store(false);
  platform_shield_pass_through(false);
}

HookVerdict on_press(MouseButton button, bool injected) {
  // Injected presses (ours, or another program's) pass without touching the gate.
  if (injected) return HookVerdict::Pass;
  GateState expected = GateState::Idle;
  if (!click_gate.compare_exchange_strong(expected, GateState::Pending)) return HookVerdict::Swallow;
  pending_button.store(button);
  // Re-arming replaces the timer of an earlier quick click, so the timer always belongs
  // to the press that holds the gate.
  platform_start_click_timer(click_hold_ms);
  return HookVerdict::Swallow;
}

HookVerdict on_release(MouseButton button) {
  if (pending_button.load() != button) return HookVerdict::Swallow;
  // The decision rests on the state the exchange returns, not on an earlier read.
  if (click_gate.exchange(GateState::Idle) != GateState::Released) return HookVerdict::Swallow;
  if (shield_open.load()) {
    // Not now: the release is routed only after this hook returns, and it must reach the
    // window beneath, not the shield.
    shield_close_due.store(true);
    platform_start_click_timer(shield_close_ms);
  }
  return HookVerdict::Pass;
}

}  // namespace

HookVerdict mouse_filter(std::int32_t code, std::uint64_t message, bool injected) {
  if (code < 0 || !capture_active.load() || diagnostic_mode.load()) return HookVerdict::Pass;
  // Any further mouse event means the release before it has been routed.
  close_shield_if_due();
  switch (static_cast<std::uint32_t>(message)) {
    case wm_mousemove:
      return click_gate.load() == GateState::Released ? HookVerdict::Pass : HookVerdict::Swallow;
    case wm_lbuttondown:
      return on_press(MouseButton::Left, injected);
    case wm_rbuttondown:
      return on_press(MouseButton::Right, injected);
    case wm_lbuttonup:
      return on_release(MouseButton::Left);
    case wm_rbuttonup:
      return on_release(MouseButton::Right);
    default:
      // Wheel, middle and X buttons, double clicks: nothing else gets through.
      return HookVerdict::Swallow;
  }
}

void click_timer_elapsed() {
  close_shield_if_due();
  GateState expected = GateState::Pending;
  // Fails when the press was released meanwhile.
  if (!click_gate.compare_exchange_strong(expected, GateState::Released)) return;
  // The re-injected press, its movement and its release go to the window beneath.
  shield_open.store(true);
  platform_shield_pass_through(true);
  platform_send_mouse_press(pending_button.load());
}

}  // namespace velmora
