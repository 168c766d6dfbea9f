#include "sound_guard.h"

#include <optional>

#include "platform.h"

namespace velmora {

GuardSlot<bool> saved_mute;
GuardSlot<bool> saved_beep;

namespace {

// The audio calls need a COM apartment on whichever thread makes them: the main thread at
// start and shutdown, the hook thread at the end of the session. Left only if entered.
class ComApartment {
 public:
  ComApartment() : entered_(platform_com_enter()) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ComApartment(ComApartment&&) = delete;
  ComApartment& operator=(ComApartment&&) = delete;
  ~ComApartment() {
    if (entered_) platform_com_leave();
  }

 private:
  bool entered_;
};

}  // namespace

void save_system_sounds() {
  const ComApartment apartment;
  if (const std::optional<bool> was_muted = platform_get_system_sounds_mute()) saved_mute.put(*was_muted);
}

void mute_system_sounds() {
  if (!saved_mute.peek()) return;
  const ComApartment apartment;
  (void)platform_set_system_sounds_mute(true);
}

void restore_system_sounds() {
  const std::optional<bool> was_muted = saved_mute.take();
  if (!was_muted) return;
  const ComApartment apartment;
  // Looked up afresh: the default playback device may have changed during the lock.
  (void)platform_set_system_sounds_mute(*was_muted);
}

// A beep setting that could not be read is left alone: saving a guess would make the
// restore overwrite the user's setting with it.
void save_beep() {
  if (const std::optional<bool> was_on = platform_get_beep()) saved_beep.put(*was_on);
}

void disable_beep() {
  if (saved_beep.peek()) platform_set_beep(false);
}

void restore_beep() {
  if (const std::optional<bool> was_on = saved_beep.take()) platform_set_beep(*was_on);
}

}  // namespace velmora
