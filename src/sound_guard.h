#pragma once

#include "guard_slot.h"
#include "platform.h"

namespace velmora {

// The system-sounds session's device and whether it was muted, and whether the beep was on,
// when the lock began.
extern GuardSlot<SoundsMute> saved_mute;
extern GuardSlot<bool> saved_beep;

// Each reads what it will change into its slot first, and changes only what it could read.
// A slot that still owes an original (a restore that failed) is never saved over.
void save_system_sounds();
void mute_system_sounds();
void restore_system_sounds(RestoreMode mode);
void save_beep();
void disable_beep();
void restore_beep(RestoreMode mode);

}  // namespace velmora
