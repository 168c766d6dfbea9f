#pragma once

// What the lock does to the precision touchpad's gestures, as plain values: which settings
// it turns off and what it writes back at the end. A cloth on the touchpad taps, drags,
// pans and zooms through the system's touchpad stack, past the low-level hooks, so the six
// gestures are switched off while the lock holds, where the system lets a program do so.

#include <optional>

#include "guard_slot.h"
#include "platform.h"

namespace velmora {

// What is worth saving of the settings found: nothing when they could not be read, when no
// precision touchpad is there, or when its six gestures are already off.
std::optional<TouchpadSettings> touchpad_to_save(const std::optional<TouchpadSettings>& found);

// The settings found with the six gestures off.
TouchpadSettings touchpad_locked(const TouchpadSettings& found);

// What to write at the end, from the settings read `now`: a gesture the lock changed
// (`saved` and `locked` differ) and that still holds the lock's value goes back to `saved`;
// any other keeps its value now, so a change the user made meanwhile stays.
TouchpadSettings touchpad_restored(const TouchpadSettings& now, const TouchpadSettings& saved,
                                   const TouchpadSettings& locked);

// The settings found when the lock began, only where it changed something.
extern GuardSlot<TouchpadSettings> saved_touchpad;

// The guard. Where the system does not offer the settings, nothing is saved or changed. A
// value still owed by a restore that failed keeps its original. The restore, live or of a
// leftover, re-reads the settings and writes back only the gestures that still hold the
// lock's value.
void save_touchpad();
void disable_touchpad();
void restore_touchpad(RestoreMode mode);

}  // namespace velmora
