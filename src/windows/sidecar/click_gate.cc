#include "click_gate.h"

#include <system_error>
#include <thread>

#include "fatal_error.h"
#include "process_state.h"

namespace velmora {

std::atomic<std::uint32_t> click_gate{make_gate(0, GateState::Idle)};
std::atomic<std::uint8_t> pending_button{static_cast<std::uint8_t>(MouseButton::Left)};

namespace {

void start_click_injector(MouseButton button, std::uint32_t generation) {
  try {
    std::thread(click_injector, button, generation).detach();
  } catch (const std::system_error& error) {
    fatal_error("failed to spawn thread", error.what());
  }
}

HookVerdict on_press(MouseButton button, bool injected) {
  // Injected presses (ours, or another program's) pass without touching the gate.
  if (injected) return HookVerdict::Pass;
  std::uint32_t gate = click_gate.load();
  if (gate_state(gate) != GateState::Idle) return HookVerdict::Swallow;
  const std::uint32_t generation = (gate_generation(gate) + 1) & 0xFFFFFFU;
  if (!click_gate.compare_exchange_strong(gate, make_gate(generation, GateState::Pending))) {
    return HookVerdict::Swallow;
  }
  pending_button.store(static_cast<std::uint8_t>(button));
  start_click_injector(button, generation);
  return HookVerdict::Swallow;
}

HookVerdict on_release(MouseButton button) {
  if (pending_button.load() != static_cast<std::uint8_t>(button)) return HookVerdict::Swallow;
  // Only this thread changes the generation, so the exchange keeps the current one; the
  // decision rests on the state the exchange returns, not on an earlier read.
  const std::uint32_t generation = gate_generation(click_gate.load());
  const std::uint32_t prior = click_gate.exchange(make_gate(generation, GateState::Idle));
  return gate_state(prior) == GateState::Released ? HookVerdict::Pass : HookVerdict::Swallow;
}

}  // namespace

HookVerdict mouse_filter(std::int32_t code, std::uint64_t message, bool injected) {
  if (code < 0 || !capture_active.load() || diagnostic_mode.load()) return HookVerdict::Pass;
  switch (static_cast<std::uint32_t>(message)) {
    case wm_mousemove:
      return gate_state(click_gate.load()) == GateState::Released ? HookVerdict::Pass : HookVerdict::Swallow;
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

void click_injector(MouseButton button, std::uint32_t generation) {
  platform_sleep_ms(click_hold_ms);
  std::uint32_t expected = make_gate(generation, GateState::Pending);
  // Fails when the press was released meanwhile, or a newer press owns the gate.
  if (!click_gate.compare_exchange_strong(expected, make_gate(generation, GateState::Released))) {
    return;
  }
  platform_send_mouse_press(button);
}

}  // namespace velmora
