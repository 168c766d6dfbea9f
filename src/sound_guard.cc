#include "sound_guard.h"

#include <optional>

#include "platform.h"

namespace velmora {

GuardSlot<bool> saved_mute;
GuardSlot<bool> saved_beep;

void mute_system_sounds() {
  const std::optional<bool> was_muted = set_system_sounds_mute(true);
  if (!was_muted) return;
  const std::lock_guard<std::mutex> hold(saved_mute.lock);
  saved_mute.value = was_muted;
}

void restore_system_sounds() {
  const std::lock_guard<std::mutex> hold(saved_mute.lock);
  std::optional<bool> was_muted;
  was_muted.swap(saved_mute.value);
  // Looked up afresh: the default playback device may have changed during the lock.
  if (was_muted) (void)set_system_sounds_mute(*was_muted);
}

// A beep setting that could not be read is left alone: saving a guess would make the
// restore overwrite the user's setting with it.
void disable_beep() {
  const std::optional<bool> was_on = platform_get_beep();
  if (!was_on) return;
  platform_set_beep(false);
  const std::lock_guard<std::mutex> hold(saved_beep.lock);
  saved_beep.value = was_on;
}

void restore_beep() {
  const std::lock_guard<std::mutex> hold(saved_beep.lock);
  std::optional<bool> was_on;
  was_on.swap(saved_beep.value);
  if (was_on) platform_set_beep(*was_on);
}

}  // namespace velmora
