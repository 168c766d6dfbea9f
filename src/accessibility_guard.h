#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "guard_slot.h"
#include "platform.h"

namespace velmora {

// For each accessibility feature, in AccessibilityFeature order, its flags as they were
// when its shortcut was turned off; empty for a feature left alone.
using ShortcutFlags = std::array<std::optional<std::uint32_t>, accessibility_feature_count>;

extern GuardSlot<ShortcutFlags> saved_shortcuts;

// The system's accessibility layer acts on its shortcuts (Shift five times, holding right
// Shift or Num Lock, Left Alt+Left Shift+Num Lock or Print Screen) whatever a keyboard
// hook does with the keys, so their hot-key flags are cleared for the run. Only a feature
// that is off and whose shortcut is active is saved and changed: a user who relies on a
// feature keeps it whole, and an unreadable one is left alone. A feature still owed by a
// restore that failed keeps its original.
void save_accessibility_shortcuts();
void disable_accessibility_shortcuts();
void restore_accessibility_shortcuts(RestoreMode mode);

}  // namespace velmora
