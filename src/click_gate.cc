#include "click_gate.h"

#include "process_state.h"

namespace velmora {
namespace {

void close_shield_if_due(ClickGate& gate, GateEffects& effects) {
  if (!gate.shield_close_due) return;
  gate.shield_close_due = false;
  gate.shield_open = false;
  effects.shield_pass_through = false;
}

HookVerdict on_press(ClickGate& gate, MouseButton button, MouseSource source, GateEffects& effects) {
  // Another program's press passes without touching the gate.
  if (source == MouseSource::Injected) return HookVerdict::Pass;
  // Our own press arrives after the timer let it go. Should the release have overtaken it
  // meanwhile (the gate is no longer Released), it would be a press without a release, and
  // the system would take the button for held: swallowed instead.
  if (source == MouseSource::Gate) {
    return gate.state == GateState::Released ? HookVerdict::Pass : HookVerdict::Swallow;
  }
  if (gate.state != GateState::Idle) return HookVerdict::Swallow;
  gate.state = GateState::Pending;
  gate.pending = button;
  // Re-arming replaces the timer of an earlier quick click, so the timer always belongs
  // to the press that holds the gate.
  effects.arm_timer_ms = click_hold_ms;
  return HookVerdict::Swallow;
}

HookVerdict on_release(ClickGate& gate, MouseButton button, GateEffects& effects) {
  if (gate.pending != button) return HookVerdict::Swallow;
  const GateState was = gate.state;
  gate.state = GateState::Idle;
  if (was != GateState::Released) return HookVerdict::Swallow;
  if (gate.shield_open) {
    // Not now: the release is routed only after this hook returns, and it must reach the
    // window beneath, not the shield.
    gate.shield_close_due = true;
    effects.arm_timer_ms = shield_close_ms;
  }
  return HookVerdict::Pass;
}

HookVerdict decide(ClickGate& gate, std::uint32_t message, MouseSource source, GateEffects& effects) {
  switch (message) {
    case wm_mousemove:
      return gate.state == GateState::Released ? HookVerdict::Pass : HookVerdict::Swallow;
    case wm_lbuttondown:
      return on_press(gate, MouseButton::Left, source, effects);
    case wm_rbuttondown:
      return on_press(gate, MouseButton::Right, source, effects);
    case wm_lbuttonup:
      return on_release(gate, MouseButton::Left, effects);
    case wm_rbuttonup:
      return on_release(gate, MouseButton::Right, effects);
    default:
      // Wheel, middle and X buttons, double clicks: nothing else gets through.
      return HookVerdict::Swallow;
  }
}

}  // namespace

MouseDecision mouse_filter(ClickGate& gate, std::int32_t code, std::uint64_t message, MouseSource source) {
  MouseDecision decision;
  if (code < 0 || !capture_active.load() || diagnostic_mode.load()) return decision;
  // Any further mouse event means the release before it has been routed.
  close_shield_if_due(gate, decision.effects);
  decision.verdict = decide(gate, static_cast<std::uint32_t>(message), source, decision.effects);
  return decision;
}

GateEffects click_timer_elapsed(ClickGate& gate) {
  GateEffects effects;
  close_shield_if_due(gate, effects);
  // Not Pending: the press was released meanwhile.
  if (gate.state != GateState::Pending) return effects;
  gate.state = GateState::Released;
  // The re-injected press, its movement and its release go to the window beneath.
  gate.shield_open = true;
  effects.shield_pass_through = true;
  effects.inject_press = gate.pending;
  return effects;
}

}  // namespace velmora
