#include "sound_guard.h"

#include <optional>

#include "platform.h"
#include "restore_report.h"
#include "watcher_protocol.h"

namespace velmora {

GuardSlot<SoundsMute> saved_mute;
GuardSlot<bool> saved_beep;

namespace {

// The audio calls need a COM apartment on whichever thread makes them: the main thread at
// start and shutdown, the hook thread at the end of the session, the watcher. Left only if
// entered.
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

constexpr const char* sounds_name = "the system sounds' mute";
constexpr const char* beep_name = "the beep";

}  // namespace

void save_system_sounds() {
  if (saved_mute.peek()) return;
  const ComApartment apartment;
  const std::optional<SoundsMute> found = platform_get_system_sounds_mute();
  // An id too long to keep could not be found again: such a device is left alone.
  if (found && found->device.size() <= max_device_id_length) saved_mute.put(*found);
}

void mute_system_sounds() {
  const std::optional<SoundsMute> saved = saved_mute.peek();
  if (!saved) return;
  const ComApartment apartment;
  bool was_muted = false;
  (void)platform_set_system_sounds_mute(saved->device, true, &was_muted);
}

// Put back on the device it was taken from, wherever the default is now. A leftover that
// was muted already needs nothing; one that was not is unmuted, which leaves a session the
// user unmuted since as it is. A device that is gone stays owed until it is back.
void restore_system_sounds(RestoreMode mode) {
  const std::optional<SoundsMute> saved = saved_mute.take();
  if (!saved) return;
  if (mode == RestoreMode::Leftover && saved->muted) return;
  const ComApartment apartment;
  bool was_muted = false;
  const std::uint32_t error = platform_set_system_sounds_mute(saved->device, saved->muted, &was_muted);
  if (error == 0) return;
  saved_mute.put(*saved);
  report_not_put_back(sounds_name, platform_error_text(error));
}

// A beep setting that could not be read is left alone: saving a guess would make the
// restore overwrite the user's setting with it.
void save_beep() {
  if (saved_beep.peek()) return;
  if (const std::optional<bool> was_on = platform_get_beep()) saved_beep.put(*was_on);
}

void disable_beep() {
  if (saved_beep.peek()) (void)platform_set_beep(false);
}

void restore_beep(RestoreMode mode) {
  const std::optional<bool> was_on = saved_beep.take();
  if (!was_on) return;
  if (mode == RestoreMode::Leftover) {
    const std::optional<bool> now = platform_get_beep();
    if (!now) {
      saved_beep.put(*was_on);
      return report_not_put_back(beep_name, platform_last_error_text());
    }
    if (*now == *was_on) return;  // already as it was
    if (*now) return report_changed_since(beep_name);
  }
  const std::uint32_t error = platform_set_beep(*was_on);
  if (error == 0) return;
  saved_beep.put(*was_on);
  report_not_put_back(beep_name, platform_error_text(error));
}

}  // namespace velmora
