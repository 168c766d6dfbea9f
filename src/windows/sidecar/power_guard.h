#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "guard_slot.h"
#include "platform.h"

namespace velmora {

// One setting's action indices, on AC and on battery, each present only when its read
// succeeded.
struct ActionIndices {
  std::optional<std::uint32_t> ac_index;
  std::optional<std::uint32_t> dc_index;
  bool operator==(const ActionIndices&) const = default;
};

// What the power scheme held when the lock began, value by value. Only a value that was
// read is set to do nothing and later written back; one that could not be read is never
// written, since its old value would be lost for good.
struct PowerSnapshot {
  ActionIndices power_button;
  ActionIndices sleep_button;
  ActionIndices lid_close;
  SchemeId scheme{};
};

extern GuardSlot<PowerSnapshot> saved_power;

// The cursor is taken at most once and given back at most once, by whichever thread comes
// first: the main thread at shutdown or the end of the session on the hook thread. Once
// given back it is never taken again, even by a confinement that comes late.
enum class CursorHold : std::uint8_t { Free, Confined, GivenBack };
struct CursorSlot {
  std::mutex lock;
  CursorHold hold = CursorHold::Free;  // guarded by lock
};
extern CursorSlot cursor_slot;

// Whether the main thread holds a wake request, so that it is ended at most once.
extern std::atomic<bool> awake_requested;

inline constexpr std::uint32_t es_continuous = 0x80000000U;
inline constexpr std::uint32_t es_system_required = 0x00000001U;
inline constexpr std::uint32_t es_display_required = 0x00000002U;

void keep_awake();
void end_keep_awake();
void neutralize_power_actions();
void restore_power_actions();

// The one-pixel rectangle at the centre of a display of the given size.
ClipRect centre_pixel(std::int32_t width, std::int32_t height);
// Pins the cursor only. Hiding it is the shield's work: the show count belongs to the
// thread that owns the window under the pointer, and the main thread owns none.
void confine_cursor();
void release_cursor();

}  // namespace velmora
