#pragma once

#include <atomic>
#include <cstdint>
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
  bool operator==(const PowerSnapshot&) const = default;
};

extern GuardSlot<PowerSnapshot> saved_power;

// Whether the main thread holds a wake request, so that it is ended at most once.
extern std::atomic<bool> awake_requested;

void keep_awake();
void end_keep_awake();
// Reads the active scheme's three actions into saved_power; changes nothing. A value still
// owed by a restore that failed keeps its original.
void save_power_actions();
// Sets each action that was saved to do nothing.
void neutralize_power_actions();
// Writes each saved value back (a leftover only where it still holds do-nothing) and makes
// the scheme active again; a value whose write fails stays in the slot, owed.
void restore_power_actions(RestoreMode mode);

}  // namespace velmora
