#pragma once

#include "guard_slot.h"

namespace velmora {

// Whether the system-sounds session was muted, and whether the beep was on, when the
// lock began.
extern GuardSlot<bool> saved_mute;
extern GuardSlot<bool> saved_beep;

// Each reads what it will change into its slot first, and changes only what it could read.
void save_system_sounds();
void mute_system_sounds();
void restore_system_sounds();
void save_beep();
void disable_beep();
void restore_beep();

}  // namespace velmora
