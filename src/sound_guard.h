#pragma once

#include "guard_slot.h"

namespace velmora {

// Whether the system-sounds session was muted, and whether the beep was on, when the
// lock began.
extern GuardSlot<bool> saved_mute;
extern GuardSlot<bool> saved_beep;

void mute_system_sounds();
void restore_system_sounds();
void disable_beep();
void restore_beep();

}  // namespace velmora
