#pragma once

#include <atomic>
#include <cstdint>

#include "keyboard_filter.h"
#include "platform.h"

namespace velmora {

enum class GateState : std::uint8_t { Idle = 0, Pending = 1, Released = 2 };

// The click gate: the state in the low byte, and in the bits above it a generation
// number that each press moving the gate from Idle to Pending increments. An injector
// carries the generation of the press that started it and only releases that press, so
// a quick click followed by a new press within 500 ms cannot release the new press early.
extern std::atomic<std::uint32_t> click_gate;
// Set by each press that moves the gate to Pending; read and written only by the filter.
extern std::atomic<std::uint8_t> pending_button;

constexpr GateState gate_state(std::uint32_t gate) noexcept { return static_cast<GateState>(gate & 0xFFU); }
constexpr std::uint32_t gate_generation(std::uint32_t gate) noexcept { return gate >> 8; }
constexpr std::uint32_t make_gate(std::uint32_t generation, GateState state) noexcept {
  return (generation << 8) | static_cast<std::uint32_t>(state);
}

inline constexpr unsigned click_hold_ms = 500;

// Mouse messages the gate tells apart (the hook's wParam).
inline constexpr std::uint32_t wm_mousemove = 0x0200;
inline constexpr std::uint32_t wm_lbuttondown = 0x0201;
inline constexpr std::uint32_t wm_lbuttonup = 0x0202;
inline constexpr std::uint32_t wm_rbuttondown = 0x0204;
inline constexpr std::uint32_t wm_rbuttonup = 0x0205;

// The mouse hook's decision, free of Windows types. `injected` is LLMHF_INJECTED.
// Starts a click injector thread for a real press that finds the gate Idle.
HookVerdict mouse_filter(std::int32_t code, std::uint64_t message, bool injected);

// Body of a click injector: waits, then re-injects the press if it is still held.
void click_injector(MouseButton button, std::uint32_t generation);

}  // namespace velmora
